#include "storylist/Preferences.h"

#include "data/model/KeptKind.h"
#include "data/model/KeptValues.h"
#include "data/model/Shared.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QMetaType>

#include <cmath>
#include <limits>
#include <optional>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

namespace {

// A stored number as an integer; nothing for text and every other kind of value.
std::optional<qint64> storedNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        if (d >= double(std::numeric_limits<qint64>::max()))
            return std::numeric_limits<qint64>::max();
        if (d <= double(std::numeric_limits<qint64>::min()))
            return std::numeric_limits<qint64>::min();
        return qint64(d);
    }
    default:
        return std::nullopt;
    }
}

// The settings this process wrote while another program held the store, until they are written
// or refused: read as set here, so that every view of this program agrees with the Preferences
// window. By suite and key.
Data::KeptValues<QVariant>& pendingSettings()
{
    // Never destroyed: a kept setting's write may still land on a worker while the process ends.
    static auto& pending = *new Data::KeptValues<QVariant>;
    return pending;
}

// This process's views read the settings again: one was kept, or a kept one refused.
void tellThisProcess()
{
    MainQueue::dispatchAsync([] {
        NotificationCenter::defaultCenter().post(QString::fromUtf16(keptSettingNotification));
    });
}

} // namespace

Preferences::Preferences(std::shared_ptr<UserDefaults> defaults)
    : userDefaults(defaults ? std::move(defaults) : sharedDefaults())
{
}

QVariant Preferences::value(const QString& key) const
{
    if (auto pending = pendingSettings().newest(userDefaults->suiteName(), key))
        return std::move(*pending);
    return userDefaults->value(key);
}

bool Preferences::boolean(const QString& key, bool defaultValue) const
{
    const QVariant value = this->value(key);
    // A fraction such as 0.5 is a non-zero number, so true.
    if (value.typeId() == QMetaType::Double)
        return std::isnan(value.toDouble()) ? defaultValue : value.toDouble() != 0;
    if (const std::optional<qint64> number = storedNumber(value))
        return *number != 0;
    return defaultValue;
}

namespace {

void announceSettings()
{
    DistributedNotificationCenter::defaultCenter().postNotificationName(
        QString::fromUtf16(dataUpdatedNotification),
        QString::fromUtf16(dataUpdatedNotificationObject));
}

// One of the six settings: the only keys a setting's write changes.
bool isSetting(const QString& key)
{
    for (const char16_t* setting : { readabilityOnOpenKey, hideOnOpenKey, numberOfStoriesKey,
             widgetExpandedKey, widgetImagesKey, widgetButtonsKey }) {
        if (key == QString::fromUtf16(setting))
            return true;
    }
    return false;
}

// A setting kept while another program held the store, when this one ended, is written at the
// next opening from the journal, and announced then. The journal holds the value as it is.
const Data::KeptKind<QVariant, UserDefaults::Updater> writeKind {
    QStringLiteral("preferences.write"), isSetting, [](const QVariant& value) { return value; },
    [](const QVariant& value) { return std::optional(value); },
    [](const QString&, const QVariant& value) -> UserDefaults::Updater {
        return [value](const std::optional<QVariant>&) { return std::optional(value); };
    }
};

const bool replayerRegistered
    = writeKind.registerReplayer([](const QString&, const QVariant&, UserDefaults::Updater update) {
          return UserDefaults::Replayed { std::move(update), {}, {}, [](bool written) {
                                             if (written)
                                                 MainQueue::dispatchAsync(announceSettings);
                                         } };
      });

} // namespace

UserDefaults::Outcome Preferences::write(const QString& key, const QVariant& value)
{
    // The other program reads the setting when it hears of it: only once it is written, also
    // when that is later, while another program holds the store. This one's views read it as
    // set from the moment it is kept. Noted before: it may be written, on another thread, before
    // updateOrKeep returns.
    Q_ASSERT(writeKind.changes(key));
    const QString suite = userDefaults->suiteName();
    const quint64 id = pendingSettings().note(suite, key, value);
    const auto outcome = userDefaults->updateOrKeep(
        key, writeKind.change(suite, value),
        [suite, id](bool written) {
            pendingSettings().end(suite, id);
            if (written)
                MainQueue::dispatchAsync(announceSettings);
            else
                tellThisProcess();
        },
        writeKind.replay(value));
    userDefaults->synchronize();
    if (UserDefaults::isKept(outcome)) {
        tellThisProcess();
        return outcome;
    }
    pendingSettings().end(suite, id);
    if (outcome == UserDefaults::Outcome::Done)
        announceSettings();
    return outcome;
}

bool Preferences::readabilityOnOpen() const
{
    return boolean(QString::fromUtf16(readabilityOnOpenKey), false);
}

UserDefaults::Outcome Preferences::setReadabilityOnOpen(bool value)
{
    return write(QString::fromUtf16(readabilityOnOpenKey), value);
}

bool Preferences::hideOnOpen() const { return boolean(QString::fromUtf16(hideOnOpenKey), false); }

UserDefaults::Outcome Preferences::setHideOnOpen(bool value)
{
    return write(QString::fromUtf16(hideOnOpenKey), value);
}

qint64 Preferences::numberOfStories() const
{
    const std::optional<qint64> number
        = storedNumber(value(QString::fromUtf16(numberOfStoriesKey)));
    return number && *number != 0 ? *number : defaultNumberOfStories;
}

UserDefaults::Outcome Preferences::setNumberOfStories(qint64 value)
{
    return write(
        QString::fromUtf16(numberOfStoriesKey), value == 0 ? defaultNumberOfStories : value);
}

bool Preferences::widgetExpanded() const
{
    return boolean(QString::fromUtf16(widgetExpandedKey), false);
}

UserDefaults::Outcome Preferences::setWidgetExpanded(bool value)
{
    return write(QString::fromUtf16(widgetExpandedKey), value);
}

bool Preferences::widgetImages() const
{
    return boolean(QString::fromUtf16(widgetImagesKey), true);
}

UserDefaults::Outcome Preferences::setWidgetImages(bool value)
{
    return write(QString::fromUtf16(widgetImagesKey), value);
}

bool Preferences::widgetButtons() const
{
    return boolean(QString::fromUtf16(widgetButtonsKey), true);
}

UserDefaults::Outcome Preferences::setWidgetButtons(bool value)
{
    return write(QString::fromUtf16(widgetButtonsKey), value);
}

} // namespace Tickerly::StoryList
