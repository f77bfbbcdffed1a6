#include "data/sync/DateParser.h"

#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace {

const char16_t* const datePatterns[] = {
    u"EEE, d MMM yyyy HH:mm:ss zzz",
    u"EEE, d MMM yyyy HH:mm zzz",
    u"EEE, d MMM yyyy HH:mm:ss",
    u"EEE, d MMM yyyy HH:mm",
    u"d MMM yyyy HH:mm:ss zzz",
    u"d MMM yyyy HH:mm zzz",
    u"d MMM yyyy HH:mm:ss",
    u"d MMM yyyy HH:mm",
    u"yyyy-MM-dd'T'HH:mm:ssZ",
    u"yyyy'-'MM'-'dd'T'HH':'mm':'ssZZZ",
    u"yyyy'-'MM'-'dd'T'HH':'mm':'ss.SSSZZZ",
    u"yyyy'-'MM'-'dd'T'HH':'mm':'ss",
};
constexpr int patternCount = int(std::size(datePatterns));
constexpr int localeCount = 3;

// The locale of an attempt; the user's current one is taken anew each time.
icu::Locale localeAt(int index)
{
    switch (index) {
    case 0:
        return icu::Locale("en_US_POSIX");
    case 1:
        return icu::Locale("en_GB");
    default:
        return icu::Locale::getDefault();
    }
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The patterns read a year literally, so "Tue, 10 Jun 03 04:00:00 GMT" would be in the year 3.
// A two-digit year after "[weekday,] day month" is widened as RFC 2822 says: 00-49 are
// 2000-2049, 50-99 are 1950-1999.
QString withFullYear(const QString& text)
{
    const qsizetype n = text.size();
    auto skipSpaces = [&](qsizetype i) {
        while (i < n && text[i].isSpace())
            ++i;
        return i;
    };
    qsizetype i = skipSpaces(0);
    if (i < n && !isDigit(text[i])) { // the weekday
        while (i < n && text[i] != u',' && !text[i].isSpace())
            ++i;
        if (i == n || text[i] != u',')
            return text;
        i = skipSpaces(i + 1);
    }
    const qsizetype day = i;
    while (i < n && isDigit(text[i]))
        ++i;
    if (i == day || i - day > 2 || i == n || !text[i].isSpace())
        return text;
    const qsizetype month = i = skipSpaces(i);
    while (i < n && !text[i].isSpace() && !isDigit(text[i]))
        ++i;
    if (i == month || i == n || !text[i].isSpace())
        return text;
    const qsizetype year = i = skipSpaces(i);
    if (n - year < 3 || !isDigit(text[year]) || !isDigit(text[year + 1]) || !text[year + 2].isSpace())
        return text;
    const int yy = (text[year].unicode() - u'0') * 10 + (text[year + 1].unicode() - u'0');
    return text.left(year) + QLatin1StringView(yy < 50 ? "20" : "19") + text.mid(year);
}

} // namespace

// One configured date formatter: a locale, a pattern and GMT.
class DateFormatter {
public:
    DateFormatter(const icu::Locale& locale, const char16_t* pattern)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern), locale, status);
        if (U_FAILURE(status)) {
            m_format.reset();
            return;
        }
        m_format->setTimeZone(*icu::TimeZone::getGMT());
        m_format->setLenient(false);
    }

    // The date of the whole text, or nothing.
    std::optional<QDateTime> date(const QString& text) const
    {
        if (!m_format)
            return std::nullopt;
        const icu::UnicodeString source(false, reinterpret_cast<const UChar*>(text.utf16()),
            static_cast<int32_t>(text.size()));
        icu::ParsePosition position(0);
        const UDate millis = m_format->parse(source, position);
        if (position.getErrorIndex() >= 0 || position.getIndex() != source.length())
            return std::nullopt;
        // Far beyond any feed's dates, and outside what a 64-bit millisecond count holds.
        if (!std::isfinite(millis) || std::fabs(millis) > 1e17)
            return std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(millis)), Qt::UTC);
    }

private:
    std::unique_ptr<icu::SimpleDateFormat> m_format;
};

std::optional<QDateTime> DateParser::parseDate(const QString& text)
{
    const QString fullText = withFullYear(text);
    for (const DateFormatter* formatter = nextDateFormatter(); formatter; formatter = nextDateFormatter()) {
        if (auto date = formatter->date(fullText)) {
            reset();
            return date;
        }
    }
    reset();
    return std::nullopt;
}

void DateParser::reset()
{
    m_localeIndex = 0;
    m_formatIndex = 0;
}

const DateFormatter* DateParser::nextDateFormatter()
{
    if (m_formatIndex >= patternCount) {
        ++m_localeIndex;
        m_formatIndex = 0;
    }
    if (m_localeIndex >= localeCount)
        return nullptr;

    // Making a formatter is costly and a formatter is not safe to share between threads, so each
    // thread keeps its own, by locale name and pattern. A change of the current locale makes new
    // ones.
    thread_local std::map<std::pair<std::string, int>, std::unique_ptr<DateFormatter>> formatters;
    const icu::Locale locale = localeAt(m_localeIndex);
    auto& formatter = formatters[{ std::string(locale.getName()), m_formatIndex }];
    if (!formatter)
        formatter = std::make_unique<DateFormatter>(locale, datePatterns[m_formatIndex]);
    ++m_formatIndex;
    return formatter.get();
}
