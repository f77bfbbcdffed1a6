#include "platform/foundation/network/HttpFreshness_p.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;

// Server header values: the first line a Cache-Control value, the second a date, the rest an
// Age; each read on its own and together as an answer's fields.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString all = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = all.split(u'\n');
    const QString control = lines.value(0);
    const QString date = lines.value(1);
    const QString age = lines.mid(2).join(u'\n');
    (void)HttpFreshness::parseCacheControl(control);
    (void)HttpFreshness::parseHttpDate(date);
    const HttpHeaderFields fields { { QStringLiteral("Cache-Control"), control },
        { QStringLiteral("Date"), date }, { QStringLiteral("Expires"), age },
        { QStringLiteral("Age"), age } };
    const qint64 lifetime = HttpFreshness::freshnessLifetime(fields);
    const qint64 current = HttpFreshness::currentAge(fields, 0, 1, 2);
    if (lifetime < 0 || current < 0)
        __builtin_trap();
    return 0;
}
