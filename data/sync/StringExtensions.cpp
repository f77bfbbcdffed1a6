#include "data/sync/StringExtensions.h"

#include "data/sync/Regex.h"
#include "platform/foundation/base/Utf8.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <string_view>
#include <type_traits>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

// The part of `text` from `start` to `end`, both clamped into the text.
QString clampedMid(const QString& text, qsizetype start, qsizetype end)
{
    const qsizetype n = text.size();
    start = std::clamp<qsizetype>(start, 0, n);
    end = std::clamp<qsizetype>(end, start, n);
    return text.mid(start, end - start);
}

// Cuts are clamped to the text's length first so that no sum below can overflow.
qsizetype clampedCount(qsizetype count, qsizetype n) { return std::clamp<qsizetype>(count, -n, n); }

QString cutMatch(
    const QString& text, const Regex::Match& m, qsizetype cutBeginning, qsizetype cutEnd)
{
    const qsizetype n = text.size();
    return clampedMid(
        text, m.start + clampedCount(cutBeginning, n), m.end - clampedCount(cutEnd, n));
}

// The scheme for a "//" link: "https" when the page mentions "https" anywhere.
QString schemeFor(const QString& text)
{
    return text.contains(u"https"_s) ? u"https"_s : u"http"_s;
}

// UTF-16 offset of the character boundary after `index` characters, clamped to the text.
qsizetype offsetOfCharacter(const QString& text, qsizetype index)
{
    if (index <= 0)
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype offset = 0;
    for (qsizetype i = 0; i < index; ++i) {
        offset = finder.toNextBoundary();
        if (offset < 0)
            return text.size();
    }
    return offset;
}

bool sameCharacters(const QString& a, const QString& b)
{
    return a == b
        || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

// Prefix and suffix tests compare whole characters by canonical equivalence: "e" is no prefix
// of "e" + combining acute, and a precomposed "é" is a prefix of a decomposed one.
bool hasCharacterPrefix(const QString& text, const QString& prefix)
{
    const qsizetype count = characterCount(prefix);
    if (count > characterCount(text))
        return false;
    return sameCharacters(text.left(offsetOfCharacter(text, count)), prefix);
}

bool hasCharacterSuffix(const QString& text, const QString& suffix)
{
    const qsizetype count = characterCount(suffix);
    const qsizetype total = characterCount(text);
    if (count > total)
        return false;
    return sameCharacters(text.mid(offsetOfCharacter(text, total - count)), suffix);
}

// The letters that ICU's case-insensitive [a-z] matches: both cases, the long s and the Kelvin
// sign.
bool isEntityLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == 0x017F || c == 0x212A;
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

} // namespace

QString cut(const QString& text, qsizetype cutBeginning, qsizetype cutEnd)
{
    const qsizetype n = text.size();
    return clampedMid(text, clampedCount(cutBeginning, n), n - clampedCount(cutEnd, n));
}

std::optional<QString> find(const QString& text, const QString& pattern, Qt::CaseSensitivity cs,
    qsizetype cutBeginning, qsizetype cutEnd)
{
    const Regex::Match m = Regex(pattern, cs).firstMatch(text);
    if (m.start < 0)
        return std::nullopt;
    return cutMatch(text, m, cutBeginning, cutEnd);
}

QStringList findAll(const QString& text, const QString& pattern, Qt::CaseSensitivity cs,
    qsizetype cutBeginning, qsizetype cutEnd)
{
    QStringList found;
    for (const Regex::Match& m : Regex(pattern, cs).allMatches(text))
        found.append(cutMatch(text, m, cutBeginning, cutEnd));
    return found;
}

std::optional<QString> fromData(const std::optional<QByteArray>& data)
{
    if (!data)
        return std::nullopt;
    if (auto text = utf8Decoded(*data))
        return text;
    return QString::fromLatin1(*data);
}

namespace {

bool equalsIgnoringAsciiCase(QStringView text, std::u16string_view lower)
{
    for (size_t i = 0; i < lower.size(); ++i) {
        const char16_t c = text[qsizetype(i)].unicode();
        if (c >= 0x80 || (c | 0x20) != lower[i])
            return false;
    }
    return true;
}

// Where "http://[^"]+\.(jpg|jpeg|png|gif)(\?[^"]*)?", matched without regard to case, ends when
// it starts at `from` and stays before `runEnd` (a run holds no double quote): the greedy run
// gives back units from the right until an extension follows a dot.
qsizetype imageLinkEnd(QStringView text, qsizetype from, qsizetype runEnd)
{
    static constexpr std::u16string_view extensions[] = { u"jpg", u"jpeg", u"png", u"gif" };
    // The run after "http://" takes at least one unit.
    for (qsizetype dot = runEnd - 4; dot >= from + 8; --dot) {
        if (text[dot] != u'.')
            continue;
        for (const std::u16string_view extension : extensions) {
            qsizetype end = dot + 1 + qsizetype(extension.size());
            if (end > runEnd || !equalsIgnoringAsciiCase(text.mid(dot + 1), extension))
                continue;
            if (end < runEnd && text[end] == u'?')
                end = runEnd;
            return end;
        }
    }
    return -1;
}

// indexOfHttpScheme over code units of either width; the rarer ':' is looked for first.
template <typename View> qsizetype indexOfHttpSchemeIn(View text, qsizetype from)
{
    constexpr bool wide = std::is_same_v<View, QStringView>;
    const auto unit = [text](qsizetype at) {
        if constexpr (wide)
            return text[at].unicode();
        else
            return char16_t(static_cast<unsigned char>(text[at]));
    };
    const auto colonFrom = [text](qsizetype at) {
        if constexpr (wide)
            return text.indexOf(u':', at);
        else
            return text.indexOf(':', at);
    };
    const auto is = [&unit](qsizetype at, char16_t lower) { return (unit(at) | 0x20) == lower; };
    for (qsizetype colon = colonFrom(from + 4); colon >= 0 && colon + 2 < text.size();
         colon = colonFrom(colon + 1)) {
        if (unit(colon + 1) == u'/' && unit(colon + 2) == u'/' && is(colon - 4, u'h')
            && is(colon - 3, u't') && is(colon - 2, u't') && is(colon - 1, u'p'))
            return colon - 4;
    }
    return -1;
}

} // namespace

qsizetype indexOfHttpScheme(QStringView text, qsizetype from)
{
    return indexOfHttpSchemeIn(text, from);
}

qsizetype indexOfHttpScheme(QByteArrayView bytes, qsizetype from)
{
    return indexOfHttpSchemeIn(bytes, from);
}

namespace {

// "script" or "style" when `tag` opens one of them: what they hold is no markup.
std::optional<QStringView> rawTextElement(QStringView tag)
{
    for (const QStringView name : { u"script", u"style" }) {
        if (tag.size() <= name.size()
            || tag.sliced(1, name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (tag.size() == name.size() + 1
            || QStringView(u" \t\n\r\f/>").contains(tag[name.size() + 1]))
            return name;
    }
    return std::nullopt;
}

} // namespace

QString markupOutsideScripts(const QString& page)
{
    const QStringView text(page);
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(u'<', i);
        if (open < 0) {
            out.append(text.sliced(i));
            break;
        }
        out.append(text.sliced(i, open - i));
        const QStringView tag = text.sliced(open);
        qsizetype end = -1;
        if (tag.startsWith(u"<!--")) {
            end = text.indexOf(u"-->", open + 2);
            end = end < 0 ? text.size() : end + 3;
        } else if (const auto element = rawTextElement(tag)) {
            const qsizetype close
                = text.indexOf(u"</"_s + element->toString(), open + 1, Qt::CaseInsensitive);
            end = close < 0 ? -1 : text.indexOf(u'>', close);
            end = end < 0 ? text.size() : end + 1;
        }
        if (end < 0) {
            out.append(u'<');
            i = open + 1;
        } else {
            out.append(u' ');
            i = end;
        }
    }
    return out;
}

std::optional<Url> getImageLink(const QString& text)
{
    // The image pattern cannot cross a double quote, and within one quote-free run a match from
    // a later "http://" would also be a match from the first one. So only the first "http://"
    // of each run needs trying, which keeps the search linear on hostile pages.
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype candidate = indexOfHttpScheme(QStringView(text), from);
        if (candidate < 0)
            return std::nullopt;
        qsizetype runEnd = text.indexOf(u'"', candidate);
        if (runEnd < 0)
            runEnd = text.size();
        const qsizetype end = imageLinkEnd(text, candidate, runEnd);
        if (end >= 0)
            return Url::fromString(text.mid(candidate, end - candidate));
        from = runEnd + 1;
    }
    return std::nullopt;
}

QString fixHTMLEncodings(const QString& text)
{
    static const std::pair<QString, QString> entities[] = {
        { u"&quot;"_s, u"\""_s },
        { u"&amp;"_s, u"&"_s },
        { u"&apos;"_s, u"'"_s },
        { u"&lt;"_s, u"<"_s },
        { u"&gt;"_s, u">"_s },
        { u"&nbsp;"_s, u" "_s },
        { u"&#34;"_s, u"\""_s },
        { u"&#38;"_s, u"&"_s },
        { u"&#39;"_s, u"'"_s },
        { u"&#60;"_s, u"<"_s },
        { u"&#62;"_s, u">"_s },
        { u"&#160;"_s, u" "_s },
    };
    // Every change starts at an "&".
    if (!text.contains(u'&'))
        return text;
    QString result = text;
    for (const auto& [entity, replacement] : entities)
        result.replace(entity, replacement);

    // Then every leftover entity ("&" + letters + ";" or "&#" + digits + ";") goes, again and
    // again while deleting one brings "&" and ";" of a new one together. Entities never overlap,
    // so the order of deletions does not change the outcome, and one pass that deletes each
    // entity as its ";" arrives gives the same text in linear time.
    enum class Tail : quint8 { None, Amp, Hash, Digits, Letters };
    struct State {
        qsizetype amp;
        Tail tail;
    };
    QString out;
    out.reserve(result.size());
    QList<State> states; // states[i]: the state after out[0..i]
    states.reserve(result.size());
    State state { -1, Tail::None };
    for (const QChar qc : std::as_const(result)) {
        const char16_t c = qc.unicode();
        if (c == u';' && (state.tail == Tail::Digits || state.tail == Tail::Letters)) {
            out.truncate(state.amp);
            states.resize(state.amp);
            state = state.amp > 0 ? states.last() : State { -1, Tail::None };
            continue;
        }
        if (c == u'&') {
            state = { out.size(), Tail::Amp };
        } else {
            switch (state.tail) {
            case Tail::Amp:
                state.tail = c == u'#'  ? Tail::Hash
                    : isEntityLetter(c) ? Tail::Letters
                                        : Tail::None;
                break;
            case Tail::Hash:
            case Tail::Digits:
                state.tail = isDigit(c) ? Tail::Digits : Tail::None;
                break;
            case Tail::Letters:
                state.tail = isEntityLetter(c) ? Tail::Letters : Tail::None;
                break;
            case Tail::None:
                break;
            }
        }
        out.append(qc);
        states.append(state);
    }
    return out;
}

std::optional<Url> findQuotedLink(
    const QString& text, const std::optional<Url>& baseURL, const QString& attributeName)
{
    // Never destroyed: feeds may still be parsed on a worker while the process ends.
    static const auto& quotedLink
        = *new const Regex(u"[\"'](http(s)?:)?//[^\"']*[\"']"_s, Qt::CaseInsensitive);
    static const auto& quotedPath = *new const Regex(u"[\"']/[^\"']*[\"']"_s, Qt::CaseInsensitive);

    const Regex::Match link = quotedLink.firstMatch(text);
    if (link.start >= 0) {
        const QString found = cutMatch(text, link, 1, 1);
        if (found.startsWith(u"//"_s))
            return Url::fromString(schemeFor(text) + u':' + found);
        return Url::fromString(found);
    }

    // A root-relative path names a place on the base's host, as a browser reads it: appended to
    // the base's own path it would keep the page's folders, or a doubled slash.
    if (baseURL) {
        const Regex::Match path = quotedPath.firstMatch(text);
        if (path.start >= 0)
            return Url::resolved(cutMatch(text, path, 1, 1), *baseURL);
    }

    const auto value = find(text, attributeName + u"=[^ >]+"_s, Qt::CaseInsensitive,
        characterCount(attributeName) + 1, 0);
    if (!value)
        return std::nullopt;
    if (value->startsWith(u"http"_s, Qt::CaseInsensitive))
        return Url::fromString(*value);
    if (value->startsWith(u"//"_s))
        return Url::fromString(schemeFor(text) + u':' + *value);
    // A path, from the root or from the page's folder, as a browser resolves it: a quoted value
    // ends at its closing quote.
    if (baseURL) {
        QStringView path(*value);
        if (path.startsWith(u'"') || path.startsWith(u'\'')) {
            const qsizetype close = path.indexOf(path.front(), 1);
            path = path.sliced(1, (close < 0 ? path.size() : close) - 1);
        }
        return Url::resolved(path.toString(), *baseURL);
    }
    return Url::fromString(u"http:"_s + *value);
}

namespace {

// removingTags of `text`; unless `complete`, `text` is only the start of a longer text, and what
// comes back is what that start decides: it stops before a '<' whose '>' may lie beyond.
QString removeTags(QStringView text, bool complete)
{
    // Removing the leftmost tag and searching again never makes a tag before the point of
    // removal, so one left-to-right pass gives the same text.
    const qsizetype n = text.size();
    QString out;
    out.reserve(n);
    qsizetype i = 0;
    qsizetype nextClose = text.indexOf(u'>');
    while (i < n) {
        const qsizetype open = text.indexOf(u'<', i);
        if (open < 0)
            break;
        if (nextClose >= 0 && nextClose <= open)
            nextClose = text.indexOf(u'>', open + 1);
        if (nextClose < 0) {
            if (complete)
                break;
            out.append(text.mid(i, open - i));
            return out;
        }
        if (nextClose == open + 1) { // "<>" is no tag
            out.append(text.mid(i, open + 1 - i));
            i = open + 1;
            continue;
        }
        out.append(text.mid(i, open - i));
        i = nextClose + 1;
    }
    out.append(text.mid(std::min(i, n)));
    return out;
}

} // namespace

QString removingTags(const QString& text) { return removeTags(text, true); }

QString removingTagsFromStart(QStringView start) { return removeTags(start, false); }

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

QString stringWithSubstringFromIndex(const QString& text, qsizetype index)
{
    return text.mid(offsetOfCharacter(text, index));
}

QString stringWithSubstringToIndex(const QString& text, qsizetype index)
{
    return text.left(offsetOfCharacter(text, index));
}

QString stringByRemovingPrefix(const QString& text, const QString& prefix)
{
    if (!hasCharacterPrefix(text, prefix))
        return text;
    return stringWithSubstringFromIndex(text, characterCount(prefix));
}

QString stringByRemovingSuffix(const QString& text, const QString& suffix)
{
    if (!hasCharacterSuffix(text, suffix))
        return text;
    return stringWithSubstringToIndex(text, characterCount(text) - characterCount(suffix));
}

QString stringByReplacingPrefix(
    const QString& text, const QString& prefix, const QString& replacement)
{
    if (!hasCharacterPrefix(text, prefix))
        return text;
    return replacement + stringByRemovingPrefix(text, prefix);
}

void substringFromIndex(QString& text, qsizetype index)
{
    text = stringWithSubstringFromIndex(text, index);
}

void substringToIndex(QString& text, qsizetype index)
{
    text = stringWithSubstringToIndex(text, index);
}

void removePrefix(QString& text, const QString& prefix)
{
    text = stringByRemovingPrefix(text, prefix);
}

void removeSuffix(QString& text, const QString& suffix)
{
    text = stringByRemovingSuffix(text, suffix);
}

void replacePrefix(QString& text, const QString& prefix, const QString& replacement)
{
    text = stringByReplacingPrefix(text, prefix, replacement);
}

} // namespace Tickerly::Data
