#pragma once

#include "platform/linkwork/Namespace.h"
#include "platform/linkwork/Result.h"
#include "tickerlylinkwork_export.h"

#include <nlohmann/json.hpp>

#include <QByteArrayView>
#include <QVariant>

#include <optional>

namespace Tickerly::Linkwork {

// Reading JSON documents: one strict reader for every JSON the programs take in, and the
// result-returning conversion the promise library's users chain onto.
//
// The reader refuses invalid UTF-8, keeps Booleans, integers and doubles apart, keeps the last
// of duplicate keys, and refuses documents nested deeper than `MaxNestingDepth`, so that no
// later walk over a hostile reply can exhaust the stack. Thread-safe.
namespace JSONSerialization {

enum ReadingOptions {
    NoReadingOptions = 0,
    // A bare string, number, true, false or null is accepted as a whole document.
    AllowFragments = 4,
};

enum WritingOptions {
    NoWritingOptions = 0,
    PrettyPrinted = 1,
};

inline const QString ErrorDomain = QStringLiteral("JSONSerializationErrorDomain");
inline constexpr int ErrorInvalidDocument = 1;
inline constexpr int ErrorFragmentNotAllowed = 2;
inline constexpr int ErrorTooDeep = 3;
inline constexpr int ErrorNotWritable = 4;
inline constexpr int MaxNestingDepth = 512;

// The document in `data`, or Error of `ErrorDomain` with a message naming what was wrong.
TICKERLYLINKWORK_EXPORT Result<nlohmann::json> read(QByteArrayView data, int options);

// `value` as UTF-8 JSON text, compact or pretty printed (two spaces). Error when the top level
// is neither an array nor an object, or when a number is infinite or NaN (JSON has no text for
// them). Text that is not valid UTF-8 is written with U+FFFD in place of the broken bytes.
TICKERLYLINKWORK_EXPORT Result<QByteArray> write(const nlohmann::json& value, int options);

// `value` as Qt values: objects become QVariantMap, arrays QVariantList, strings QString,
// numbers qint64, quint64 or double, Booleans bool and null a null QVariant.
TICKERLYLINKWORK_EXPORT QVariant toVariant(const nlohmann::json& value);

} // namespace JSONSerialization

// The top-level object of a parsed JSON document. A plain value.
class TICKERLYLINKWORK_EXPORT JSONSerializationResult {
public:
    explicit JSONSerializationResult(QVariant object)
        : m_object(std::move(object))
    {
    }
    const QVariant& object() const { return m_object; }
    // The object as a dictionary, or nothing when the document is not an object.
    std::optional<QVariantMap> dictionaryValue() const;

private:
    QVariant m_object;
};

// The document in `data` read with `options`; Error when the data is no JSON (with no options,
// a document that is a bare scalar is no JSON).
TICKERLYLINKWORK_EXPORT Result<JSONSerializationResult> toJSON(int options, QByteArrayView data);

} // namespace Tickerly::Linkwork
