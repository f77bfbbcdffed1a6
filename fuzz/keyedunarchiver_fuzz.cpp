#include "platform/foundation/serialization/KeyedArchive.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {
// Reads every kind of field, and nested objects through itself.
class Probe : public Coding {
public:
    QString archivedClassName() const override { return u"Probe"_s; }
    void encodeWithCoder(KeyedArchiver&) const override { }
};
std::shared_ptr<Coding> decodeProbe(const KeyedUnarchiver& c)
{
    for (const QString& key :
        { u"s"_s, u"b"_s, u"i"_s, u"d"_s, u"data"_s, u"date"_s, u"url"_s, u"img"_s, u"list"_s }) {
        (void)c.decodeString(key), (void)c.decodeBool(key), (void)c.decodeInteger(key),
            (void)c.decodeDouble(key);
        (void)c.decodeData(key), (void)c.decodeDate(key), (void)c.decodeUrl(key),
            (void)c.decodeImage(key);
        (void)c.decodeStrings(key), (void)c.decodeObject(key), (void)c.decodeObjects(key);
    }
    return std::make_shared<Probe>();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (KeyedUnarchiver::registerClass(u"Probe"_s, &decodeProbe),
        KeyedUnarchiver::setClassForClassName(u"Probe"_s, u"Old.Probe"_s), true);
    (void)registered;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)KeyedUnarchiver::unarchiveObjectWithData(bytes);
    const auto whole = KeyedUnarchiver::unarchiveArrayWithData(bytes);
    (void)KeyedUnarchiver::readableArrayWithData(bytes);
    // Read one element at a time, the list must be the same as read whole.
    const auto array = ArchivedArray::fromData(bytes);
    if (bool(array) != bool(whole) || (array && array->size() != whole->size()))
        __builtin_trap();
    for (qsizetype i = 0; array && i < array->size(); ++i) {
        if (bool(array->objectAt(i)) != bool(whole->at(i)))
            __builtin_trap();
        (void)array->decodingClassAt(i);
    }
    return 0;
}
