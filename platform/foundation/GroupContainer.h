#pragma once

#include "tickerlyfoundation_export.h"

#include <QString>

#include <optional>

// Where an application group keeps what its programs share:
// ${XDG_DATA_HOME:-~/.local/share}/group-containers/<identifier>/.
//
// The environment is read on every call (tests point XDG_DATA_HOME at a temporary directory).
// Nothing is created here. Any thread.
namespace GroupContainer {

// The container directory of `identifier`, or nothing when there is no usable data home, the
// identifier could name another directory ("", ".", "..", or holding '/'), or the path exists
// and is not a directory.
TICKERLYFOUNDATION_EXPORT std::optional<QString> path(const QString& identifier);

} // namespace GroupContainer
