#include "platform/foundation/KeyedArchive.h"
#include "testsupport/TestSupport.h"

#include <QCborStreamWriter>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

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
        for (const auto& c : coder.decodeObjects(u"children"_s).value_or(QList<std::shared_ptr<Coding>>()))
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

// The header map of an archive, up to its root.
void archiveHeader(QCborStreamWriter& w)
{
    w.startMap(3);
    w.append(u"$archiver"_s);
    w.append(u"Tickerly"_s);
    w.append(u"$version"_s);
    w.append(1);
    w.append(u"$top"_s);
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

    auto back = KeyedUnarchiver::unarchiveObjectWithData<Sample>(KeyedArchiver::archivedDataWithRootObject(s));
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
    const QByteArray data = KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<Sample>> { named(u"one"_s), legacy, unnamed });

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
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(KeyedArchiver::archivedDataWithRootObject(*named(u"x"_s))));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(data));
}

TEST_F(KeyedArchiveTest, GivesNothingForBytesThatAreNoArchive)
{
    const QByteArray good = KeyedArchiver::archivedDataWithRootObject(*named(u"a fairly long name"_s));
    ASSERT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(good));
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(good.left(n))) << n;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(good + '\0'));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData("bplist00\xd4\x01\x02"));

    // Absurd nesting, and lengths that claim far more than there is.
    QByteArray deep(100000, '\x81');
    EXPECT_FALSE(KeyedUnarchiver::unarchiveArrayWithData(deep + '\x00'));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("5bffffffffffffff00")));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("9bffffffffffffffff")));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(QByteArray::fromHex("7a7fffffff41")));

    // Right shape, wrong field kinds: each typed read gives nothing.
    const QByteArray wrongKinds = cbor([](QCborStreamWriter& w) {
        archiveHeader(w);
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
        w.endMap();
    });
    auto s = KeyedUnarchiver::unarchiveObjectWithData<Sample>(wrongKinds);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->count, 0);
    EXPECT_FALSE(s->when.isValid());
    EXPECT_FALSE(s->link);
    EXPECT_TRUE(s->picture.isNull());
}

// Archives already stored were written by Qt's stream writer; what is written now must be the
// same bytes, at every width of a number or length.
TEST_F(KeyedArchiveTest, WritesTheBytesOfQtsOwnStreamWriter)
{
    const qint64 counts[] = { 0, 23, 24, 255, 256, 65535, 65536, 4294967295LL, 4294967296LL,
        std::numeric_limits<qint64>::max(), -1, -24, -25, -256, -257, -65537,
        std::numeric_limits<qint64>::min() };
    const double ratios[] = { 0.1, -0.0, 1.0, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), 1e300 };
    const QString names[] = { u"plain"_s, u"Ünïcode \U0001F600"_s, QString(QChar(0xd800)) + u"x"_s,
        QString(300, u'n'), QString() };

    QList<std::shared_ptr<const Coding>> root;
    for (size_t i = 0; i < std::size(counts); ++i) {
        auto s = named(names[i % std::size(names)]);
        s->count = counts[i];
        s->ratio = ratios[i % std::size(ratios)];
        s->flag = i % 2;
        s->bytes = QByteArray(int(i * i * 300), 'b');
        if (i % 3 == 0)
            s->when = QDateTime::fromMSecsSinceEpoch(qint64(i) * 1234567890123, Qt::UTC);
        if (i % 4 == 0)
            s->link = Url::fromString(u"https://example.org/%1"_s.arg(i));
        s->tags = QStringList(int(i * 2), u"t"_s);
        if (i == 3)
            s->child = named(u"child"_s);
        if (i == 5)
            s->children = { named(u"a"_s), nullptr };
        root.append(s);
    }
    root.append(nullptr);

    std::function<void(QCborStreamWriter&, const Sample&)> object;
    const auto objects
        = [&object](QCborStreamWriter& w, const QList<std::shared_ptr<const Coding>>& list) {
              w.startArray(quint64(list.size()));
              for (const auto& c : list) {
                  if (c)
                      object(w, static_cast<const Sample&>(*c));
                  else
                      w.appendNull();
              }
              w.endArray();
          };
    object = [&object, &objects](QCborStreamWriter& w, const Sample& s) {
        w.startMap(8 + (s.when.isValid() ? 1 : 0) + (s.link ? 1 : 0) + (s.child ? 1 : 0));
        w.append(u"$class"_s);
        w.append(u"Test.Sample"_s);
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
        w.append(u"tags"_s);
        w.startArray(quint64(s.tags.size()));
        for (const QString& tag : s.tags)
            w.append(tag);
        w.endArray();
        if (s.child) {
            w.append(u"child"_s);
            object(w, *s.child);
        }
        w.append(u"children"_s);
        objects(w, s.children);
        w.endMap();
    };
    const QByteArray expected = cbor([&](QCborStreamWriter& w) {
        archiveHeader(w);
        objects(w, root);
        w.endMap();
    });
    const QByteArray written = KeyedArchiver::archivedDataWithRootArray(root);
    const auto differ
        = std::mismatch(written.cbegin(), written.cend(), expected.cbegin(), expected.cend());
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_EQ(differ.first - written.cbegin(), written.size()) << "first different byte";
}
