#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/Cbor_p.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCborStreamReader>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace Tickerly::Foundation {

namespace Cbor {

// The number in a definite head of `major` at `pos` of `bytes`, `pos` moved past it; nothing for
// another major type, an indefinite length or a head cut short.
inline std::optional<quint64> definiteHead(QByteArrayView bytes, qsizetype& pos, int major)
{
    if (pos < 0 || pos >= bytes.size())
        return std::nullopt;
    const auto initial = static_cast<unsigned char>(bytes.at(pos));
    const int info = initial & 0x1f;
    if (initial >> 5 != major || info > 27)
        return std::nullopt;
    const qsizetype size = info < 24 ? 0 : qsizetype(1) << (info - 24);
    if (size > bytes.size() - pos - 1)
        return std::nullopt;
    quint64 value = info < 24 ? quint64(info) : 0;
    for (qsizetype i = 1; i <= size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(pos + i));
    pos += 1 + size;
    return value;
}

// A stream reader over one input, with what every reader of it here needs: the count of items
// taken against maxItems, heads read from the bytes themselves (asking the reader may move it on
// damaged input) and strings that may not claim more bytes than are left.
// Internal to TickerlyFoundation; lives as long as one read, on the thread that reads.
class Stream {
public:
    explicit Stream(const QByteArray& input)
        : bytes(input)
        , size(input.size())
        , reader(input)
    {
    }

    const QByteArray& bytes;
    const qsizetype size;
    QCborStreamReader reader;
    qsizetype items = 0;

    bool sound() { return reader.lastError() == QCborError::NoError; }
    qsizetype offset() const { return reader.currentOffset(); }

    // Whether one more item at `depth` is within maxDepth and maxItems; it is counted.
    bool count(int depth) { return depth <= maxDepth && ++items <= maxItems; }
    // As count(), and the reader has met no damage yet.
    bool admit(int depth) { return count(depth) && sound(); }

    // The number in the head of the item at the reader (a length or a count), and the head's size.
    std::optional<std::pair<quint64, qsizetype>> head() const
    {
        const qsizetype at = offset();
        if (at < 0 || at >= size)
            return std::nullopt;
        qsizetype pos = at;
        const auto value = definiteHead(
            QByteArrayView(bytes), pos, static_cast<unsigned char>(bytes.at(at)) >> 5);
        if (!value)
            return std::nullopt;
        return std::pair { *value, pos - at };
    }

    // Room to make for a container's elements: what it declares, within what its bytes could
    // hold and a bound a hostile count cannot push up.
    qsizetype expectedCount() const
    {
        const auto declared = head();
        if (!declared)
            return 0;
        return qsizetype(std::min<quint64>({ declared->first, quint64(size), 1024 }));
    }

    // The bytes of the definite-length text at the reader, at most `maxLength` of them.
    std::optional<QByteArrayView> definiteText(qsizetype maxLength) const
    {
        const auto declared = head();
        if (!declared)
            return std::nullopt;
        const auto [length, headSize] = *declared;
        const qsizetype at = offset();
        if (length > quint64(maxLength) || qsizetype(length) > size - at - headSize)
            return std::nullopt;
        return QByteArrayView(bytes).sliced(at + headSize, qsizetype(length));
    }

    // The whole string at the reader, chunk by chunk; the reader would otherwise allocate what a
    // chunk's head claims.
    template <typename Result, typename ReadFn> std::optional<Result> readChunks(ReadFn readFn)
    {
        Result all;
        for (;;) {
            const qsizetype chunk = reader.currentStringChunkSize();
            if (chunk < 0 || chunk > size - offset())
                return std::nullopt;
            auto r = readFn();
            if (r.status == QCborStreamReader::Error)
                return std::nullopt;
            if (r.status == QCborStreamReader::EndOfString)
                return all;
            all += r.data;
        }
    }

    std::optional<QByteArray> readBytes()
    {
        return readChunks<QByteArray>([this] { return reader.readByteArray(); });
    }

    std::optional<QString> readText()
    {
        return readChunks<QString>([this] { return reader.readString(); });
    }

    // The integer, simple value or float at the reader; nothing for any other item, and for
    // simple values other than true, false and null.
    std::optional<CborItem> readScalar()
    {
        switch (reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            const quint64 v = reader.toUnsignedInteger();
            reader.next();
            if (v > quint64(std::numeric_limits<qint64>::max()))
                return CborItem::makeDouble(double(v));
            return CborItem::makeInteger(qint64(v));
        }
        case QCborStreamReader::NegativeInteger: {
            // The item is -1 - raw; the reader's own conversion overflows at the extreme.
            const quint64 raw = quint64(reader.toNegativeInteger()) - 1;
            reader.next();
            if (raw > quint64(std::numeric_limits<qint64>::max()))
                return CborItem::makeDouble(-1.0 - double(raw));
            return CborItem::makeInteger(-1 - qint64(raw));
        }
        case QCborStreamReader::SimpleType: {
            const auto simple = reader.toSimpleType();
            reader.next();
            if (simple == QCborSimpleType::False || simple == QCborSimpleType::True)
                return CborItem::makeBool(simple == QCborSimpleType::True);
            if (simple == QCborSimpleType::Null)
                return CborItem {};
            return std::nullopt;
        }
        case QCborStreamReader::Float16: {
            const double v = double(float(reader.toFloat16()));
            reader.next();
            return CborItem::makeDouble(v);
        }
        case QCborStreamReader::Float: {
            const double v = double(reader.toFloat());
            reader.next();
            return CborItem::makeDouble(v);
        }
        case QCborStreamReader::Double: {
            const double v = reader.toDouble();
            reader.next();
            return CborItem::makeDouble(v);
        }
        default:
            return std::nullopt;
        }
    }
};

} // namespace Cbor

} // namespace Tickerly::Foundation
