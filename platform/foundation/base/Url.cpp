#include "platform/foundation/base/Url.h"

#include "platform/foundation/base/Utf8.h"

#include <QStringList>

#include <array>
#include <limits>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr bool isAlpha(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

constexpr bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

constexpr bool isHex(QChar c)
{
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

constexpr bool isUnreserved(QChar c)
{
    return isAlpha(c) || isDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

// Characters no URL may hold literally.
constexpr bool isRefused(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0x20 || u >= 0x7F)
        return true;
    switch (u) {
    case u'"':
    case u'<':
    case u'>':
    case u'\\':
    case u'^':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
        return true;
    default:
        return false;
    }
}

// What the parser needs to know of each ASCII character, looked up once per character.
enum CharClass : unsigned char {
    Refused = 1, // see isRefused
    Marked = 2, // '%', '#', '@', '[' or ']': remembered by the first pass
    SchemeChar = 4, // may follow a scheme's first letter
    AuthorityEnd = 8, // '/', '?' or '#'
    PathEnd = 16, // '?' or '#'
    HostChar = 32, // a letter, digit, '-' or '.'
};

constexpr auto charClasses = [] {
    std::array<unsigned char, 128> classes {};
    for (char16_t c = 0; c < 128; ++c) {
        const QChar q(c);
        const bool hostChar = isAlpha(q) || isDigit(q) || c == u'-' || c == u'.';
        classes[c] = (isRefused(q) ? Refused : 0) | (hostChar || c == u'+' ? SchemeChar : 0)
            | (hostChar ? HostChar : 0);
    }
    for (const char16_t c : u"%#@[]")
        classes[c] |= Marked;
    for (const char16_t c : u"/?#")
        classes[c] |= AuthorityEnd;
    for (const char16_t c : u"?#")
        classes[c] |= PathEnd;
    classes[0] = Refused;
    return classes;
}();

// The class of a character; everything outside ASCII is refused.
unsigned char classOf(QChar c)
{
    return c.unicode() < 128 ? charClasses[c.unicode()] : static_cast<unsigned char>(Refused);
}

// Removes "." and ".." segments as a browser does when resolving (RFC 3986, 5.2.4).
QString removeDotSegments(const QString& path)
{
    QString input = path;
    QStringList output;
    const bool absolute = input.startsWith(u'/');
    QStringList segments = input.split(u'/');
    if (absolute)
        segments.removeFirst();
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString& s = segments[i];
        const bool last = i == segments.size() - 1;
        if (s == u".") {
            if (last)
                output.append(QString());
        } else if (s == u"..") {
            if (!output.isEmpty())
                output.removeLast();
            if (last)
                output.append(QString());
        } else {
            output.append(s);
        }
    }
    QString result = output.join(u'/');
    return absolute ? u'/' + result : result;
}

} // namespace

std::optional<Url> Url::fromString(const QString& text) { return fromString(QString(text)); }

std::optional<Url> Url::fromString(QString&& text)
{
    if (text.isEmpty() || text.size() > std::numeric_limits<qint32>::max())
        return std::nullopt;
    Url url;
    url.m_text = std::move(text);
    if (!url.parse())
        return std::nullopt;
    return url;
}

bool Url::parseCommonShape()
{
    // "http://host/path?query" or the same with "https", with no character that needs a second
    // look, read in one pass; the parts are those the general reading finds.
    const QChar* t = m_text.constData();
    const qsizetype n = m_text.size();
    if (n < 8 || t[0] != u'h' || t[1] != u't' || t[2] != u't' || t[3] != u'p')
        return false;
    const qsizetype colon = t[4] == u's' ? 5 : 4;
    if (colon + 3 > n || t[colon] != u':' || t[colon + 1] != u'/' || t[colon + 2] != u'/')
        return false;
    const qsizetype hostStart = colon + 3;
    qsizetype i = hostStart;
    while (i < n && (classOf(t[i]) & HostChar))
        ++i;
    if (i == hostStart || (i < n && t[i] != u'/'))
        return false;
    const qsizetype pathStart = i;
    qsizetype query = -1;
    for (; i < n; ++i) {
        if (classOf(t[i]) & (Refused | Marked))
            return false;
        if (t[i] == u'?' && query < 0)
            query = i;
    }
    m_scheme = { 0, colon };
    m_hasAuthority = true;
    m_host = { hostStart, pathStart - hostStart };
    const qsizetype pathEnd = query < 0 ? n : query;
    m_path = { pathStart, pathEnd - pathStart };
    if (query >= 0)
        m_query = { query + 1, n - query - 1 };
    return true;
}

namespace {

// Where the first pass found the rare characters.
struct Marks {
    qsizetype hash = -1;
    qsizetype lastAt = -1;
    qsizetype lastBracket = -1;
};

// One look-up per character: nothing when a character is refused, a '%' is not followed by two
// hex digits or a second '#' comes.
std::optional<Marks> markRareCharacters(const QChar* t, qsizetype n)
{
    Marks marks;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char k = classOf(t[i]);
        if (!(k & (Refused | Marked)))
            continue;
        if (k & Refused)
            return std::nullopt;
        switch (t[i].unicode()) {
        case u'%':
            if (i + 2 >= n || !isHex(t[i + 1]) || !isHex(t[i + 2]))
                return std::nullopt;
            break;
        case u'#':
            if (marks.hash >= 0)
                return std::nullopt;
            marks.hash = i;
            break;
        case u'@':
            marks.lastAt = i;
            break;
        default: // a bracket
            marks.lastBracket = i;
            break;
        }
    }
    return marks;
}

qsizetype find(const QChar* t, char16_t c, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i) {
        if (t[i] == c)
            return i;
    }
    return -1;
}

// Scheme: a letter, then letters, digits, '+', '-', '.', ended by ':'. Where the ':' is, or -1.
qsizetype schemeEnd(const QChar* t, qsizetype n)
{
    if (n == 0 || !isAlpha(t[0]))
        return -1;
    qsizetype i = 1;
    while (i < n && (classOf(t[i]) & SchemeChar))
        ++i;
    return i < n && t[i] == u':' ? i : -1;
}

// A part of the text: where it starts, -1 when there is none, and its length.
struct Part {
    qsizetype start = -1;
    qsizetype length = 0;
};

struct Authority {
    Part user;
    Part password;
    Part host;
    std::optional<int> port;
};

// The port from `from` to `to`: digits only, up to 65535.
std::optional<int> portOf(const QChar* t, qsizetype from, qsizetype to)
{
    qint64 port = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (!isDigit(t[i]))
            return std::nullopt;
        port = port * 10 + (t[i].unicode() - u'0');
        if (port > 65535)
            return std::nullopt;
    }
    return static_cast<int>(port);
}

// The authority from `start` to `end`; nothing when its host or port is malformed.
std::optional<Authority> readAuthority(
    const QChar* t, qsizetype start, qsizetype end, const Marks& marks)
{
    Authority authority;
    qsizetype hostStart = start;
    qsizetype at = -1;
    for (qsizetype i = std::min(end, marks.lastAt + 1) - 1; i >= start && at < 0; --i) {
        if (t[i] == u'@')
            at = i;
    }
    if (at >= 0) {
        const qsizetype colon = find(t, u':', start, at);
        if (colon >= 0) {
            authority.user = { start, colon - start };
            authority.password = { colon + 1, at - colon - 1 };
        } else {
            authority.user = { start, at - start };
        }
        hostStart = at + 1;
    }
    qsizetype hostEnd = end;
    qsizetype portStart = -1;
    if (hostStart < end && t[hostStart] == u'[') {
        const qsizetype close = find(t, u']', hostStart, end);
        if (close < 0)
            return std::nullopt;
        for (qsizetype i = hostStart + 1; i < close; ++i) {
            if (!isHex(t[i]) && t[i] != u':' && t[i] != u'.')
                return std::nullopt;
        }
        hostEnd = close + 1;
        if (hostEnd < end) {
            if (t[hostEnd] != u':')
                return std::nullopt;
            portStart = hostEnd + 1;
        }
    } else {
        const qsizetype colon = find(t, u':', hostStart, end);
        if (colon >= 0) {
            hostEnd = colon;
            portStart = colon + 1;
        }
        if (marks.lastBracket >= hostStart
            && (find(t, u'[', hostStart, hostEnd) >= 0 || find(t, u']', hostStart, hostEnd) >= 0))
            return std::nullopt;
    }
    authority.host = { hostStart, hostEnd - hostStart };
    if (portStart >= 0 && portStart < end) {
        authority.port = portOf(t, portStart, end);
        if (!authority.port)
            return std::nullopt;
    }
    return authority;
}

struct PathOn {
    Part path;
    Part query;
    Part fragment;
};

// The path from `pos` on, then the query up to the '#' at `hash`, then the fragment.
PathOn readPathOn(const QChar* t, qsizetype n, qsizetype pos, qsizetype hash)
{
    PathOn parts;
    qsizetype pathEnd = pos;
    while (pathEnd < n && !(classOf(t[pathEnd]) & PathEnd))
        ++pathEnd;
    parts.path = { pos, pathEnd - pos };
    pos = pathEnd;
    if (pos < n && t[pos] == u'?') {
        const qsizetype qEnd = hash >= 0 ? hash : n;
        parts.query = { pos + 1, qEnd - pos - 1 };
        pos = qEnd;
    }
    if (pos < n && t[pos] == u'#')
        parts.fragment = { pos + 1, n - pos - 1 };
    return parts;
}

} // namespace

bool Url::parse()
{
    if (parseCommonShape())
        return true;
    // Every address of every feed item passes here: one look-up per character, index
    // arithmetic only, no copies. The first pass notes where the rare characters are, so the
    // later steps search only where one is known to be.
    const QChar* t = m_text.constData();
    const qsizetype n = m_text.size();
    const std::optional<Marks> marks = markRareCharacters(t, n);
    if (!marks)
        return false;
    qsizetype pos = 0;
    if (const qsizetype colon = schemeEnd(t, n); colon >= 0) {
        m_scheme = { 0, colon };
        pos = colon + 1;
    }
    if (pos + 1 < n && t[pos] == u'/' && t[pos + 1] == u'/') {
        m_hasAuthority = true;
        const qsizetype start = pos + 2;
        qsizetype end = start;
        while (end < n && !(classOf(t[end]) & AuthorityEnd))
            ++end;
        const std::optional<Authority> authority = readAuthority(t, start, end, *marks);
        if (!authority)
            return false;
        m_user = { authority->user.start, authority->user.length };
        m_password = { authority->password.start, authority->password.length };
        m_host = { authority->host.start, authority->host.length };
        m_port = authority->port;
        pos = end;
    }
    const PathOn rest = readPathOn(t, n, pos, marks->hash);
    m_path = { rest.path.start, rest.path.length };
    m_query = { rest.query.start, rest.query.length };
    m_fragment = { rest.fragment.start, rest.fragment.length };
    // Brackets belong only around an IPv6 host.
    return marks->lastBracket < m_path.start;
}

QString Url::host() const
{
    QString h = part(m_host);
    if (h.startsWith(u'[') && h.endsWith(u']'))
        return h.mid(1, h.size() - 2);
    return h;
}

QString Url::lastPathComponent() const
{
    QString p = path();
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    if (p == u"/")
        return p;
    return percentDecoded(p.section(u'/', -1));
}

bool Url::namesSameResource(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const std::optional<Url> x = fromString(a);
    const std::optional<Url> y = fromString(b);
    if (!x || !y)
        return false;
    const auto effectivePort = [](const Url& url) -> std::optional<int> {
        const QString scheme = url.scheme().toLower();
        if ((scheme == u"http"_s && url.port() == 80)
            || (scheme == u"https"_s && url.port() == 443))
            return std::nullopt;
        return url.port();
    };
    const auto withoutFragment = [](const Url& url) {
        return url.hasFragment() ? url.m_text.left(url.m_fragment.start - 1) : url.m_text;
    };
    // A browser asks a web host for "/" when the address names no path.
    const auto afterAuthority = [&withoutFragment](const Url& url) {
        QString rest = withoutFragment(url).mid(url.m_path.start);
        const QString scheme = url.scheme().toLower();
        if (url.m_path.length == 0 && (scheme == u"http"_s || scheme == u"https"_s))
            rest.prepend(u'/');
        return rest;
    };
    return x->isAbsolute() && y->isAbsolute() && x->hasAuthority() && y->hasAuthority()
        && x->scheme().compare(y->scheme(), Qt::CaseInsensitive) == 0
        && x->host().compare(y->host(), Qt::CaseInsensitive) == 0
        && effectivePort(*x) == effectivePort(*y) && x->user() == y->user()
        && x->password() == y->password() && afterAuthority(*x) == afterAuthority(*y);
}

Url Url::appendingPathComponent(const QString& component) const
{
    if (!isValid())
        return {};
    QString p = path();
    if (!p.endsWith(u'/') && !component.startsWith(u'/'))
        p += u'/';
    p += percentEncoded(
        component, u"!$&'()*+,;=:@/"_s); // "/" is a path character: "a/b" adds two segments
    QString text = m_text.left(m_path.start) + p + m_text.mid(m_path.start + m_path.length);
    return fromString(text).value_or(Url());
}

std::optional<Url> Url::resolved(const QString& reference, const Url& base)
{
    if (reference.isEmpty() && base.isValid()) // the page itself, less its fragment
        return fromString(
            base.hasFragment() ? base.m_text.left(base.m_fragment.start - 1) : base.m_text);
    auto ref = fromString(reference);
    if (!ref)
        return std::nullopt;
    if (ref->isAbsolute()) {
        const QString path = removeDotSegments(ref->path());
        if (path == ref->path())
            return ref;
        const qsizetype pathEnd = ref->m_path.start + ref->m_path.length;
        return fromString(ref->m_text.left(ref->m_path.start) + path + ref->m_text.mid(pathEnd));
    }
    if (!base.isValid())
        return ref;
    // Rebuild from components (RFC 3986, 5.2.2) as text, then check the result.
    QString result = base.scheme() + u':';
    auto authorityOf = [](const Url& u) {
        return u.m_text.mid(u.m_scheme.start < 0 ? 0 : u.m_scheme.length + 1,
            u.m_path.start - (u.m_scheme.start < 0 ? 0 : u.m_scheme.length + 1));
    };
    QString path, query;
    bool hasQuery = false;
    if (ref->hasAuthority()) {
        result += authorityOf(*ref);
        path = removeDotSegments(ref->path());
        query = ref->query();
        hasQuery = ref->hasQuery();
    } else {
        result += authorityOf(base);
        if (ref->path().isEmpty()) {
            path = base.path();
            hasQuery = ref->hasQuery() || base.hasQuery();
            query = ref->hasQuery() ? ref->query() : base.query();
        } else {
            if (ref->path().startsWith(u'/')) {
                path = removeDotSegments(ref->path());
            } else {
                QString merged;
                if (base.hasAuthority() && base.path().isEmpty())
                    merged = u'/' + ref->path();
                else
                    merged = base.path().left(base.path().lastIndexOf(u'/') + 1) + ref->path();
                path = removeDotSegments(merged);
            }
            query = ref->query();
            hasQuery = ref->hasQuery();
        }
    }
    result += path;
    if (hasQuery)
        result += u'?' + query;
    if (ref->hasFragment())
        result += u'#' + ref->fragment();
    return fromString(result);
}

std::optional<Url> Url::withQuery(const Url& base, const QList<QPair<QString, QString>>& items)
{
    if (!base.isValid())
        return std::nullopt;
    QString text = base.m_text.left(base.m_path.start + base.m_path.length);
    if (!items.isEmpty()) {
        QStringList pairs;
        for (const auto& [name, value] : items)
            pairs.append(percentEncoded(name) + u'=' + percentEncoded(value));
        text += u'?' + pairs.join(u'&');
    }
    if (base.hasFragment())
        text += u'#' + base.fragment();
    return fromString(text);
}

QString Url::percentEncoded(const QString& text, const QString& alsoKeep)
{
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    const QByteArray utf8 = utf8Encoded(text);
    out.reserve(utf8.size());
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        const QChar c = QLatin1Char(static_cast<char>(b));
        if (b < 0x80 && (isUnreserved(c) || alsoKeep.contains(c))) {
            out += c;
        } else {
            out += u'%';
            out += QLatin1Char(hex[b >> 4]);
            out += QLatin1Char(hex[b & 0xF]);
        }
    }
    return out;
}

QString Url::percentDecoded(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    const QByteArray utf8 = text.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '%' && i + 2 < utf8.size() && isHex(QLatin1Char(utf8[i + 1]))
            && isHex(QLatin1Char(utf8[i + 2]))) {
            bytes.append(static_cast<char>(QByteArray::fromHex(utf8.mid(i + 1, 2)).at(0)));
            i += 2;
        } else {
            bytes.append(utf8[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

} // namespace Tickerly::Foundation
