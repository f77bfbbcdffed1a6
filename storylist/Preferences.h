#pragma once

#include "storylist/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QString>

#include <memory>

namespace Tickerly::StoryList {

// The keys of the six story-list settings in the shared suite.
inline constexpr char16_t readabilityOnOpenKey[] = u"velmora.Tickerly.ReadabilityOnOpen";
inline constexpr char16_t hideOnOpenKey[] = u"velmora.Tickerly.HideOnOpen";
inline constexpr char16_t numberOfStoriesKey[] = u"velmora.Tickerly.NumberOfStories";
inline constexpr char16_t widgetExpandedKey[] = u"velmora.Tickerly.widgetExpanded";
inline constexpr char16_t widgetImagesKey[] = u"velmora.Tickerly.widgetImagesKey";
inline constexpr char16_t widgetButtonsKey[] = u"velmora.Tickerly.widgetButtonsKey";

// Sent to every process after any setting is written; it does not say which.
inline constexpr char16_t dataUpdatedNotification[] = u"TickerlyDataUpdated";
inline constexpr char16_t dataUpdatedNotificationObject[] = u"Tickerly";
// Posted in this process only (NotificationCenter, main queue) when a setting is kept while
// another program holds the store, and when such a setting is refused in the end.
inline constexpr char16_t keptSettingNotification[]
    = u"velmora.Tickerly.Preferences.keptSettingNotification";

// The six settings of the story list, shared by the application and the widget.
//
// Keeps nothing of its own but the writes still kept: every read asks the suite, every write
// stores, flushes and then announces the change to all processes (also when the value did not
// change), and says how the store took it. A write kept while another program holds the store
// reads as set in this process at once, is told to this process's views at once
// (keptSettingNotification) and announced to all when it is written; a refused one is not
// announced. Light; make one where it is needed. Main thread.
class Preferences {
public:
    explicit Preferences(std::shared_ptr<Foundation::UserDefaults> userDefaults = nullptr);

    const std::shared_ptr<Foundation::UserDefaults> userDefaults;
    const qint64 defaultNumberOfStories = 5;

    bool readabilityOnOpen() const;
    Foundation::UserDefaults::Outcome setReadabilityOnOpen(bool value);
    bool hideOnOpen() const;
    Foundation::UserDefaults::Outcome setHideOnOpen(bool value);
    // Never 0: nothing stored, or 0 stored, reads as `defaultNumberOfStories`.
    qint64 numberOfStories() const;
    // 0 is stored as `defaultNumberOfStories`.
    Foundation::UserDefaults::Outcome setNumberOfStories(qint64 value);
    bool widgetExpanded() const;
    Foundation::UserDefaults::Outcome setWidgetExpanded(bool value);
    bool widgetImages() const;
    Foundation::UserDefaults::Outcome setWidgetImages(bool value);
    bool widgetButtons() const;
    Foundation::UserDefaults::Outcome setWidgetButtons(bool value);

private:
    // This process's kept write of `key`, else the stored value.
    QVariant value(const QString& key) const;
    bool boolean(const QString& key, bool defaultValue) const;
    Foundation::UserDefaults::Outcome write(const QString& key, const QVariant& value);
};

} // namespace Tickerly::StoryList
