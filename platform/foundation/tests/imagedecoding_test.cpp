#include "platform/foundation/ImageDecoding.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage blank(int width, int height, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(width, height, format);
    image.fill(0);
    return image;
}

} // namespace

TEST(ImageDecoding, DecodesOrdinaryPicturesAndRefusesWhatIsNoneOrTooLarge)
{
    const QImage small = decodeImage(png(blank(30, 20)));
    ASSERT_FALSE(small.isNull());
    EXPECT_EQ(small.size(), QSize(30, 20));

    EXPECT_TRUE(decodeImage({}).isNull());
    EXPECT_TRUE(decodeImage("<html>not a picture</html>").isNull());
    EXPECT_TRUE(decodeImage(png(blank(30, 20)).left(40)).isNull());

    // A few hundred bytes can announce a picture of hundreds of megabytes.
    EXPECT_TRUE(decodeImage(png(blank(maxDecodedImageSide + 1, 1, QImage::Format_Mono))).isNull());
    EXPECT_TRUE(decodeImage(png(blank(8000, 6000, QImage::Format_Mono))).isNull());
    EXPECT_TRUE(decodeImage(png(blank(200, 10)), 100).isNull());
}

TEST(ImageDecoding, ReadsALargePictureAtTheSizeThatCoversItsUse)
{
    const QSize cover(100, 100);
    const struct {
        QSize stored;
        qint64 reduceAbove;
        QSize read;
    } cases[] = {
        { QSize(4000, 1000), 0, QSize(400, 100) },
        { QSize(1000, 4000), 0, QSize(100, 400) },
        { QSize(300, 300), 0, QSize(100, 100) },
        { QSize(80, 300), 0, QSize(80, 300) }, // already no larger than it must be
        { QSize(300, 300), 300 * 300, QSize(300, 300) }, // not above the bound: read whole
        { QSize(301, 300), 300 * 300, QSize(101, 100) },
    };
    for (const auto& c : cases) {
        const QImage read = decodeImageToCover(png(blank(c.stored.width(), c.stored.height(), QImage::Format_Grayscale8)), cover, c.reduceAbove);
        EXPECT_EQ(read.size(), c.read) << c.stored.width() << "x" << c.stored.height();
    }
    EXPECT_TRUE(decodeImageToCover(png(blank(maxDecodedImageSide + 1, 1, QImage::Format_Mono)), cover).isNull());
    EXPECT_TRUE(decodeImageToCover("not a picture", cover).isNull());
}
