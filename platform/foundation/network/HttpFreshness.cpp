#include "platform/foundation/network/HttpFreshness_p.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <array>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace HttpFreshness {

namespace {

// Past this, a number of seconds reads as this (no answer is fresh for 68 years).
constexpr qint64 largestDelta = 2147483648LL;

std::optional<qint64> parseDelta(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min(value * 10 + (c.unicode() - u'0'), largestDelta);
    }
    return value;
}

// Splits at commas outside quoted strings.
template <typename Fn> void forEachDirective(QStringView text, Fn fn)
{
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size()) {
            const QChar c = text[i];
            if (c == u'\\' && quoted) {
                ++i;
                continue;
            }
            if (c == u'"')
                quoted = !quoted;
            if (c != u',' || quoted)
                continue;
        }
        const QStringView item = text.sliced(start, std::min(i, text.size()) - start).trimmed();
        if (!item.isEmpty()) {
            const qsizetype equals = item.indexOf(u'=');
            const QStringView name = (equals < 0 ? item : item.first(equals)).trimmed();
            QStringView value = equals < 0 ? QStringView() : item.sliced(equals + 1).trimmed();
            if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
                value = value.sliced(1, value.size() - 2);
            fn(name, value, equals >= 0);
        }
        start = i + 1;
    }
}

int monthNumber(QStringView name)
{
    static constexpr std::array<const char16_t*, 12> months = { u"Jan", u"Feb", u"Mar", u"Apr",
        u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec" };
    for (size_t i = 0; i < months.size(); ++i) {
        if (name == QStringView(months[i]))
            return int(i) + 1;
    }
    return 0;
}

std::optional<int> number(QStringView text, qsizetype digits)
{
    if (text.size() != digits)
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

std::optional<qint64> secondsOf(int year, int month, int day, QStringView clock)
{
    const QList<QStringView> parts = clock.split(u':');
    if (parts.size() != 3)
        return std::nullopt;
    const auto h = number(parts[0], 2);
    const auto m = number(parts[1], 2);
    const auto s = number(parts[2], 2);
    if (!h || !m || !s)
        return std::nullopt;
    const QDate date(year, month, day);
    // A leap second reads as the second before it.
    const QTime time(*h, *m, std::min(*s, 59));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    return days * 86400 + time.msecsSinceStartOfDay() / 1000;
}

} // namespace

Directives parseCacheControl(QStringView text)
{
    Directives directives;
    bool sawMaxAge = false;
    forEachDirective(text, [&](QStringView name, QStringView value, bool hasValue) {
        if (name.compare(u"no-store"_s, Qt::CaseInsensitive) == 0) {
            directives.noStore = true;
        } else if (name.compare(u"no-cache"_s, Qt::CaseInsensitive) == 0) {
            directives.noCache = true;
        } else if (name.compare(u"max-age"_s, Qt::CaseInsensitive) == 0) {
            const std::optional<qint64> seconds = hasValue ? parseDelta(value) : std::nullopt;
            directives.maxAge = sawMaxAge || !seconds ? 0 : *seconds;
            sawMaxAge = true;
        }
    });
    return directives;
}

std::optional<qint64> parseHttpDate(QStringView text)
{
    const QList<QStringView> words = text.trimmed().split(u' ', Qt::SkipEmptyParts);
    if (words.size() == 6 && words[0].endsWith(u',') && words[5] == u"GMT") {
        // Sun, 06 Nov 1994 08:49:37 GMT
        const auto day = number(words[1], 2);
        const int month = monthNumber(words[2]);
        const auto year = number(words[3], 4);
        if (!day || !month || !year)
            return std::nullopt;
        return secondsOf(*year, month, *day, words[4]);
    }
    if (words.size() == 4 && words[0].endsWith(u',') && words[3] == u"GMT") {
        // Sunday, 06-Nov-94 08:49:37 GMT
        const QList<QStringView> parts = words[1].split(u'-');
        if (parts.size() != 3)
            return std::nullopt;
        const auto day = number(parts[0], 2);
        const int month = monthNumber(parts[1]);
        const auto shortYear = number(parts[2], 2);
        if (!day || !month || !shortYear)
            return std::nullopt;
        // Two-digit years: the nearest century that is not more than 50 years ahead.
        const int thisYear = QDate::currentDate().year();
        int year = (thisYear / 100) * 100 + *shortYear;
        if (year > thisYear + 50)
            year -= 100;
        return secondsOf(year, month, *day, words[2]);
    }
    if (words.size() == 5) {
        // Sun Nov  6 08:49:37 1994
        const int month = monthNumber(words[1]);
        const auto day = words[2].size() == 1 ? number(words[2], 1) : number(words[2], 2);
        const auto year = number(words[4], 4);
        if (!month || !day || !year)
            return std::nullopt;
        return secondsOf(*year, month, *day, words[3]);
    }
    return std::nullopt;
}

qint64 freshnessLifetime(const HttpHeaderFields& fields)
{
    const Directives directives = parseCacheControl(fields.value(u"Cache-Control"_s));
    if (directives.maxAge)
        return *directives.maxAge;
    const QString expiresText = fields.value(u"Expires"_s);
    if (expiresText.isNull())
        return 0;
    // An Expires that cannot be read ("0", "-1") means already expired.
    const std::optional<qint64> expires = parseHttpDate(expiresText);
    const std::optional<qint64> date = parseHttpDate(fields.value(u"Date"_s));
    if (!expires || !date)
        return 0;
    return std::clamp<qint64>(*expires - *date, 0, largestDelta);
}

qint64 currentAge(
    const HttpHeaderFields& fields, qint64 requestTime, qint64 responseTime, qint64 now)
{
    const qint64 ageValue = parseDelta(fields.value(u"Age"_s).trimmed()).value_or(0);
    const qint64 dateValue = parseHttpDate(fields.value(u"Date"_s)).value_or(responseTime);
    const qint64 apparentAge = std::max<qint64>(0, responseTime - dateValue);
    const qint64 responseDelay = std::max<qint64>(0, responseTime - requestTime);
    const qint64 correctedAge = ageValue + responseDelay;
    const qint64 initialAge = std::max(apparentAge, correctedAge);
    const qint64 residentTime = std::max<qint64>(0, now - responseTime);
    return std::min(initialAge + residentTime, largestDelta * 2);
}

} // namespace HttpFreshness

} // namespace Tickerly::Foundation
