#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QString>

#include <functional>
#include <memory>

namespace Tickerly::Foundation {
class UrlSession;
class UserDefaults;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

class Source;

// Turns what the user typed into a stored source with an icon: feed discovery, then (on the
// main queue) the source is added to the source list and the caller told, then the icon search
// starts. Only the discovery's outcome is reported; the rest shows up through the stores'
// notifications.
//
// A light value holding its session and settings suite; several adds may run at once, each
// carried by its own closures, which keep what they need alive. Any thread.
class TICKERLYDATAMAC_EXPORT SourceAdder {
public:
    // `session` null: a new session with the default configuration; `userDefaults` null: the
    // shared suite.
    explicit SourceAdder(std::shared_ptr<Foundation::UrlSession> session = nullptr,
        std::shared_ptr<Foundation::UserDefaults> userDefaults = nullptr);

    enum class Outcome {
        Added, // in the list, or kept to be stored later; its icon search starts right after
        // As Added, but kept in memory only: lost should the program end before the store frees
        HeldInMemory,
        NotFound, // no source was found; nothing is stored
        NotStored, // a source was found and the store refused it
    };

    // Discovers the source for `link` and returns at once. `completion` runs once on the main
    // queue: true when a source was found (it is then in the list, and its icon search starts
    // right after, or it is kept to be stored later, in memory only at worst), false when none
    // was or the store refused it (nothing is stored).
    void addSource(const QString& link, std::function<void(bool)> completion = {}) const;
    // The same, telling why nothing was added.
    void addSource(const QString& link, std::function<void(Outcome)> completion) const;

    // Searches the source's icon and stores the outcome: the icon file, or the source marked as
    // having none. Returns at once; holds the source and the suite, not the adder.
    void fetchIcon(const std::shared_ptr<Source>& source) const;

    const std::shared_ptr<Foundation::UrlSession>& session() const { return m_session; }
    const std::shared_ptr<Foundation::UserDefaults>& userDefaults() const { return m_userDefaults; }

private:
    std::shared_ptr<Foundation::UrlSession> m_session;
    std::shared_ptr<Foundation::UserDefaults> m_userDefaults;
};

} // namespace Tickerly::Data
