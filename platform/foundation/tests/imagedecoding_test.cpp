#include "platform/foundation/ImageDecoding.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::TestSupport;

namespace {

QByteArray png(const QImage& image) { return TestSupport::encodedImage(image, "PNG"); }

template <typename T> QByteArray le(T value)
{
    QByteArray b(sizeof(T), 0);
    qToLittleEndian(value, b.data());
    return b;
}

template <typename T> QByteArray be(T value)
{
    QByteArray b(sizeof(T), 0);
    qToBigEndian(value, b.data());
    return b;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : type + data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return be(quint32(data.size())) + type + data + be(~crc);
}

// An interlaced 8-bit RGB picture of one colour: the seven passes' rows, each with its filter byte.
QByteArray interlacedPng(int width, int height)
{
    const int x0[] = { 0, 4, 0, 2, 0, 1, 0 }, y0[] = { 0, 0, 4, 0, 2, 0, 1 };
    const int dx[] = { 8, 8, 4, 4, 2, 2, 1 }, dy[] = { 8, 8, 8, 4, 4, 2, 2 };
    QByteArray raw;
    for (int p = 0; p < 7; ++p) {
        const int w = (width - x0[p] + dx[p] - 1) / dx[p], h = (height - y0[p] + dy[p] - 1) / dy[p];
        if (w > 0)
            raw += QByteArray(h * (1 + 3 * w), char(0x40));
        for (qsizetype row = raw.size() - qsizetype(h) * (1 + 3 * w); w > 0 && row < raw.size();
             row += 1 + 3 * w)
            raw[row] = 0;
    }
    const QByteArray header
        = be(quint32(width)) + be(quint32(height)) + QByteArray("\x08\x02\x00\x00\x01", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header)
        + pngChunk("IDAT", qCompress(raw).mid(4)) + pngChunk("IEND", {});
}

// A GIF whose one frame of a pixel lies on a canvas of `canvas`: the canvas is what is drawn.
// An icon file of one entry holding `picture` (a PNG), its directory saying 256 by 256.
QByteArray ico(const QByteArray& picture)
{
    return le(quint16(0)) + le(quint16(1)) + le(quint16(1)) + QByteArray(4, 0) + le(quint16(1))
        + le(quint16(32)) + le(quint32(picture.size())) + le(quint32(22)) + picture;
}

// A two-colour bitmap of `size`.
QByteArray bmp(QSize size)
{
    const int stride = (size.width() + 31) / 32 * 4;
    const QByteArray pixels(qsizetype(stride) * size.height(), char(0x55));
    const QByteArray info = le(quint32(40)) + le(qint32(size.width())) + le(qint32(size.height()))
        + le(quint16(1)) + le(quint16(1)) + QByteArray(24, 0)
        + QByteArray("\x00\x00\x00\x00\xff\xff\xff\x00", 8);
    return "BM" + le(quint32(14 + info.size() + pixels.size())) + QByteArray(4, 0)
        + le(quint32(14 + info.size())) + info + pixels;
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
    EXPECT_TRUE(decodeImage(png(blank(200, 10)), { .maxSide = 100 }).isNull());
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
        const QImage read = decodeImage(
            png(blank(c.stored.width(), c.stored.height(), QImage::Format_Grayscale8)),
            { .cover = cover, .readWholeUpTo = c.reduceAbove });
        EXPECT_EQ(read.size(), c.read) << c.stored.width() << "x" << c.stored.height();
    }
    EXPECT_TRUE(
        decodeImage(png(blank(maxDecodedImageSide + 1, 1, QImage::Format_Mono)), { .cover = cover })
            .isNull());
    EXPECT_TRUE(decodeImage("not a picture", { .cover = cover }).isNull());
}

// Only 8-bit RGB or RGBA PNG and sequential JPEG are read at a smaller size; any other picture is
// held whole first, however small a file announced it. Past what its use could need, it is no
// picture. The reader's own size misses a GIF's canvas and an icon file's real entries.
TEST(ImageDecoding, RefusesAPictureReadWholeThatIsLargerThanItsUseCanNeed)
{
    const QSize cover(192, 192);
    constexpr qint64 iconPixels = 1024 * 1024;
    auto asIcon = [&](const QByteArray& bytes) {
        return decodeImage(
            bytes, { .cover = cover, .readWholeUpTo = iconPixels, .maxWholePixels = iconPixels });
    };
    const QSize large(2048, 1024);
    QImage indexed(large, QImage::Format_Indexed8);
    indexed.setColorTable({ qRgb(10, 90, 200), qRgb(250, 250, 250) });
    indexed.fill(0);
    const struct {
        const char* kind;
        QByteArray bytes;
    } wholes[] = {
        { "gray PNG", png(blank(large.width(), large.height(), QImage::Format_Grayscale8)) },
        { "palette PNG", png(indexed) },
        { "16-bit PNG", png(blank(large.width(), large.height(), QImage::Format_RGBA64)) },
        { "interlaced PNG", interlacedPng(large.width(), large.height()) },
        { "progressive JPEG",
            TestSupport::encodedImage(
                blank(large.width(), large.height(), QImage::Format_RGB32), "JPEG", true) },
        { "GIF", TestSupport::gifOfCanvas(large) },
        { "ICO", ico(png(blank(2048, 2048, QImage::Format_Grayscale8))) },
        { "BMP", bmp(large) },
    };
    for (const auto& c : wholes) {
        QBuffer buffer;
        buffer.setData(c.bytes);
        ASSERT_TRUE(QImageReader(&buffer).canRead()) << c.kind;
        EXPECT_TRUE(asIcon(c.bytes).isNull()) << c.kind;
    }
    // Ordinary large pictures are still read, at the size that covers the icon.
    EXPECT_EQ(asIcon(png(blank(large.width(), large.height(), QImage::Format_RGB32))).size(),
        QSize(384, 192));
    EXPECT_EQ(asIcon(png(blank(large.width(), large.height()))).size(), QSize(384, 192));
    EXPECT_EQ(asIcon(TestSupport::encodedImage(
                         blank(large.width(), large.height(), QImage::Format_RGB32), "JPEG"))
                  .size(),
        QSize(384, 192));
    // As are pictures of the other formats within the bound: whole, and scaled where their use
    // reads larger pictures reduced.
    EXPECT_EQ(asIcon(TestSupport::gifOfCanvas(QSize(1024, 512))).size(), QSize(1024, 512));
    EXPECT_EQ(asIcon(interlacedPng(1024, 512)).size(), QSize(1024, 512));
    EXPECT_EQ(asIcon(ico(png(blank(256, 256)))).size(), QSize(256, 256));
    EXPECT_EQ(asIcon(TestSupport::encodedImage(blank(64, 64), "ICO")).size(), QSize(64, 64));
    EXPECT_EQ(asIcon(bmp(QSize(1024, 512))).size(), QSize(1024, 512));
    EXPECT_EQ(decodeImage(TestSupport::gifOfCanvas(QSize(2048, 1024)), { .cover = cover }).size(),
        QSize(384, 192));
    EXPECT_EQ(decodeImage(interlacedPng(2048, 1024), { .cover = cover }).size(), QSize(384, 192));

    // A story's picture, read whole, has a larger bound, past which the same holds.
    const QSize banner(16384, 2048);
    EXPECT_TRUE(decodeImage(png(blank(banner.width(), banner.height(), QImage::Format_Grayscale8)))
                    .isNull());
    EXPECT_TRUE(decodeImage(TestSupport::gifOfCanvas(banner)).isNull());
    EXPECT_EQ(decodeImage(TestSupport::gifOfCanvas(QSize(4096, 1024))).size(), QSize(4096, 1024));
    EXPECT_EQ(decodeImage(TestSupport::gifOfCanvas(QSize(3, 2))).size(), QSize(3, 2));
}
