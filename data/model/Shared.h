#pragma once

#include "platform/foundation/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>
#include <optional>

// The application group shared by the application and the widget: the name of both the
// settings suite and the container directory.
inline constexpr char16_t applicationGroupIdentifier[] = u"K4WQ7ZP2MV.shared";

// A new settings object over the group's suite on every call. Never null; any thread.
TICKERLYDATAMAC_EXPORT std::shared_ptr<UserDefaults> sharedDefaults();

// The group's container directory, or nothing when the process has no usable data home.
// Creates nothing; any thread.
TICKERLYDATAMAC_EXPORT std::optional<QString> getDataContainer();

// The image as PNG bytes; empty for an image without pixels.
TICKERLYDATAMAC_EXPORT QByteArray data(const QImage& image);

// The libraries' diagnostic hook: takes any value and writes nothing, in every build.
template <typename T>
void debugprint(T&&)
{
}
