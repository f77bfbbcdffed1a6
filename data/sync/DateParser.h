#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace Tickerly::Data {

class DateFormatter;

// Reads the date text of a feed item ("pubDate", "dc:date", "published") as a point in time.
//
// Twelve date patterns (Unicode date-pattern syntax) are tried in each of three locales,
// "en_US_POSIX", "en_GB" and the user's current one: the patterns are the inner loop, the locales
// the outer, and the first reading wins. Every attempt reads in GMT, so a text that names no zone
// is GMT; a zone in the text decides otherwise. An attempt reads a date only when it takes the
// whole text, strictly (no lenient guessing). A two-digit year of an RFC 822 date is read as
// RFC 2822 says (00-49 in this century, 50-99 in the last).
//
// One object is used by one thread at a time; any number of texts can be read one after another.
class TICKERLYDATAMAC_EXPORT DateParser {
public:
    DateParser() = default;

    // The first reading of `text`, in UTC; nothing when no pattern reads it in any locale.
    // Leaves both indexes at 0. The common RFC 822 and ISO 8601 shapes are read directly, to the
    // same instant the patterns give; everything else goes through the patterns.
    std::optional<QDateTime> parseDate(const QString& text);

    // Only the patterns, as parseDate reads what the direct reading does not take.
    std::optional<QDateTime> parseDateWithPatterns(const QString& text);
    // Only the direct reading of the common shapes: nothing for any other text, whether or not
    // the patterns would read it.
    static std::optional<QDateTime> readCommonForm(const QString& text);
    // The same over Latin-1 text, as a feed's ASCII date bytes are, without making a QString.
    static std::optional<QDateTime> readCommonForm(QLatin1StringView text);

    // Starts the attempts again from the first pattern in the first locale.
    void reset();

    int localeIndex() const { return m_localeIndex; }
    int formatIndex() const { return m_formatIndex; }

private:
    // The formatter of the next attempt, or nothing when all 36 have been made since the last
    // reset. Owned by the calling thread's cache.
    const DateFormatter* nextDateFormatter();

    int m_localeIndex = 0;
    int m_formatIndex = 0;
};

} // namespace Tickerly::Data
