#include "platform/foundation/images/ImageDecoding.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
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

// GIF, ICO, BMP and interlaced PNG are held whole first, however small a file announced them.
// Past what their use could need, they are no picture. The reader's own size misses a GIF's
// canvas and an icon file's real entries.
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
        { "interlaced PNG", interlacedPng(large.width(), large.height()) },
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
    // Ordinary large pictures are still read, at the size that covers the icon: PNG of every
    // colour type and depth, sequential and progressive JPEG.
    const QImage opaque = blank(large.width(), large.height(), QImage::Format_RGB32);
    const struct {
        const char* kind;
        QByteArray bytes;
    } reduced[] = {
        { "RGB PNG", png(opaque) },
        { "RGBA PNG", png(blank(large.width(), large.height())) },
        { "gray PNG", png(blank(large.width(), large.height(), QImage::Format_Grayscale8)) },
        { "palette PNG", png(indexed) },
        { "16-bit PNG", png(blank(large.width(), large.height(), QImage::Format_RGBA64)) },
        { "JPEG", TestSupport::encodedImage(opaque, "JPEG") },
        { "progressive JPEG", TestSupport::encodedImage(opaque, "JPEG", true) },
    };
    for (const auto& c : reduced)
        EXPECT_EQ(asIcon(c.bytes).size(), QSize(384, 192)) << c.kind;
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

namespace {

// A PNG written out here, for the kinds the image writer does not make: `depth` bits a sample,
// `colour` its type, every row `pixel` over and over (for depths under 8, the bytes of pixels).
QByteArray rawPng(int width, int height, int depth, int colour, const QByteArray& pixel)
{
    const int channels[] = { 1, 0, 3, 1, 2, 0, 4 };
    const qsizetype rowBytes = (qsizetype(width) * channels[colour] * depth + 7) / 8;
    QByteArray row(1, 0); // no filter
    while (row.size() < 1 + rowBytes)
        row += pixel;
    QByteArray raw;
    for (int y = 0; y < height; ++y)
        raw += row;
    const QByteArray header
        = be(quint32(width)) + be(quint32(height)) + char(depth) + char(colour) + QByteArray(3, 0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header)
        + pngChunk("IDAT", qCompress(raw).mid(4)) + pngChunk("IEND", {});
}

QColor middleOf(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2
        && std::abs(a.blue() - b.blue()) <= 2 && std::abs(a.alpha() - b.alpha()) <= 2;
}

// 400 by 300, red in the upper half and blue in the lower, as stored.
QImage redOverBlue()
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 150; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), 400, qRgb(255, 0, 0));
    return image;
}

bool reddish(const QColor& c) { return c.red() > 200 && c.blue() < 60; }
bool bluish(const QColor& c) { return c.blue() > 200 && c.red() < 60; }

} // namespace

// Every colour type and depth arrives with its colours and transparency, the picture's parts
// where they were, at the reduced size; the use's bound on pictures held whole does not apply.
TEST(ImageDecoding, ReadsPngOfEveryKindRowByRowWithItsColours)
{
    const ImageUse icon {
        .cover = QSize(192, 192), .readWholeUpTo = 1024 * 1024, .maxWholePixels = 1024 * 1024
    };
    const QSize large(2048, 1024);
    QImage quarters(large, QImage::Format_Indexed8);
    quarters.setColorTable(
        { qRgb(250, 0, 0), qRgb(0, 250, 0), qRgb(0, 0, 250), qRgba(250, 250, 0, 128) });
    for (int y = 0; y < large.height(); ++y)
        for (int x = 0; x < large.width(); ++x)
            quarters.setPixel(x, y, (y < 512 ? 0 : 2) + (x < 1024 ? 0 : 1));
    const QImage palette = decodeImage(png(quarters), icon);
    ASSERT_EQ(palette.size(), QSize(384, 192));
    EXPECT_TRUE(near(palette.pixelColor(10, 10), QColor(250, 0, 0)));
    EXPECT_TRUE(near(palette.pixelColor(373, 10), QColor(0, 250, 0)));
    EXPECT_TRUE(near(palette.pixelColor(10, 181), QColor(0, 0, 250)));
    EXPECT_TRUE(near(palette.pixelColor(373, 181), QColor(250, 250, 0, 128)));

    QImage gray16(large, QImage::Format_Grayscale16);
    gray16.fill(QColor(77, 77, 77));
    QImage rgba16(large, QImage::Format_RGBA64);
    rgba16.fill(QColor(10, 90, 200));
    const struct {
        const char* kind;
        QByteArray bytes;
        QColor colour;
    } kinds[] = {
        { "gray 8", rawPng(2048, 1024, 8, 0, "\x4d"), QColor(77, 77, 77) },
        { "gray 16", png(gray16), QColor(77, 77, 77) },
        { "gray 1", rawPng(2048, 1024, 1, 0, "\xff"), QColor(255, 255, 255) },
        { "gray and alpha", rawPng(2048, 1024, 8, 4, "\xc8\x80"), QColor(200, 200, 200, 128) },
        { "gray and alpha 16", rawPng(2048, 1024, 16, 4, QByteArray("\xc8\xc8\x80\x80", 4)),
            QColor(200, 200, 200, 128) },
        { "RGB 16", png(rgba16), QColor(10, 90, 200) },
        { "RGBA 8", rawPng(2048, 1024, 8, 6, "\x0a\x5a\xc8\x40"), QColor(10, 90, 200, 64) },
    };
    for (const auto& c : kinds) {
        const QImage read = decodeImage(c.bytes, icon);
        EXPECT_EQ(read.size(), QSize(384, 192)) << c.kind;
        EXPECT_TRUE(near(middleOf(read), c.colour))
            << c.kind << ": " << middleOf(read).name(QColor::HexArgb).toStdString();
    }
    ImageRefusal refusal = ImageRefusal::None;
    EXPECT_TRUE(decodeImage(rawPng(2048, 1024, 8, 0, "\x4d").left(200), icon, &refusal).isNull());
    EXPECT_EQ(refusal, ImageRefusal::NoPicture);
}

// A progressive JPEG's decoder holds every coefficient of the picture, whatever size it reads:
// past the bound on that cost it is refused for its size, however few bytes announce it. A
// sequential one of the same size is read a few rows at a time, so the bound is not its own.
TEST(ImageDecoding, RefusesAProgressiveJpegWhoseCoefficientsCostTooMuch)
{
    for (const bool progressive : { true, false }) {
        QByteArray bytes
            = TestSupport::encodedImage(blank(64, 64, QImage::Format_RGB32), "JPEG", progressive);
        const qsizetype frame = bytes.indexOf(progressive ? "\xff\xc2" : "\xff\xc0");
        ASSERT_GT(frame, 0);
        // 6000 by 5000 with full colour: six bytes of coefficients a pixel.
        bytes.replace(frame + 5, 4, be(quint16(5000)) + be(quint16(6000)));
        for (int c = 0; c < 3; ++c)
            bytes[frame + 11 + 3 * c] = 0x11;
        ImageRefusal refusal = ImageRefusal::None;
        const QImage read = decodeImage(bytes, { .cover = QSize(100, 150) }, &refusal);
        if (progressive) {
            EXPECT_TRUE(read.isNull());
            EXPECT_EQ(refusal, ImageRefusal::TooLarge);
        } else {
            EXPECT_NE(refusal, ImageRefusal::TooLarge);
        }
    }
}

// A phone's photo says in its Exif block how it was held: it is drawn so, whole and read at a
// reduced size, sequential or progressive.
TEST(ImageDecoding, TurnsAPhotoUprightAsItsExifOrientationSays)
{
    for (const bool progressive : { false, true }) {
        const QByteArray jpeg = TestSupport::encodedImage(redOverBlue(), "JPEG", progressive);
        for (const ImageUse& use : { ImageUse {}, ImageUse { .cover = QSize(30, 40) } }) {
            const bool reduced = !use.cover.isEmpty();
            const QImage right = decodeImage(withExifOrientation(jpeg, 6), use);
            ASSERT_EQ(right.size(), reduced ? QSize(30, 40) : QSize(300, 400));
            const int w = right.width(), h = right.height();
            EXPECT_TRUE(reddish(right.pixelColor(w - 2, h / 2))) << progressive << reduced;
            EXPECT_TRUE(bluish(right.pixelColor(1, h / 2))) << progressive << reduced;

            const QImage left = decodeImage(withExifOrientation(jpeg, 8), use);
            ASSERT_EQ(left.size(), right.size());
            EXPECT_TRUE(reddish(left.pixelColor(1, h / 2))) << progressive << reduced;

            const QImage down = decodeImage(withExifOrientation(jpeg, 3), use);
            ASSERT_EQ(down.size(), reduced ? QSize(54, 40) : QSize(400, 300));
            EXPECT_TRUE(reddish(down.pixelColor(down.width() / 2, down.height() - 2)));

            const QImage asStored = decodeImage(withExifOrientation(jpeg, 1), use);
            EXPECT_TRUE(reddish(asStored.pixelColor(asStored.width() / 2, 1)));
        }
    }
}
