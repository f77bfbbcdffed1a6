// Reading back a kept-change journal, as a crash or a damaged disk may leave it.

#include "platform/foundation/store/KeptJournal_p.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

KeptJournal::Entry entry(char n, const QString& kind, const QString& key)
{
    CborItem arguments;
    arguments.kind = CborItem::Kind::Text;
    arguments.text = QString(4, QChar(u'a' + n));
    return { QByteArray(16, n), kind, key, arguments };
}

void expectSame(const KeptJournal::Entry& read, const KeptJournal::Entry& written)
{
    EXPECT_EQ(read.id, written.id);
    EXPECT_EQ(read.kind, written.kind);
    EXPECT_EQ(read.key, written.key);
    EXPECT_EQ(read.arguments.text, written.arguments.text);
}

} // namespace

TEST(KeptJournal, EntriesReadBackInOrderAndACutLastOneIsLeft)
{
    const auto first = entry(1, u"set"_s, u"sources"_s);
    const auto second = entry(2, u"sources.add"_s, u"sources"_s);
    const QByteArray whole = KeptJournal::frame(first) + KeptJournal::frame(second);

    const auto all = KeptJournal::read(whole);
    ASSERT_EQ(all.entries.size(), 2u);
    expectSame(all.entries[0], first);
    expectSame(all.entries[1], second);
    EXPECT_EQ(all.skipped, 0);
    EXPECT_FALSE(all.truncated);

    // Every cut inside the second frame (its header too) leaves the first whole.
    const qsizetype firstSize = KeptJournal::frame(first).size();
    for (qsizetype cut = firstSize + 1; cut < whole.size(); ++cut) {
        const auto part = KeptJournal::read(whole.left(cut));
        ASSERT_EQ(part.entries.size(), 1u) << cut;
        expectSame(part.entries[0], first);
        EXPECT_TRUE(part.truncated) << cut;
    }
}

TEST(KeptJournal, DamagedFramesAreSkippedOrEndTheReading)
{
    const auto first = entry(1, u"set"_s, u"a"_s);
    const auto last = entry(3, u"set"_s, u"c"_s);

    // A whole frame whose payload is no entry (garbage, a wrong id, no kind) is skipped alone.
    QByteArray garbage = KeptJournal::frame(entry(2, u"set"_s, u"b"_s));
    garbage.replace(4, garbage.size() - 4, QByteArray(garbage.size() - 4, '\xff'));
    auto shortId = entry(2, u"set"_s, u"b"_s);
    shortId.id = "short";
    auto noKind = entry(2, QString(), u"b"_s);
    const auto skipped = KeptJournal::read(KeptJournal::frame(first) + garbage
        + KeptJournal::frame(shortId) + KeptJournal::frame(noKind) + KeptJournal::frame(last));
    ASSERT_EQ(skipped.entries.size(), 2u);
    expectSame(skipped.entries[0], first);
    expectSame(skipped.entries[1], last);
    EXPECT_EQ(skipped.skipped, 3);
    EXPECT_FALSE(skipped.truncated);

    // A length past the bound cannot find the next frame: the reading ends there, without
    // reserving what it claims.
    const QByteArray huge = QByteArray("\x7f\xff\xff\xff", 4) + KeptJournal::frame(last);
    const auto ended = KeptJournal::read(KeptJournal::frame(first) + huge);
    ASSERT_EQ(ended.entries.size(), 1u);
    EXPECT_TRUE(ended.truncated);

    // Zeros, as a file extended but never written may hold, are empty frames skipped one by one.
    const auto zeros = KeptJournal::read(KeptJournal::frame(first) + QByteArray(16, '\0'));
    EXPECT_EQ(zeros.entries.size(), 1u);
    EXPECT_EQ(zeros.skipped, 4);
}

TEST(KeptJournal, AnEntryLargerThanTheBoundIsNotFramed)
{
    auto large = entry(1, u"set"_s, u"a"_s);
    large.arguments.text = QString(KeptJournal::maxEntrySize, u'x');
    EXPECT_TRUE(KeptJournal::frame(large).isEmpty());
}
