#pragma once

#include "platform/foundation/Namespace.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace Tickerly::Foundation {

// A CBOR item kept exactly as read: tags are not interpreted, maps keep their order and have
// text keys only. The store and the keyed archives read everything through this so that stored
// bytes from another process or version are parsed under fixed bounds.
// Internal to TickerlyFoundation; plain values, any thread.
struct CborItem {
    enum class Kind { Integer, Double, Bool, Null, Text, Bytes, Array, Map, Tag };

    Kind kind = Kind::Null;
    qint64 integer = 0;
    double real = 0;
    bool boolean = false;
    quint64 tag = 0;
    QString text;
    QByteArray bytes;
    // Elements of an array, or the one content item of a tag.
    std::vector<CborItem> items;
    std::vector<std::pair<QString, CborItem>> entries;

    static CborItem makeInteger(qint64 v);
    static CborItem makeDouble(double v);
    static CborItem makeBool(bool v);
    static CborItem makeText(const QString& v);
    static CborItem makeBytes(const QByteArray& v);
    static CborItem makeArray(std::vector<CborItem> v = {});
    static CborItem makeMap(std::vector<std::pair<QString, CborItem>> v = {});
    static CborItem makeTag(quint64 tag, CborItem content);

    bool isNumber() const { return kind == Kind::Integer || kind == Kind::Double; }
    // The first entry of a map under `key`, or null.
    const CborItem* find(const QString& key) const;
    // The content of a tag `t`, or null when this is not that tag.
    const CborItem* tagged(quint64 t) const;
};

namespace Cbor {

// Limits on what decode() accepts; anything beyond them is refused as a whole.
inline constexpr int maxDepth = 64;
inline constexpr qsizetype maxInputSize = 64 * 1024 * 1024;
inline constexpr qsizetype maxItems = 1000000;

// Exactly one well-formed item filling `bytes`, within the limits; nothing otherwise.
std::optional<CborItem> decode(const QByteArray& bytes);
// Whether `bytes` are exactly one byte string of definite length within the limits, which decode()
// always reads; told from its head alone.
bool isOneByteString(QByteArrayView bytes);
// The content of such a byte string (a view into `bytes`); nothing when isOneByteString is false.
std::optional<QByteArrayView> oneByteString(QByteArrayView bytes);
// As decode, but the elements of the array under `key` in the top map (its first such entry) are
// checked and not built: that array comes back empty and `elements` learns where each element's
// bytes lie. Each range decodes on its own as the element would have. The limits hold for each
// element on its own, and the array may have up to maxItems elements: a long list whose items
// together pass maxItems is read here, where decode() refuses it.
std::optional<CborItem> decodeLeavingArray(const QByteArray& bytes, const QString& key,
    std::vector<std::pair<qsizetype, qsizetype>>* elements);
// Each of the items at `ranges` of `bytes` (such as decodeLeavingArray gives) as decode() reads it
// on its own, handed to `take` in order; faster than decoding each apart.
void decodeEach(const QByteArray& bytes, const std::vector<std::pair<qsizetype, qsizetype>>& ranges,
    const std::function<void(std::optional<CborItem>)>& take);
// The text under `key` when it is the first entry of the map `map` starts with, both plainly
// written (definite lengths); nothing otherwise, when the map may still hold it.
std::optional<QString> leadingText(QByteArrayView map, QStringView key);
// What can be read of damaged bytes: everything before the damage, each array keeping only its
// whole elements. `complete` learns whether the bytes were sound.
std::optional<CborItem> decodeReadable(const QByteArray& bytes, bool* complete);

QByteArray encode(const CborItem& item);

// Writing items straight into bytes, as encode() writes them: the shortest head for every count
// and integer, definite lengths, doubles in 8 bytes, text as UTF-8.
enum class Major : quint8 {
    Unsigned = 0,
    Negative = 1,
    Bytes = 2,
    Text = 3,
    Array = 4,
    Map = 5,
    Tag = 6
};
void appendHead(QByteArray& out, Major major, quint64 value);
void appendInteger(QByteArray& out, qint64 value);
void appendDouble(QByteArray& out, double value);
void appendBool(QByteArray& out, bool value);
void appendNull(QByteArray& out);
void appendText(QByteArray& out, QStringView text);
void appendBytes(QByteArray& out, QByteArrayView bytes);

} // namespace Cbor

} // namespace Tickerly::Foundation
