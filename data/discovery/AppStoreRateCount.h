#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

namespace Tickerly::Data {

// Asks the app-store lookup service (IconFetcher's configured lookup host, over https) how many
// ratings the app `forAppId` has received for its current version, and returns at once. The
// completion gets the count on the main queue, at most once; it is never called when anything
// goes wrong, and an id that makes no valid address sends no request at all.
TICKERLYDATAMAC_EXPORT void loadAppStoreRateCount(
    const QString& forAppId, std::function<void(qint64)> completion);

// The rating count of the first result of a lookup answer: its
// "userRatingCountForCurrentVersion", when that is an integral JSON number; else nothing.
TICKERLYDATAMAC_EXPORT std::optional<qint64> appStoreRateCount(QByteArrayView answer);

} // namespace Tickerly::Data
