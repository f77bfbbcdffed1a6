#include "data/discovery/ImageScaling.h"
#include "testsupport/TestSupport.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

namespace {

// Left half red, right half blue.
QImage halves(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    return image;
}

bool isOpaque(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) == 255; }

} // namespace

TEST(ImageScaling, FillsTheSquareAndCutsTheCornersOfSquareWideAndTallPictures)
{
    for (const QSize size : { QSize(300, 300), QSize(160, 120), QSize(120, 160), QSize(50, 50) }) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        QImage picture(size, QImage::Format_ARGB32);
        picture.fill(Qt::red);
        const QImage icon = scaleAndSquircle(picture, QSizeF(96, 96));
        ASSERT_EQ(icon.size(), QSize(96, 96));
        for (const QPoint corner : { QPoint(0, 0), QPoint(95, 0), QPoint(0, 95), QPoint(95, 95) })
            EXPECT_EQ(qAlpha(icon.pixel(corner)), 0);
        EXPECT_EQ(icon.pixel(48, 48), QColor(Qt::red).rgba());
        // The outline reaches every edge, the bottom one too.
        EXPECT_TRUE(isOpaque(icon, 48, 1));
        EXPECT_TRUE(isOpaque(icon, 48, 94));
        EXPECT_TRUE(isOpaque(icon, 1, 48));
        EXPECT_TRUE(isOpaque(icon, 94, 48));
    }

    // The mask lies over the drawing, which overflows the square on one axis: a very tall
    // picture keeps its lowest rows as it does its top ones.
    QImage tall(1, 10000, QImage::Format_ARGB32);
    tall.fill(Qt::red);
    const QImage icon = scaleAndSquircle(tall, QSizeF(96, 96));
    ASSERT_EQ(icon.size(), QSize(96, 96));
    EXPECT_EQ(icon.pixel(48, 95), icon.pixel(48, 0));
    EXPECT_EQ(icon.pixel(48, 48), QColor(Qt::red).rgba());
}

TEST(ImageScaling, ShowsTheMiddleOfAWidePictureAndScalesUp)
{
    const QImage icon = scaleAndApplyMask(halves(200, 100), QSizeF(96, 96));
    ASSERT_EQ(icon.size(), QSize(96, 96));
    // Without a mask, nothing is cut.
    EXPECT_TRUE(isOpaque(icon, 0, 0));
    EXPECT_EQ(icon.pixel(20, 48), QColor(Qt::red).rgba());
    EXPECT_EQ(icon.pixel(75, 48), QColor(Qt::blue).rgba());

    const QImage large = scaleAndApplyMask(halves(50, 50), QSizeF(96.7, 96.2));
    EXPECT_EQ(large.size(), QSize(96, 96));
    EXPECT_EQ(large.pixel(90, 90), QColor(Qt::blue).rgba());
}

TEST(ImageScaling, GivesAnEmptyImageForNothingToDrawOrNoSize)
{
    const QImage picture = halves(10, 10);
    EXPECT_TRUE(scaleAndSquircle(QImage(), QSizeF(96, 96)).isNull());
    EXPECT_TRUE(scaleAndSquircle(picture, QSizeF(0, 96)).isNull());
    EXPECT_TRUE(scaleAndSquircle(picture, QSizeF(96, 0.5)).isNull());
    EXPECT_TRUE(scaleAndSquircle(picture, QSizeF(-5, 96)).isNull());
    EXPECT_TRUE(
        scaleAndSquircle(picture, QSizeF(std::numeric_limits<double>::quiet_NaN(), 96)).isNull());
    EXPECT_TRUE(
        scaleAndSquircle(picture, QSizeF(std::numeric_limits<double>::infinity(), 96)).isNull());
}
