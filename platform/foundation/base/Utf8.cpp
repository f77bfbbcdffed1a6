#include "platform/foundation/base/Utf8.h"

#include <QStringDecoder>

namespace Tickerly::Foundation {

namespace {

bool hasUnpairedSurrogate(const QString& text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

} // namespace

QByteArray utf8Encoded(const QString& text)
{
    if (!hasUnpairedSurrogate(text))
        return text.toUtf8();
    QString mended;
    mended.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            mended.append(c);
            mended.append(text.at(++i));
        } else if (c.isSurrogate()) {
            mended.append(QChar::ReplacementCharacter);
        } else {
            mended.append(c);
        }
    }
    return mended.toUtf8();
}

std::optional<QString> utf8Decoded(const QByteArray& bytes)
{
    // Stateless, so that a sequence cut off at the end counts as an error.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace Tickerly::Foundation
