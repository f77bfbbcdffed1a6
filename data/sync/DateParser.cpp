#include "data/sync/DateParser.h"

#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace Tickerly::Data {

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

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isDigit(QChar c) { return isDigit(c.unicode()); }

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
    if (n - year < 3 || !isDigit(text[year]) || !isDigit(text[year + 1])
        || !text[year + 2].isSpace())
        return text;
    const int yy = (text[year].unicode() - u'0') * 10 + (text[year + 1].unicode() - u'0');
    return text.left(year) + QLatin1StringView(yy < 50 ? "20" : "19") + text.mid(year);
}

constexpr char weekdays[][4] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };
constexpr char months[][4]
    = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

// For each sum of three ASCII letters, which of `names` has it (its index + 1; 0 for none). The
// sums within each list differ, so one look-up and one comparison find a name.
using NamesBySum = std::array<unsigned char, 3 * 128>;
template <std::size_t count> constexpr NamesBySum namesBySum(const char (&names)[count][4])
{
    NamesBySum table {};
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char& entry = table[std::size_t(names[i][0] + names[i][1] + names[i][2])];
        if (entry != 0)
            throw std::logic_error("two names with the same sum of letters");
        entry = static_cast<unsigned char>(i + 1);
    }
    return table;
}

// A strict left-to-right reader of the shapes nearly every feed writes. Any doubt (a shape,
// name or value it does not know for certain) ends the reading; the patterns then decide.
// `Unit` is char16_t for a QString, char for Latin-1 text.
template <typename Unit> class CommonFormReader {
public:
    CommonFormReader(const Unit* text, qsizetype size)
        : m_text(text)
        , m_size(size)
    {
    }

    std::optional<QDateTime> read()
    {
        if (m_size < 16)
            return std::nullopt;
        return isDigit(unit(0)) && m_size >= 19 && unit(4) == u'-' ? readIso() : readRfc822();
    }

private:
    char16_t unit(qsizetype i) const { return char16_t(std::make_unsigned_t<Unit>(m_text[i])); }
    bool atEnd() const { return m_at == m_size; }
    bool literal(char16_t c)
    {
        if (atEnd() || unit(m_at) != c)
            return false;
        ++m_at;
        return true;
    }
    bool word(std::string_view ascii)
    {
        const qsizetype n = qsizetype(ascii.size());
        if (m_size - m_at < n)
            return false;
        for (qsizetype i = 0; i < n; ++i) {
            if (unit(m_at + i) != char16_t(ascii[i]))
                return false;
        }
        m_at += n;
        return true;
    }
    // Which of `names` (three letters each) comes next, taken; -1 for none.
    template <const auto& names> int name()
    {
        static constexpr NamesBySum bySum = namesBySum(names);
        if (m_size - m_at < 3)
            return -1;
        const char16_t a = unit(m_at);
        const char16_t b = unit(m_at + 1);
        const char16_t c = unit(m_at + 2);
        if ((a | b | c) >= 128)
            return -1;
        const int entry = bySum[a + b + c];
        if (entry == 0)
            return -1;
        const char* found = names[entry - 1];
        if (a != char16_t(found[0]) || b != char16_t(found[1]) || c != char16_t(found[2]))
            return -1;
        m_at += 3;
        return entry - 1;
    }
    // Between `minDigits` and `maxDigits` digits, or -1.
    int number(int minDigits, int maxDigits)
    {
        int value = 0;
        int digits = 0;
        while (!atEnd() && digits < maxDigits && isDigit(unit(m_at))) {
            value = value * 10 + (unit(m_at++) - u'0');
            ++digits;
        }
        return digits < minDigits ? -1 : value;
    }
    bool isDigitAt(qsizetype at) const { return at < m_size && isDigit(unit(at)); }
    int twoDigitsAt(qsizetype at) const { return (unit(at) - u'0') * 10 + (unit(at + 1) - u'0'); }

    // "+hhmm" or "-hhmm", or with `colon` "+hh:mm" too, in seconds east of GMT.
    Q_ALWAYS_INLINE std::optional<int> numericOffset(bool colon)
    {
        if (atEnd() || (unit(m_at) != u'+' && unit(m_at) != u'-'))
            return std::nullopt;
        const bool negative = unit(m_at) == u'-';
        const qsizetype minutesAt
            = m_at + (colon && m_at + 3 < m_size && unit(m_at + 3) == u':' ? 4 : 3);
        if (!isDigitAt(m_at + 1) || !isDigitAt(m_at + 2) || !isDigitAt(minutesAt)
            || !isDigitAt(minutesAt + 1))
            return std::nullopt;
        const int hours = twoDigitsAt(m_at + 1);
        const int minutes = twoDigitsAt(minutesAt);
        m_at = minutesAt + 2;
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        const int seconds = hours * 3600 + minutes * 60;
        return negative ? -seconds : seconds;
    }

    std::optional<QDateTime> instant(
        int year, int month, int day, int hour, int minute, int second, int msec, int offset) const
    {
        // Before 1600 the patterns' calendar is Julian in part; such dates go to them.
        if (year < 1600 || year > 9999 || month < 1 || month > 12 || day < 1 || hour > 23
            || minute > 59 || second > 59)
            return std::nullopt;
        const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        static constexpr int monthDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
        if (day > monthDays[month - 1] + (month == 2 && leap))
            return std::nullopt;
        // Days since 1970-01-01 in the proleptic Gregorian calendar, counted from March so that
        // the leap day ends a year.
        const int y = month <= 2 ? year - 1 : year;
        const int era = y / 400; // years from 1600 on are positive
        const int yearOfEra = y - era * 400;
        const int dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
        const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        const qint64 days = qint64(era) * 146097 + dayOfEra - 719468;
        const qint64 seconds = days * 86400 + hour * 3600 + minute * 60 + second - offset;
        return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + msec, Qt::UTC);
    }

    // "[Www, ]dd MMM yyyy HH:mm:ss " and the zone, as nearly every RSS date is written: what
    // comes before the zone is read at fixed places. False, with nothing taken, for any other text.
    bool fixedRfc822(int& day, int& month, int& year, int& hour, int& minute, int& second)
    {
        const qsizetype from = isDigit(unit(0)) ? 0 : 5;
        if (m_size <= from + 21)
            return false;
        const auto at = [this, from](qsizetype i) { return unit(from + i); };
        if ((from && (unit(3) != u',' || unit(4) != u' ')) || at(2) != u' ' || at(6) != u' '
            || at(11) != u' ' || at(14) != u':' || at(17) != u':' || at(20) != u' ')
            return false;
        static constexpr qsizetype digitsAt[] = { 0, 1, 7, 8, 9, 10, 12, 13, 15, 16, 18, 19 };
        if (!std::all_of(std::begin(digitsAt), std::end(digitsAt),
                [&at](qsizetype i) { return isDigit(at(i)); }))
            return false;
        const auto twoDigits = [this, from](qsizetype i) { return twoDigitsAt(from + i); };
        m_at = from + 3;
        month = name<months>();
        m_at = 0;
        if (month < 0 || (from && name<weekdays>() < 0))
            return false;
        day = twoDigits(0);
        year = twoDigits(7) * 100 + twoDigits(9);
        hour = twoDigits(12);
        minute = twoDigits(15);
        second = twoDigits(18);
        m_at = from + 20;
        return true;
    }

    // [Www, ]d MMM yyyy HH:mm[:ss][ zone]
    std::optional<QDateTime> readRfc822()
    {
        int day = 0;
        int month = 0;
        int year = 0;
        int hour = 0;
        int minute = 0;
        int second = 0;
        if (!fixedRfc822(day, month, year, hour, minute, second)) {
            if (!isDigit(unit(0))) {
                // The weekday is not checked against the date, as the patterns do not check it.
                if (name<weekdays>() < 0 || !literal(u',') || !literal(u' '))
                    return std::nullopt;
            }
            day = number(1, 2);
            if (day < 0 || !literal(u' '))
                return std::nullopt;
            month = name<months>();
            if (month < 0 || !literal(u' '))
                return std::nullopt;
            year = number(4, 4);
            if (year < 0 || !literal(u' '))
                return std::nullopt;
            // The patterns take an hour of one digit too ("0:00:01").
            hour = number(1, 2);
            if (hour < 0 || !literal(u':'))
                return std::nullopt;
            minute = number(2, 2);
            if (minute < 0)
                return std::nullopt;
            if (literal(u':') && (second = number(2, 2)) < 0)
                return std::nullopt;
        }
        int offset = 0;
        if (literal(u' ')) {
            if (atEnd())
                return std::nullopt;
            struct Zone {
                std::string_view name;
                int hours;
            };
            static constexpr Zone zones[] = { { "GMT", 0 }, { "UTC", 0 }, { "UT", 0 },
                { "EST", -5 }, { "EDT", -4 }, { "CST", -6 }, { "CDT", -5 }, { "MST", -7 },
                { "MDT", -6 }, { "PST", -8 }, { "PDT", -7 } };
            if (unit(m_at) == u'+' || unit(m_at) == u'-') {
                const auto numeric = numericOffset(false);
                if (!numeric)
                    return std::nullopt;
                offset = *numeric;
            } else {
                const Zone* zone = std::find_if(std::begin(zones), std::end(zones),
                    [this](const Zone& z) { return word(z.name); });
                if (zone == std::end(zones))
                    return std::nullopt;
                offset = zone->hours * 3600;
            }
        }
        if (!atEnd())
            return std::nullopt;
        return instant(year, month + 1, day, hour, minute, second, 0, offset);
    }

    // yyyy-MM-ddTHH:mm:ss[.SSS](Z|+hh:mm|+hhmm), or without fraction and zone
    std::optional<QDateTime> readIso()
    {
        const int year = number(4, 4);
        if (year < 0 || !literal(u'-'))
            return std::nullopt;
        const int month = number(2, 2);
        if (month < 0 || !literal(u'-'))
            return std::nullopt;
        const int day = number(2, 2);
        if (day < 0 || !literal(u'T'))
            return std::nullopt;
        const int hour = number(2, 2);
        if (hour < 0 || !literal(u':'))
            return std::nullopt;
        const int minute = number(2, 2);
        if (minute < 0 || !literal(u':'))
            return std::nullopt;
        const int second = number(2, 2);
        if (second < 0)
            return std::nullopt;
        if (atEnd())
            return instant(year, month, day, hour, minute, second, 0, 0);
        int msec = 0;
        if (literal(u'.') && (msec = number(3, 3)) < 0)
            return std::nullopt;
        int offset = 0;
        if (!literal(u'Z')) {
            if (atEnd())
                return std::nullopt;
            const auto numeric = numericOffset(true);
            if (!numeric)
                return std::nullopt;
            offset = *numeric;
        }
        if (!atEnd())
            return std::nullopt;
        return instant(year, month, day, hour, minute, second, msec, offset);
    }

    const Unit* m_text;
    qsizetype m_size;
    qsizetype m_at = 0;
};

} // namespace

std::optional<QDateTime> DateParser::readCommonForm(const QString& text)
{
    return CommonFormReader<char16_t>(reinterpret_cast<const char16_t*>(text.utf16()), text.size())
        .read();
}

std::optional<QDateTime> DateParser::readCommonForm(QLatin1StringView text)
{
    return CommonFormReader<char>(text.data(), text.size()).read();
}

// One configured date formatter: a locale, a pattern and GMT.
class DateFormatter {
public:
    DateFormatter(const icu::Locale& locale, const char16_t* pattern)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_format
            = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern), locale, status);
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
        const icu::UnicodeString source(
            false, reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
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
    if (auto date = readCommonForm(text))
        return date;
    return parseDateWithPatterns(text);
}

std::optional<QDateTime> DateParser::parseDateWithPatterns(const QString& text)
{
    // ICU reads a run of digits of any length into a field, and a long enough fraction of a
    // second makes it divide by zero inside the library. No field of any pattern here is longer
    // than nine digits.
    qsizetype run = 0;
    for (const QChar c : text) {
        run = isDigit(c) ? run + 1 : 0;
        if (run > 9) {
            reset();
            return std::nullopt;
        }
    }
    const QString fullText = withFullYear(text);
    for (const DateFormatter* formatter = nextDateFormatter(); formatter;
         formatter = nextDateFormatter()) {
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

} // namespace Tickerly::Data
