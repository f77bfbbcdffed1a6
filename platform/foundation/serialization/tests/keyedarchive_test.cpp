#include "platform/foundation/serialization/KeyedArchive.h"
#include "testsupport/LogCollector.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QCborStreamWriter>

#include <limits>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Every field kind, a nested object and an array of them; "name" is required.
class Sample : public Coding {
public:
    QString name;
    bool flag = false;
    qint64 count = 0;
    double ratio = 0;
    QByteArray bytes;
    QDateTime when;
    std::optional<Url> link;
    QImage picture;
    QStringList tags;
    std::shared_ptr<Sample> child;
    QList<std::shared_ptr<const Coding>> children;
    QString archivedAs = u"Test.Sample"_s;

    QString archivedClassName() const override { return archivedAs; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        coder.encodeString(name, u"name"_s);
        coder.encodeBool(flag, u"flag"_s);
        coder.encodeInteger(count, u"count"_s);
        coder.encodeDouble(ratio, u"ratio"_s);
        coder.encodeData(bytes, u"bytes"_s);
        coder.encodeDate(when, u"when"_s);
        if (link)
            coder.encodeUrl(*link, u"link"_s);
        coder.encodeImage(picture, u"picture"_s);
        coder.encodeStrings(tags, u"tags"_s);
        if (child)
            coder.encodeObject(*child, u"child"_s);
        coder.encodeObjects(children, u"children"_s);
    }

    static std::shared_ptr<Coding> decode(const KeyedUnarchiver& coder)
    {
        auto name = coder.decodeString(u"name"_s);
        if (!name)
            return nullptr;
        auto s = std::make_shared<Sample>();
        s->name = *name;
        s->flag = coder.decodeBool(u"flag"_s).value_or(false);
        s->count = coder.decodeInteger(u"count"_s).value_or(0);
        s->ratio = coder.decodeDouble(u"ratio"_s).value_or(0);
        s->bytes = coder.decodeData(u"bytes"_s).value_or(QByteArray());
        s->when = coder.decodeDate(u"when"_s).value_or(QDateTime());
        s->link = coder.decodeUrl(u"link"_s);
        s->picture = coder.decodeImage(u"picture"_s);
        s->tags = coder.decodeStrings(u"tags"_s).value_or(QStringList());
        s->child = coder.decodeObject<Sample>(u"child"_s);
        for (const auto& c :
            coder.decodeObjects(u"children"_s).value_or(QList<std::shared_ptr<Coding>>()))
            s->children.append(c);
        return s;
    }
};

class KeyedArchiveTest : public testing::Test {
protected:
    void SetUp() override { KeyedUnarchiver::registerClass(u"Test.Sample"_s, &Sample::decode); }
};

std::shared_ptr<Sample> named(const QString& name)
{
    auto s = std::make_shared<Sample>();
    s->name = name;
    return s;
}

QByteArray cbor(const std::function<void(QCborStreamWriter&)>& fn)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    fn(w);
    return out;
}

// A keyed archive's bytes around the root that `root` writes.
QByteArray archive(const std::function<void(QCborStreamWriter&)>& root)
{
    return cbor([&](QCborStreamWriter& w) {
        w.startMap(3);
        w.append(u"$archiver"_s);
        w.append(u"Tickerly"_s);
        w.append(u"$version"_s);
        w.append(1);
        w.append(u"$top"_s);
        root(w);
        w.endMap();
    });
}

} // namespace

TEST_F(KeyedArchiveTest, RoundTripsEveryValueKindAndNestedObjects)
{
    Sample s;
    s.name = u"Ünïcode \U0001F600"_s;
    s.flag = true;
    s.count = -9007199254740993;
    s.ratio = 0.1;
    s.bytes = QByteArray("\0\x01\x02", 3);
    s.when = QDateTime::fromMSecsSinceEpoch(1234567890123, Qt::UTC);
    s.link = Url::fromString(u"https://example.org/feed?a=%20b"_s);
    s.picture = QImage(3, 2, QImage::Format_ARGB32);
    s.picture.fill(qRgba(10, 20, 30, 255));
    s.tags = QStringList { u"x"_s, QString() };
    s.child = named(u"child"_s);
    s.children = { named(u"a"_s), named(u"b"_s) };

    auto back = KeyedUnarchiver::unarchiveObjectWithData<Sample>(
        KeyedArchiver::archivedDataWithRootObject(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, s.name);
    EXPECT_TRUE(back->flag);
    EXPECT_EQ(back->count, s.count);
    EXPECT_EQ(back->ratio, 0.1);
    EXPECT_EQ(back->bytes, s.bytes);
    EXPECT_EQ(back->when, s.when);
    ASSERT_TRUE(back->link);
    EXPECT_EQ(back->link->absoluteString(), s.link->absoluteString());
    EXPECT_EQ(back->picture.size(), QSize(3, 2));
    EXPECT_EQ(back->picture.pixel(1, 1), qRgba(10, 20, 30, 255));
    EXPECT_EQ(back->tags, s.tags);
    ASSERT_TRUE(back->child);
    EXPECT_EQ(back->child->name, u"child"_s);
    ASSERT_EQ(back->children.size(), 2);
    EXPECT_EQ(std::dynamic_pointer_cast<const Sample>(back->children[1])->name, u"b"_s);
}

TEST_F(KeyedArchiveTest, ReadsAnotherClassNameThroughItsAliasAndSkipsRefusedElements)
{
    auto legacy = named(u"old"_s);
    legacy->archivedAs = u"Old.Sample"_s;
    auto unnamed = std::make_shared<Sample>();
    unnamed->archivedAs = u"Unknown.Class"_s;
    const QByteArray data = KeyedArchiver::archivedDataWithRootObjects(
        QList<std::shared_ptr<Sample>> { named(u"one"_s), legacy, unnamed });

    auto before = KeyedUnarchiver::unarchiveArrayWithData(data);
    ASSERT_TRUE(before);
    ASSERT_EQ(before->size(), 3);
    EXPECT_TRUE(before->at(0));
    EXPECT_FALSE(before->at(1));
    EXPECT_FALSE(before->at(2));

    KeyedUnarchiver::setClassForClassName(u"Test.Sample"_s, u"Old.Sample"_s);
    auto after = KeyedUnarchiver::unarchiveArrayWithData(data);
    ASSERT_TRUE(after);
    EXPECT_EQ(std::dynamic_pointer_cast<Sample>(after->at(1))->name, u"old"_s);

    // A decoder that refuses: the required name is missing.
    Sample noName;
    noName.name = u"x"_s;
    QByteArray bytes = KeyedArchiver::archivedDataWithRootObject(noName);
    bytes.replace("name", "nome");
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bytes));
    // A root of another shape.
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(
        KeyedArchiver::archivedDataWithRootObject(*named(u"x"_s))));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(data));
}

TEST_F(KeyedArchiveTest, GivesNothingForBytesThatAreNoArchive)
{
    const QByteArray good
        = KeyedArchiver::archivedDataWithRootObject(*named(u"a fairly long name"_s));
    ASSERT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(good));
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(good.left(n))) << n;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(good + '\0'));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData("bplist00\xd4\x01\x02"));

    // Absurd nesting, and lengths that claim far more than there is.
    QByteArray deep(100000, '\x81');
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(deep + '\x00'));
    EXPECT_FALSE(
        KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("5bffffffffffffff00")));
    EXPECT_FALSE(
        KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("9bffffffffffffffff")));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("7a7fffffff41")));

    // Right shape, wrong field kinds: each typed read gives nothing.
    const QByteArray wrongKinds = archive([](QCborStreamWriter& w) {
        w.startMap(6);
        w.append(u"$class"_s);
        w.append(u"Test.Sample"_s);
        w.append(u"name"_s);
        w.append(u"n"_s);
        w.append(u"count"_s);
        w.append(u"12"_s);
        w.append(u"when"_s);
        w.append(QCborTag(1));
        w.append(1e300);
        w.append(u"link"_s);
        w.append(QCborTag(32));
        w.append(u"not a url"_s);
        w.append(u"picture"_s);
        w.append(QByteArray("\x89PNG junk"));
        w.endMap();
    });
    auto s = KeyedUnarchiver::unarchiveObjectWithData<Sample>(wrongKinds);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->count, 0);
    EXPECT_FALSE(s->when.isValid());
    EXPECT_FALSE(s->link);
    EXPECT_TRUE(s->picture.isNull());
}

namespace {

// A Sample written the way archives have always been written (Qt's CBOR stream writer), so
// that stored archives and new ones stay the same bytes.
void writeSample(QCborStreamWriter& w, const Sample& s)
{
    int fields = 8 + (s.when.isValid() ? 1 : 0) + (s.link ? 1 : 0) + (s.picture.isNull() ? 0 : 1)
        + (s.child ? 1 : 0);
    w.startMap(fields);
    w.append(u"$class"_s);
    w.append(s.archivedAs);
    w.append(u"name"_s);
    w.append(s.name);
    w.append(u"flag"_s);
    w.append(s.flag);
    w.append(u"count"_s);
    w.append(s.count);
    w.append(u"ratio"_s);
    w.append(s.ratio);
    w.append(u"bytes"_s);
    w.append(s.bytes);
    if (s.when.isValid()) {
        w.append(u"when"_s);
        w.append(QCborTag(1));
        w.append(double(s.when.toMSecsSinceEpoch()) / 1000.0);
    }
    if (s.link) {
        w.append(u"link"_s);
        w.append(QCborTag(32));
        w.append(s.link->absoluteString());
    }
    if (!s.picture.isNull()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        s.picture.save(&buffer, "PNG");
        w.append(u"picture"_s);
        w.startMap(2);
        w.append(u"$class"_s);
        w.append(u"Image"_s);
        w.append(u"png"_s);
        w.append(png);
        w.endMap();
    }
    w.append(u"tags"_s);
    w.startArray(quint64(s.tags.size()));
    for (const QString& tag : s.tags)
        w.append(tag);
    w.endArray();
    if (s.child) {
        w.append(u"child"_s);
        writeSample(w, *s.child);
    }
    w.append(u"children"_s);
    w.startArray(quint64(s.children.size()));
    for (const auto& c : s.children) {
        if (c)
            writeSample(w, *std::dynamic_pointer_cast<const Sample>(c));
        else
            w.appendNull();
    }
    w.endArray();
    w.endMap();
}

} // namespace

TEST_F(KeyedArchiveTest, WritesTheSameBytesAsQtsCborWriterForEveryKindAndLength)
{
    // Every width of CBOR head (counts and integers below 24, one, two, four and eight bytes),
    // negative extremes, text that is ASCII, non-ASCII, astral or a lone surrogate, and objects
    // left out of an array.
    const QList<qint64> counts { 0, 23, 24, 255, 256, 65535, 65536, 4294967295, 4294967296, -1, -24,
        -25, -257, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max() };
    const QList<QString> names { QString(), u"plain"_s, u"Ünïcode \U0001F600"_s,
        QString(1, QChar(0xd800)) + u"x"_s, QString(24, u'a'), QString(300, u'é'),
        QString(70000, u'b') };
    QList<std::shared_ptr<Sample>> samples;
    for (qsizetype i = 0; i < counts.size(); ++i) {
        auto s = named(names[i % names.size()]);
        s->count = counts[i];
        s->flag = i % 2;
        s->ratio = i % 3 ? 0.1 * double(i) : -0.0;
        s->bytes = QByteArray(int(i * 20), char(i));
        if (i % 2)
            s->when = QDateTime::fromMSecsSinceEpoch(1234567890123 + i, Qt::UTC);
        if (i % 3 == 0)
            s->link = Url::fromString(u"https://example.org/f?q=%C3%A9&n="_s + QString::number(i));
        s->tags = QStringList(int(i), u"t"_s);
        if (i == 4) {
            s->picture = QImage(2, 2, QImage::Format_ARGB32);
            s->picture.fill(qRgba(1, 2, 3, 4));
            s->child = named(u"nested"_s);
            s->children = { named(u"c"_s), nullptr };
        }
        samples.append(s);
    }
    samples.append(nullptr);

    const QByteArray expected = archive([&](QCborStreamWriter& w) {
        w.startArray(quint64(samples.size()));
        for (const auto& s : samples) {
            if (s)
                writeSample(w, *s);
            else
                w.appendNull();
        }
        w.endArray();
    });
    const QByteArray written = KeyedArchiver::archivedDataWithRootObjects(samples);
    EXPECT_EQ(written.toHex(), expected.toHex());

    const auto back = KeyedUnarchiver::unarchiveArrayWithData(written);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), samples.size());
    for (qsizetype i = 0; i + 1 < samples.size(); ++i) {
        const auto s = std::dynamic_pointer_cast<Sample>(back->at(i));
        ASSERT_TRUE(s) << i;
        EXPECT_EQ(s->count, counts[i]);
        EXPECT_EQ(s->bytes, samples[i]->bytes);
    }
    EXPECT_FALSE(back->back());
}

TEST_F(KeyedArchiveTest, ALaterFieldUnderTheSameKeyReplacesTheEarlierInPlace)
{
    class Twice : public Coding {
    public:
        QString archivedClassName() const override { return u"Test.Sample"_s; }
        void encodeWithCoder(KeyedArchiver& coder) const override
        {
            coder.encodeString(u"first"_s, u"name"_s);
            coder.encodeInteger(7, u"count"_s);
            coder.encodeObject(*named(u"inner"_s), u"name"_s); // another kind under a used key
            coder.encodeString(u"second"_s, u"name"_s);
            coder.encodeString(u"ignored"_s, u"$class"_s);
        }
    };
    const QByteArray expected = archive([](QCborStreamWriter& w) {
        w.startMap(3);
        w.append(u"$class"_s);
        w.append(u"Test.Sample"_s);
        w.append(u"name"_s);
        w.append(u"second"_s);
        w.append(u"count"_s);
        w.append(7);
        w.endMap();
    });
    EXPECT_EQ(KeyedArchiver::archivedDataWithRootObject(Twice()).toHex(), expected.toHex());
}

TEST_F(KeyedArchiveTest, AnArrayReadElementByElementIsTheArrayReadWhole)
{
    auto legacy = named(u"legacy"_s);
    legacy->archivedAs = u"Older.Sample"_s;
    KeyedUnarchiver::setClassForClassName(u"Test.Sample"_s, u"Older.Sample"_s);
    auto unknown = named(u"unknown"_s);
    unknown->archivedAs = u"Unknown.Class"_s;
    auto nested = named(u"nested"_s);
    nested->child = named(u"inner"_s);
    nested->children = { named(u"c1"_s), nullptr };
    const QByteArray data
        = KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<Sample>> {
            named(u"first"_s), nested, legacy, unknown, named(u"last"_s) });
    // Beside what the archiver writes: a null, an element not led by its class, one of no class,
    // in an array of indefinite length.
    const QByteArray handWritten = archive([](QCborStreamWriter& w) {
        w.startArray();
        w.appendNull();
        w.startMap(2);
        w.append(u"name"_s);
        w.append(u"late class"_s);
        w.append(u"$class"_s);
        w.append(u"Test.Sample"_s);
        w.endMap();
        w.startMap(1);
        w.append(u"name"_s);
        w.append(u"classless"_s);
        w.endMap();
        w.startMap(2);
        w.append(u"$class"_s);
        w.append(u"Test.Sample"_s);
        w.append(u"name"_s);
        w.appendTextString("utf8", 4);
        w.endMap();
        w.endArray();
    });

    // The root ahead of the header; in the last element, values in rarer encodings (a two-byte
    // simple value, an undefined, a text in chunks).
    const QByteArray topFirst = cbor([](QCborStreamWriter& w) {
        w.startMap(3);
        w.append(u"$top"_s);
        w.startArray(1);
        writeSample(w, *named(u"only"_s));
        w.endArray();
        w.append(u"$archiver"_s);
        w.append(u"Tickerly"_s);
        w.append(u"$version"_s);
        w.append(1);
        w.endMap();
    });
    QList<QByteArray> variants { data, handWritten, topFirst };
    for (const QByteArray& value : { QByteArray("\xf8\x14"), QByteArray("\xf7"),
             QByteArray("\xf8\x40"), QByteArray("\x7f\x61x\xff") }) {
        QByteArray bytes = archive([](QCborStreamWriter& w) {
            w.startArray(2);
            writeSample(w, *named(u"shown"_s));
            w.startMap(3);
            w.append(u"$class"_s);
            w.append(u"Test.Sample"_s);
            w.append(u"name"_s);
            w.append(u"odd"_s);
            w.append(u"value"_s);
            w.append(u"@@"_s);
            w.endMap();
            w.endArray();
        });
        variants.append(bytes.replace(QByteArray("\x62@@"), value));
    }
    for (const QByteArray& bytes : variants) {
        const auto whole = KeyedUnarchiver::unarchiveArrayWithData(bytes);
        const auto array = ArchivedArray::fromData(bytes);
        ASSERT_EQ(bool(array), bool(whole)) << bytes.toHex().toStdString();
        if (!whole)
            continue;
        ASSERT_EQ(array->size(), whole->size());
        for (qsizetype i = 0; i < array->size(); ++i) {
            const auto one = std::dynamic_pointer_cast<Sample>(array->objectAt(i));
            const auto other = std::dynamic_pointer_cast<Sample>(whole->at(i));
            ASSERT_EQ(bool(one), bool(other)) << i;
            if (one) {
                EXPECT_EQ(one->name, other->name);
                EXPECT_EQ(bool(one->child), bool(other->child));
                EXPECT_EQ(one->children.size(), other->children.size());
                EXPECT_EQ(array->decodingClassAt(i), u"Test.Sample"_s) << i;
            }
        }
        EXPECT_FALSE(array->objectAt(-1));
        EXPECT_FALSE(array->objectAt(array->size()));
    }
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(variants.at(4)));
    EXPECT_TRUE(KeyedUnarchiver::unarchiveArrayWithData(variants.at(6)));
    const auto array = ArchivedArray::fromData(data);
    EXPECT_EQ(std::dynamic_pointer_cast<Sample>(array->objectAt(1))->child->name, u"inner"_s);
    EXPECT_EQ(array->decodingClassAt(3), QString());
    const auto hand = ArchivedArray::fromData(handWritten);
    EXPECT_EQ(hand->decodingClassAt(0), QString());
    EXPECT_EQ(hand->decodingClassAt(2), QString());

    // Whatever the whole reading refuses, this refuses too: every cut, trailing bytes, a root
    // of another shape, an empty list.
    for (qsizetype n = 0; n < data.size(); ++n)
        EXPECT_FALSE(ArchivedArray::fromData(data.left(n))) << n;
    EXPECT_FALSE(ArchivedArray::fromData(data + '\0'));
    EXPECT_FALSE(
        ArchivedArray::fromData(KeyedArchiver::archivedDataWithRootObject(*named(u"x"_s))));
    QByteArray badText = data;
    badText.replace("last", "l\xff\xfet");
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(badText));
    EXPECT_FALSE(ArchivedArray::fromData(badText));
    const auto empty = ArchivedArray::fromData(
        KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<Sample>>()));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 0);
}

// What passes the read limits reads as nothing, and the log says so: an array longer than any
// list the stores write (50,000 stories), in the archiver's order or another, at the top or
// nested, and an archive larger than a stored value may be. What is within them reads whole.
TEST_F(KeyedArchiveTest, AnArchiveOrArrayPastTheReadLimitsReadsAsNothingAndIsLogged)
{
    const auto nulls = [](qsizetype n) {
        return archive([n](QCborStreamWriter& w) {
            w.startArray(quint64(n));
            for (qsizetype i = 0; i < n; ++i)
                w.appendNull();
            w.endArray();
        });
    };
    const qsizetype longest = 50'000;
    ASSERT_EQ(KeyedUnarchiver::unarchiveArrayWithData(nulls(longest))
                  .value_or(QList<std::shared_ptr<Coding>>())
                  .size(),
        longest);
    ASSERT_EQ(KeyedUnarchiver::readableArrayWithData(nulls(longest))
                  .value_or(QList<std::shared_ptr<Coding>>())
                  .size(),
        longest);

    const QByteArray tooLong = nulls(longest + 1);
    const QByteArray tooLongUnsized = archive([&](QCborStreamWriter& w) {
        w.startArray();
        for (qsizetype i = 0; i <= longest; ++i)
            w.appendNull();
        w.endArray();
    });
    auto nested = named(u"holder"_s);
    for (qsizetype i = 0; i <= longest; ++i)
        nested->tags.append(QString());
    auto huge = named(u"huge"_s);
    huge->bytes = QByteArray(KeyedUnarchiver::maxArchiveSize, 'x');
    const QByteArray tooLarge = KeyedArchiver::archivedDataWithRootObject(*huge);
    const QByteArray tooLargeList
        = KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<Sample>> { huge });

    for (const QByteArray& bytes : { tooLong, tooLongUnsized, tooLargeList }) {
        TestSupport::LogCollector log;
        EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(bytes));
        EXPECT_FALSE(KeyedUnarchiver::readableArrayWithData(bytes));
        EXPECT_FALSE(ArchivedArray::fromData(bytes));
        EXPECT_TRUE(log.contains(u"is not read"_s)) << bytes.size();
    }
    TestSupport::LogCollector log;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(tooLarge));
    const auto holder = KeyedUnarchiver::unarchiveObjectWithData<Sample>(
        KeyedArchiver::archivedDataWithRootObject(*nested));
    ASSERT_TRUE(holder);
    EXPECT_TRUE(holder->tags.isEmpty());
    EXPECT_EQ(log.lines().filter(u"is not read"_s).size(), 2)
        << log.lines().join(u'\n').toStdString();
}
