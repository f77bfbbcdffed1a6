#include "platform/foundation/GroupContainer.h"
#include "platform/foundation/UserDefaults.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QUrl>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString suite = u"test.suite"_s;

QString databasePath(const QString& name)
{
    return *GroupContainer::path(name) + u"/Preferences/"_s + name + u".sqlite"_s;
}

std::unique_ptr<QProcess> startHelper(const QStringList& args)
{
    auto p = std::make_unique<QProcess>();
    p->setProgram(testsupport::helperPath(u"store_helper"_s));
    p->setArguments(args);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start();
    return p;
}

bool finishedOk(QProcess& p)
{
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

TEST(UserDefaults, KeepsEveryValueKindAndShowsItToEveryHandle)
{
    UserDefaults writer(suite);
    UserDefaults reader(suite);
    ASSERT_TRUE(writer.isPersistent());
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    const QVariantMap nested { { u"list"_s, QVariantList { 1, u"two"_s, 3.5 } }, { u"flag"_s, true } };

    EXPECT_TRUE(writer.set(u"text"_s, u"héllo"_s));
    EXPECT_TRUE(writer.set(u"empty"_s, QString(u""_s)));
    EXPECT_TRUE(writer.set(u"int"_s, -42));
    EXPECT_TRUE(writer.set(u"double"_s, 2.25));
    EXPECT_TRUE(writer.set(u"bool"_s, true));
    EXPECT_TRUE(writer.set(u"data"_s, QByteArray("\x00\x01\xff", 3)));
    EXPECT_TRUE(writer.set(u"date"_s, when));
    EXPECT_TRUE(writer.set(u"dict"_s, nested));
    EXPECT_TRUE(writer.set(u"names"_s, QStringList { u"a"_s, u"b"_s }));

    EXPECT_EQ(reader.string(u"text"_s), u"héllo"_s);
    // A stored empty text is a value, not an absent one.
    EXPECT_EQ(reader.string(u"empty"_s), QString());
    EXPECT_TRUE(reader.string(u"empty"_s).has_value());
    EXPECT_EQ(reader.integer(u"int"_s), -42);
    EXPECT_EQ(reader.doubleValue(u"double"_s), 2.25);
    EXPECT_TRUE(reader.boolean(u"bool"_s));
    EXPECT_EQ(reader.data(u"data"_s), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(reader.date(u"date"_s), when);
    EXPECT_EQ(reader.dictionary(u"dict"_s), nested);
    EXPECT_EQ(reader.array(u"names"_s), (QVariantList { u"a"_s, u"b"_s }));

    // The conversions readers rely on: numbers read as text, text as numbers.
    EXPECT_EQ(reader.string(u"int"_s), u"-42"_s);
    EXPECT_EQ(reader.integer(u"double"_s), 2);
    EXPECT_FALSE(reader.data(u"text"_s).has_value());
    EXPECT_FALSE(reader.string(u"missing"_s).has_value());
    EXPECT_EQ(reader.integer(u"missing"_s), 0);

    EXPECT_TRUE(writer.remove(u"text"_s));
    EXPECT_FALSE(reader.value(u"text"_s).isValid());
}

TEST(UserDefaults, RefusesValuesThatAreNoPropertyListsAndKeepsTheOldOne)
{
    UserDefaults defaults(suite);
    defaults.set(u"k"_s, 1);
    EXPECT_FALSE(defaults.set(u"k"_s, QUrl(u"http://x/"_s)));
    EXPECT_FALSE(defaults.set(u"k"_s, QVariantList { 1, QUrl(u"http://x/"_s) }));
    EXPECT_EQ(defaults.integer(u"k"_s), 1);
    EXPECT_FALSE(defaults.update(u"k"_s, [](const auto&) { return std::optional<QVariant>(QVariant(QUrl())); }));
    EXPECT_EQ(defaults.integer(u"k"_s), 1);
}

TEST(UserDefaults, AnUnsignedNumberPastTheSignedRangeIsRefusedNotStoredNegative)
{
    UserDefaults defaults(suite);
    defaults.set(u"k"_s, 1);
    for (const QVariant& huge : { QVariant::fromValue(std::numeric_limits<unsigned long>::max()),
             QVariant::fromValue(std::numeric_limits<qulonglong>::max()) }) {
        EXPECT_FALSE(defaults.set(u"k"_s, huge)) << huge.metaType().name();
        EXPECT_EQ(defaults.integer(u"k"_s), 1);
    }
    EXPECT_TRUE(defaults.set(u"k"_s, QVariant::fromValue(static_cast<unsigned long>(1) << 62)));
    EXPECT_EQ(defaults.integer(u"k"_s), qint64(1) << 62);
}

TEST(UserDefaults, UpdateKeepsRemovesOrReplacesTheValueItRead)
{
    UserDefaults defaults(suite);
    std::optional<QVariant> seen = QVariant(u"sentinel"_s);
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const std::optional<QVariant>& current) {
        seen = current;
        return std::optional<QVariant>(QVariant(7));
    }));
    EXPECT_FALSE(seen.has_value());
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const std::optional<QVariant>& current) {
        seen = current;
        return std::optional<QVariant>();
    }));
    EXPECT_EQ(seen, QVariant(qint64(7)));
    EXPECT_EQ(defaults.integer(u"k"_s), 7);
    EXPECT_TRUE(defaults.update(u"k"_s, [](const auto&) { return std::optional<QVariant>(QVariant()); }));
    EXPECT_FALSE(defaults.value(u"k"_s).isValid());

    // Inside an update the suite can be read; a nested update fails rather than deadlocks.
    defaults.set(u"other"_s, 3);
    bool nested = true;
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const auto&) {
        UserDefaults again(suite);
        nested = again.update(u"other"_s, [](const auto&) { return std::optional<QVariant>(QVariant(4)); });
        return std::optional<QVariant>(QVariant(again.integer(u"other"_s) * 10));
    }));
    EXPECT_FALSE(nested);
    EXPECT_EQ(defaults.integer(u"k"_s), 30);
}

TEST(UserDefaults, TwoProcessesChangingOneKeyLoseNothing)
{
    auto a = startHelper({ u"increment"_s, suite, u"count"_s, u"500"_s });
    auto b = startHelper({ u"increment"_s, suite, u"count"_s, u"500"_s });
    ASSERT_TRUE(finishedOk(*a));
    ASSERT_TRUE(finishedOk(*b));
    EXPECT_EQ(UserDefaults(suite).integer(u"count"_s), 1000);

    auto c = startHelper({ u"append"_s, suite, u"list"_s, u"c"_s, u"200"_s });
    auto d = startHelper({ u"append"_s, suite, u"list"_s, u"d"_s, u"200"_s });
    ASSERT_TRUE(finishedOk(*c));
    ASSERT_TRUE(finishedOk(*d));
    const QVariantList list = UserDefaults(suite).array(u"list"_s).value_or(QVariantList());
    QSet<QString> entries;
    for (const QVariant& v : list)
        entries.insert(v.toString());
    EXPECT_EQ(list.size(), 400);
    EXPECT_EQ(entries.size(), 400);
    EXPECT_TRUE(entries.contains(u"c199"_s) && entries.contains(u"d0"_s));
}

TEST(UserDefaults, AWriterKilledInTheMiddleLeavesItsLastCommittedValue)
{
    auto writer = startHelper({ u"write-loop"_s, suite, u"k"_s });
    qint64 lastPrinted = 0;
    ASSERT_TRUE(testsupport::waitFor([&] {
        while (writer->canReadLine())
            lastPrinted = writer->readLine().trimmed().toLongLong();
        writer->waitForReadyRead(10);
        return lastPrinted >= 40;
    }, 60000));
    writer->kill();
    ASSERT_TRUE(writer->waitForFinished(10000));
    while (writer->canReadLine())
        lastPrinted = writer->readLine().trimmed().toLongLong();

    UserDefaults after(suite);
    ASSERT_TRUE(after.isPersistent());
    const QVariantMap value = after.dictionary(u"k"_s).value_or(QVariantMap());
    const qint64 n = value.value(u"n"_s).toLongLong();
    // The kill may land after a commit and before its number was printed.
    EXPECT_GE(n, lastPrinted);
    EXPECT_LE(n, lastPrinted + 1);
    EXPECT_EQ(value.value(u"padding"_s).toByteArray().size(), 256 * 1024);
}

TEST(UserDefaults, ADamagedDatabaseIsKeptAsideAndTheSuiteStartsAnew)
{
    const QString path = databasePath(suite);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QByteArray junk(64 * 1024, '\0');
    for (auto& c : junk)
        c = char(QRandomGenerator::global()->bounded(256));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }

    UserDefaults defaults(suite);
    EXPECT_TRUE(defaults.isPersistent());
    EXPECT_FALSE(defaults.value(u"anything"_s).isValid());
    EXPECT_TRUE(defaults.set(u"k"_s, 5));
    EXPECT_EQ(defaults.integer(u"k"_s), 5);
    EXPECT_EQ(testsupport::readFile(path + u".corrupt"_s), junk);
}

TEST(UserDefaults, ASuiteThatCannotBeOpenedRunsInMemory)
{
    // A file where the suite's directory should be.
    const QString container = *GroupContainer::path(u"blocked.suite"_s);
    ASSERT_TRUE(QDir().mkpath(container));
    QFile blocker(container + u"/Preferences"_s);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    UserDefaults defaults(u"blocked.suite"_s);
    EXPECT_FALSE(defaults.isPersistent());
    EXPECT_TRUE(defaults.set(u"k"_s, u"v"_s));
    EXPECT_EQ(UserDefaults(u"blocked.suite"_s).string(u"k"_s), u"v"_s);

    // A suite name that would leave the container never touches the disk.
    EXPECT_FALSE(UserDefaults(u"../escape"_s).isPersistent());
}
