#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QHashFunctions>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace Tickerly::Foundation {

// A URL value that keeps its text exactly as given.
//
// Addresses come from feeds, pages and stores, and are compared and stored by their text, so
// unlike QUrl nothing is normalised or re-encoded. Construction is strict: text that a
// browser-grade URL parser would refuse (white space, control or non-ASCII characters, any of
// "<>\^`{|}, a '%' not followed by two hex digits, a second '#', a bad port, an empty text or
// one of 2^31 units or more) gives no Url at all. Components are handed back raw, still
// percent-encoded.
//
// A plain value: copyable, immutable, safe to use from any thread.
class TICKERLYFOUNDATION_EXPORT Url {
public:
    // The empty, invalid Url; every component is empty.
    Url() = default;

    // The Url for `text`, or nothing when the text is not a URL.
    static std::optional<Url> fromString(const QString& text);
    static std::optional<Url> fromString(QString&& text);

    // `reference` resolved against `base` (absolute, relative path, "//host", "?query", "#frag"),
    // as a browser resolves a link on a page; nothing when either is refused.
    static std::optional<Url> resolved(const QString& reference, const Url& base);

    // A Url over `base` whose query is `items`, names and values percent-encoded so that only
    // unreserved characters stay literal. An empty list leaves the query off.
    static std::optional<Url> withQuery(
        const Url& base, const QList<QPair<QString, QString>>& items);

    // Percent-encodes every character except the unreserved ones (A-Z a-z 0-9 - . _ ~) as
    // UTF-8 bytes; `alsoKeep` lists extra ASCII characters left as they are.
    static QString percentEncoded(const QString& text, const QString& alsoKeep = {});

    // Decodes %XX escapes as UTF-8 (invalid sequences become U+FFFD).
    static QString percentDecoded(const QString& text);

    bool isValid() const { return !m_text.isEmpty(); }

    // The text exactly as given.
    const QString& absoluteString() const { return m_text; }

    // Raw components, empty when absent.
    QString scheme() const { return part(m_scheme); }
    QString user() const { return part(m_user); }
    QString password() const { return part(m_password); }
    QString host() const; // without the brackets of an IPv6 literal
    std::optional<int> port() const { return m_port; }
    QString path() const { return part(m_path); }
    QString query() const { return part(m_query); }
    QString fragment() const { return part(m_fragment); }

    bool hasAuthority() const { return m_hasAuthority; }
    bool hasQuery() const { return m_query.start >= 0; }
    bool hasFragment() const { return m_fragment.start >= 0; }
    // A Url with a scheme; a relative reference has none.
    bool isAbsolute() const { return m_scheme.start >= 0; }

    // The last path segment, percent-decoded ("" for "/" or no path).
    QString lastPathComponent() const;

    // This Url with `component` added as a new path segment ('/' put in between only when
    // neither side has one, the component percent-encoded for a path, its "/" kept). Query and
    // fragment are kept.
    Url appendingPathComponent(const QString& component) const;

    // Whether both name one resource as a browser sees it: scheme and host compared without
    // case, the scheme's default port as if left out, no path of a web address as "/", the
    // fragment ignored. Everything else,
    // and addresses that are not URLs, compare by text.
    static bool namesSameResource(const QString& a, const QString& b);

    friend bool operator==(const Url& a, const Url& b) { return a.m_text == b.m_text; }
    friend bool operator!=(const Url& a, const Url& b) { return !(a == b); }

private:
    // Offsets in 32 bits keep a Url small (stories hold two); no address comes near 2^31 units.
    struct Span {
        qint32 start = -1;
        qint32 length = 0;
        Span() = default;
        Span(qsizetype spanStart, qsizetype spanLength)
            : start(static_cast<qint32>(spanStart))
            , length(static_cast<qint32>(spanLength))
        {
        }
    };
    QString part(Span s) const { return s.start < 0 ? QString() : m_text.mid(s.start, s.length); }
    bool parse();
    bool parseCommonShape();

    QString m_text;
    Span m_scheme, m_user, m_password, m_host, m_path, m_query, m_fragment;
    std::optional<int> m_port;
    bool m_hasAuthority = false;
};

inline size_t qHash(const Url& url, size_t seed = 0) noexcept
{
    return qHash(url.absoluteString(), seed);
}

} // namespace Tickerly::Foundation

template <> struct std::hash<Tickerly::Foundation::Url> {
    size_t operator()(const Tickerly::Foundation::Url& url) const noexcept
    {
        return qHash(url.absoluteString());
    }
};
