#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>

#include <optional>

namespace Tickerly::Foundation {

// Where an application group keeps what its programs share:
// ${XDG_DATA_HOME:-~/.local/share}/group-containers/<identifier>/.
//
// The environment is read on every call (tests point XDG_DATA_HOME at a temporary directory).
// path() creates nothing. What a container holds (reading history, stories, the user's
// identifier) is its owner's alone: its folders are made with makePrivateFolder. Any thread.
namespace GroupContainer {

// The container directory of `identifier`, or nothing when there is no usable data home, the
// identifier could name another directory ("", ".", "..", or holding '/'), or the path exists
// and is not a directory.
TICKERLYFOUNDATION_EXPORT std::optional<QString> path(const QString& identifier);

// Makes `folder` (and its missing parents, as usual) with mode 0700, or clears the group's and
// others' bits of an existing one. False when it is no folder and cannot be made.
TICKERLYFOUNDATION_EXPORT bool makePrivateFolder(const QString& folder);
// Clears the group's and others' bits of the folders directly inside `folder`, which an earlier
// version may have left open to others.
TICKERLYFOUNDATION_EXPORT void makeFoldersInsidePrivate(const QString& folder);
// Clears the group's and others' bits of `file`, when it exists.
TICKERLYFOUNDATION_EXPORT void makePrivateFile(const QString& file);

} // namespace GroupContainer

} // namespace Tickerly::Foundation
