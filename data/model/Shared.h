#pragma once

#include "data/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QDebug>
#include <QImage>
#include <QLoggingCategory>
#include <QString>

#include <memory>
#include <optional>
#include <type_traits>

namespace Tickerly::Data {

// The application group shared by the application and the widget: the name of both the
// settings suite and the container directory.
inline constexpr char16_t applicationGroupIdentifier[] = u"K4WQ7ZP2MV.shared";

// A new settings object over the group's suite on every call. Never null; any thread.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UserDefaults> sharedDefaults();

// The group's container directory, or nothing when the process has no usable data home.
// Creates nothing; any thread.
TICKERLYDATAMAC_EXPORT std::optional<QString> getDataContainer();

// The image as PNG bytes; empty for an image without pixels.
TICKERLYDATAMAC_EXPORT QByteArray data(const QImage& image);

// The category debugprint writes to, "tickerly.debug": off unless enabled, for example with
// QT_LOGGING_RULES="tickerly.debug=true".
TICKERLYDATAMAC_EXPORT const QLoggingCategory& lcDebugPrint();

// The libraries' diagnostic print, so a developer can follow a refresh or a discovery step by
// step: in debug builds it writes a value QDebug can write (other values are passed over) to
// lcDebugPrint; release builds write nothing.
template <typename T> void debugprint([[maybe_unused]] T&& value)
{
#ifndef NDEBUG
    if constexpr (requires(QDebug debug, const std::remove_reference_t<T>& v) { debug << v; })
        qCDebug(lcDebugPrint).noquote() << value;
#endif
}

} // namespace Tickerly::Data
