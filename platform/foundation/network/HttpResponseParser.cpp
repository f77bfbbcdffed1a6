#include "platform/foundation/network/HttpResponseParser_p.h"

namespace Tickerly::Foundation {

namespace {

// The network library hands over up to 300 KiB of header lines per answer. Every line looks its
// name up among the fields so far, and joining repeats copies the joined value, so without bounds
// one hostile answer costs seconds of the one network thread every session shares.
constexpr qsizetype maximumFields = 256;
constexpr qsizetype maximumJoinedLength = 16 * 1024;

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty()
        && (v.front() == ' ' || v.front() == '\t' || v.front() == '\r' || v.front() == '\n'))
        v = v.sliced(1);
    while (!v.isEmpty()
        && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r' || v.back() == '\n'))
        v.chop(1);
    return v;
}

bool isToken(QByteArrayView name)
{
    if (name.isEmpty())
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || c == ':' || c == '"' || c == '(' || c == ')' || c == ','
            || c == '/' || c == ';' || c == '<' || c == '=' || c == '>' || c == '?' || c == '@'
            || c == '[' || c == '\\' || c == ']' || c == '{' || c == '}')
            return false;
    }
    return true;
}

} // namespace

void HttpResponseParser::feedLine(QByteArrayView line)
{
    if (line.startsWith("HTTP/")) {
        // A new answer (interim, redirected or final) starts afresh.
        statusCode = 0;
        fields = {};
        complete = false;
        const qsizetype space = line.indexOf(' ');
        if (space > 0) {
            QByteArrayView rest = line.sliced(space + 1);
            int code = 0;
            int digits = 0;
            while (
                digits < 3 && digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
                code = code * 10 + (rest[digits] - '0');
                ++digits;
            }
            if (digits == 3)
                statusCode = code;
        }
        return;
    }
    if (complete)
        return; // trailers after the body
    const QByteArrayView content = trimmed(line);
    if (content.isEmpty()) {
        complete = statusCode >= 200;
        return;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        // An obsolete folded continuation of the previous field.
        if (!fields.isEmpty() && fields.fields().last().second.size() < maximumJoinedLength) {
            const auto& last = fields.fields().last();
            fields.setValue(
                last.first, last.second + QLatin1Char(' ') + QString::fromLatin1(content));
        }
        return;
    }
    const qsizetype colon = content.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArrayView name = content.first(colon);
    if (!isToken(name))
        return;
    const QString key = QString::fromLatin1(name);
    const QString value = QString::fromLatin1(trimmed(content.sliced(colon + 1)));
    const QString earlier = fields.value(key);
    if (earlier.isNull() ? fields.size() >= maximumFields : earlier.size() >= maximumJoinedLength)
        return;
    // Repeated fields combine as a list, as HTTP defines.
    fields.setValue(key, earlier.isNull() ? value : earlier + QLatin1String(", ") + value);
}

} // namespace Tickerly::Foundation
