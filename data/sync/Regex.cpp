#include "data/sync/Regex.h"

#include <QHash>
#include <QMutex>
#include <QtGlobal>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <utility>

namespace Tickerly::Data {

namespace {

// A safety net for callers' patterns that backtrack badly on hostile pages: the search gives
// up after roughly this many milliseconds of matching and reports what it found so far.
constexpr int32_t matchTimeLimit = 5000;

using PatternKey = std::pair<QString, bool>;

std::shared_ptr<const icu::RegexPattern> compiled(const QString& pattern, bool caseInsensitive)
{
    struct Patterns {
        QMutex mutex;
        QHash<PatternKey, std::shared_ptr<const icu::RegexPattern>> byKey;
    };
    // Never destroyed: a worker may still match while the process ends.
    static auto& compiledPatterns = *new Patterns;

    QMutexLocker lock(&compiledPatterns.mutex);
    const PatternKey key { pattern, caseInsensitive };
    auto& patterns = compiledPatterns.byKey;
    if (const auto it = patterns.constFind(key); it != patterns.constEnd())
        return *it;

    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError {};
    const icu::UnicodeString source(
        reinterpret_cast<const UChar*>(pattern.utf16()), static_cast<int32_t>(pattern.size()));
    std::shared_ptr<const icu::RegexPattern> result(icu::RegexPattern::compile(
        source, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
    if (U_FAILURE(status) || !result)
        qFatal("Regular expression does not compile: %s (%s)", qUtf8Printable(pattern),
            u_errorName(status));
    patterns.insert(key, result);
    return result;
}

// One search over a text: the text is aliased, never copied, and must outlive the search.
class Search {
public:
    Search(const icu::RegexPattern& pattern, QStringView text)
        : m_text(
            false, reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()))
    {
        UErrorCode status = U_ZERO_ERROR;
        m_matcher.reset(pattern.matcher(m_text, status));
        if (U_FAILURE(status))
            m_matcher.reset();
        if (m_matcher) {
            m_matcher->setTimeLimit(matchTimeLimit, status);
        }
    }

    bool setRegion(qsizetype from, qsizetype to)
    {
        if (!m_matcher)
            return false;
        UErrorCode status = U_ZERO_ERROR;
        m_matcher->region(from, to, status);
        return U_SUCCESS(status);
    }

    // The next match, or nothing when there is none or the search failed (time or stack limit).
    bool find()
    {
        if (!m_matcher)
            return false;
        UErrorCode status = U_ZERO_ERROR;
        return m_matcher->find(status) && U_SUCCESS(status);
    }

    bool lookingAt()
    {
        if (!m_matcher)
            return false;
        UErrorCode status = U_ZERO_ERROR;
        return m_matcher->lookingAt(status) && U_SUCCESS(status);
    }

    Regex::Match match() const
    {
        UErrorCode status = U_ZERO_ERROR;
        Regex::Match result { m_matcher->start(status), m_matcher->end(status) };
        if (U_FAILURE(status))
            return { -1, -1 };
        return result;
    }

private:
    icu::UnicodeString m_text;
    std::unique_ptr<icu::RegexMatcher> m_matcher;
};

} // namespace

Regex::Regex(const QString& pattern, Qt::CaseSensitivity cs)
    : m_pattern(compiled(pattern, cs == Qt::CaseInsensitive))
{
}

Regex::Match Regex::firstMatch(QStringView text, qsizetype from, qsizetype to) const
{
    if (to < 0 || to > text.size())
        to = text.size();
    if (from < 0 || from > to)
        return { -1, -1 };
    Search search(*m_pattern, text);
    if (!search.setRegion(from, to) || !search.find())
        return { -1, -1 };
    return search.match();
}

Regex::Match Regex::matchAt(QStringView text, qsizetype from, qsizetype to) const
{
    if (to < 0 || to > text.size())
        to = text.size();
    if (from < 0 || from > to)
        return { -1, -1 };
    Search search(*m_pattern, text);
    if (!search.setRegion(from, to) || !search.lookingAt())
        return { -1, -1 };
    return search.match();
}

QList<Regex::Match> Regex::allMatches(QStringView text) const
{
    QList<Match> matches;
    Search search(*m_pattern, text);
    while (search.find()) {
        const Match m = search.match();
        if (m.start < 0)
            break;
        matches.append(m);
    }
    return matches;
}

} // namespace Tickerly::Data
