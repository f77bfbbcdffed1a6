#include "platform/foundation/base/Utf8.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

TEST(Utf8, WritesTheReplacementCharacterForUnpairedSurrogates)
{
    const QString pair = u"a\U0001F600b"_s;
    EXPECT_EQ(utf8Encoded(pair), pair.toUtf8());

    QString lone = u"a"_s;
    lone.append(QChar(0xD800)).append(u'b').append(QChar(0xDC00));
    EXPECT_EQ(utf8Encoded(lone),
        QByteArray("a\xEF\xBF\xBD"
                   "b\xEF\xBF\xBD"));

    QString reversed; // a low surrogate before a high one is no pair
    reversed.append(QChar(0xDC00)).append(QChar(0xD800));
    EXPECT_EQ(utf8Encoded(reversed), QByteArray("\xEF\xBF\xBD\xEF\xBF\xBD"));
}

TEST(Utf8, DecodesOnlyWellFormedBytes)
{
    EXPECT_EQ(utf8Decoded(QByteArray("Z\xC3\xBCrich")), u"Zürich"_s);
    EXPECT_EQ(utf8Decoded(QByteArray()), QString());
    EXPECT_EQ(utf8Decoded(QByteArray("\xEF\xBB\xBF"
                                     "a")),
        u"a"_s);
    EXPECT_EQ(utf8Decoded(QByteArray("a\0b", 3))->size(), 3);
    for (const QByteArray& bad :
        { QByteArray("caf\xE9"), QByteArray("\xC3"), QByteArray("\xC0\xAF"),
            QByteArray("\xED\xA0\x80"), QByteArray("\xF4\x90\x80\x80"), QByteArray("\xFF") }) {
        EXPECT_FALSE(utf8Decoded(bad)) << bad.toHex().toStdString();
    }
}
