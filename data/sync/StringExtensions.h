#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include "platform/foundation/base/Url.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace Tickerly::Data {

// Text operations for pulling links, images and values out of web pages and feed markup,
// cleaning feed text and trimming strings. Free functions without state, safe on any thread.
//
// The operations on page and feed text count and cut in UTF-16 code units, like QString; the
// trimming operations further down count in characters (extended grapheme clusters).
// Patterns are ICU regular expressions, fixed texts of the program; one that does not compile
// stops the process.

// The text without `cutBeginning` units at its start and `cutEnd` units at its end; counts that
// reach past the text leave nothing.
TICKERLYDATAMAC_EXPORT QString cut(const QString& text, qsizetype cutBeginning, qsizetype cutEnd);

// The first match of `pattern` in the text, without `cutBeginning` units at its start and
// `cutEnd` at its end; nothing when the pattern does not match.
TICKERLYDATAMAC_EXPORT std::optional<QString> find(const QString& text, const QString& pattern,
    Qt::CaseSensitivity cs = Qt::CaseInsensitive, qsizetype cutBeginning = 0, qsizetype cutEnd = 0);

// Every match of `pattern`, left to right and not overlapping, each cut as by find.
TICKERLYDATAMAC_EXPORT QStringList findAll(const QString& text, const QString& pattern,
    Qt::CaseSensitivity cs = Qt::CaseInsensitive, qsizetype cutBeginning = 0, qsizetype cutEnd = 0);

// The text of page or feed bytes: UTF-8 when they are valid UTF-8, else each byte read as the
// character of its value (Latin-1), so 8-bit pages stay readable. Nothing only without bytes.
TICKERLYDATAMAC_EXPORT std::optional<QString> fromData(const std::optional<QByteArray>& data);

// Where the first "http://" at or after `from` begins, its letters in any case; -1 for none. In
// UTF-16 text or UTF-8 bytes alike: no character outside ASCII folds onto one of its letters, so
// ASCII folding finds what a case-insensitive search finds.
TICKERLYDATAMAC_EXPORT qsizetype indexOfHttpScheme(QStringView text, qsizetype from = 0);
TICKERLYDATAMAC_EXPORT qsizetype indexOfHttpScheme(QByteArrayView bytes, qsizetype from = 0);

// The text with every comment and every script and style element (an unclosed one to the end)
// replaced by a space: an address a script builds or a comment keeps is no picture of the text.
TICKERLYDATAMAC_EXPORT QString markupOutsideScripts(const QString& page);

// The first "http://" image address (.jpg, .jpeg, .png or .gif, with any query) in the text,
// up to the next double quote; nothing when there is none or it is no valid address.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> getImageLink(const QString& text);

// The text with the common entities replaced ("&quot;", "&amp;", "&apos;", "&lt;", "&gt;",
// "&nbsp;" and their decimal forms; both no-break spaces become a plain space) and every other
// named or decimal entity deleted.
TICKERLYDATAMAC_EXPORT QString fixHTMLEncodings(const QString& text);

// The link of a tag: a quoted absolute or "//" link anywhere in the text, else (with a base) a
// quoted root path on the base's host, else the value of `attributeName`, resolved against the
// base as a browser resolves a link when there is one.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> findQuotedLink(const QString& text,
    const std::optional<Foundation::Url>& baseURL = std::nullopt,
    const QString& attributeName = QStringLiteral("href"));

// The text with every tag-like run removed: "<", at least one character that is not ">", and
// the next ">". Runs that removal brings together are not joined into new tags.
TICKERLYDATAMAC_EXPORT QString removingTags(const QString& text);
// What `start`, the first part of a longer text, decides of removingTags of that text: the same
// up to a '<' whose '>' may lie beyond `start`.
TICKERLYDATAMAC_EXPORT QString removingTagsFromStart(QStringView start);

// Trimming in characters. Indexes past either end count as that end.
TICKERLYDATAMAC_EXPORT QString stringWithSubstringFromIndex(const QString& text, qsizetype index);
TICKERLYDATAMAC_EXPORT QString stringWithSubstringToIndex(const QString& text, qsizetype index);
TICKERLYDATAMAC_EXPORT QString stringByRemovingPrefix(const QString& text, const QString& prefix);
TICKERLYDATAMAC_EXPORT QString stringByRemovingSuffix(const QString& text, const QString& suffix);
TICKERLYDATAMAC_EXPORT QString stringByReplacingPrefix(
    const QString& text, const QString& prefix, const QString& replacement);

// The same, changing `text` in place.
TICKERLYDATAMAC_EXPORT void substringFromIndex(QString& text, qsizetype index);
TICKERLYDATAMAC_EXPORT void substringToIndex(QString& text, qsizetype index);
TICKERLYDATAMAC_EXPORT void removePrefix(QString& text, const QString& prefix);
TICKERLYDATAMAC_EXPORT void removeSuffix(QString& text, const QString& suffix);
TICKERLYDATAMAC_EXPORT void replacePrefix(
    QString& text, const QString& prefix, const QString& replacement);

// Number of characters (extended grapheme clusters) in the text.
TICKERLYDATAMAC_EXPORT qsizetype characterCount(const QString& text);

} // namespace Tickerly::Data
