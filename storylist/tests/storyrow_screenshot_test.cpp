#include "data/model/Shared.h"
#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ImageButton.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/ListRowContentView.h"
#include "storylist/RowOptionsView.h"
#include "storylist/RowStyle.h"
#include "storylist/tests/RowTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QTest>
#include <QtMath>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// A landscape story picture: sky, sun and hills.
QImage storyPicture()
{
    QImage image(240, 160, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 160);
    sky.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    sky.setColorAt(1, QColor(0xf6, 0xc3, 0x6b));
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xe0, 0x82));
    p.drawEllipse(QPointF(120, 70), 26, 26);
    p.setBrush(QColor(0x2e, 0x6b, 0x3a));
    p.drawEllipse(QRectF(-60, 110, 240, 120));
    p.drawEllipse(QRectF(90, 118, 220, 110));
    return image;
}

// A source icon: a rounded square with a letter, drawn at twice its points.
QImage sourceIcon()
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0x5d, 0x3f));
    p.drawRoundedRect(QRectF(0, 0, 32, 32), 8, 8);
    p.setPen(Qt::white);
    QFont font;
    font.setPixelSize(22);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, u"N"_s);
    p.end();
    image.setDevicePixelRatio(2);
    return image;
}

struct Shot {
    Shot()
    {
        // One row of the list's 77-point pitch: the row and the spacing under it.
        window.resize(320, 77);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c)); // the panel's dark grey
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        row = new ListRowContentView(&window);
        row->setGeometry(0, 0, 320, 75);
        row->titleLabel->setStringValue(
            u"Harbour bridge reopens after a year of repairs & <b>new</b> lanes"_s);
        row->text->setStringValue(
            u"Commuters crossed the river again this morning as the city opened the "
            "rebuilt deck, two cycle lanes and a wider footpath."_s);
        row->icon->setImage(sourceIcon());
        row->setDate(QDateTime::currentDateTimeUtc().addSecs(-2 * 3600));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window, TestSupport::waitBoundMs));
        row->setSelected(false);
        row->layoutRow();
    }
    void save(const QString& state)
    {
        AppKit::layoutSubtreeIfNeeded(&window);
        TestSupport::processEvents();
        const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        image = window.grab().toImage();
        ASSERT_TRUE(image.save(dir + u"/row-"_s + state + u".png"_s));
    }
    void pointerAt(QPoint p)
    {
        if (QGuiApplication::platformName() == u"offscreen"_s)
            QTest::mouseMove(window.windowHandle(), p);
        else
            QCursor::setPos(window.mapToGlobal(p));
    }
    // The colour at a point of the row, in points.
    QColor at(QPoint p) const { return image.pixelColor(p * image.devicePixelRatio()); }

    QWidget window;
    ListRowContentView* row;
    QImage image;
};

} // namespace

TEST(StoryRowScreenshot, RowAtRestHoveredReadWithAndWithoutPicture)
{
    RowTest::PinnedLocale pinned;
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetImagesKey"_s, true);
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetButtonsKey"_s, true);
    Shot shot;
    shot.row->imageView->setImage(storyPicture());

    shot.save(u"rest"_s);
    const QColor background(0x26, 0x28, 0x2c);
    EXPECT_EQ(shot.at(QPoint(318, 70)), background);
    EXPECT_NE(shot.at(QPoint(25, 37)), background) << "the picture fills its column";
    EXPECT_TRUE(shot.row->closeButton->isHidden());

    // The pointer itself moves onto the row: under X the server sends the enter.
    shot.pointerAt(QPoint(160, 76));
    shot.pointerAt(QPoint(160, 40));
    ASSERT_TRUE(TestSupport::waitFor([&] { return shot.row->selected(); }));
    shot.save(u"hovered"_s);
    EXPECT_GT(shot.at(QPoint(318, 70)).lightness(), background.lightness());
    EXPECT_FALSE(shot.row->closeButton->isHidden());

    shot.pointerAt(QPoint(160, 76));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !shot.row->selected(); }));
    AppKit::setOpacity(shot.row, 0.5);
    shot.save(u"read"_s);
    AppKit::setOpacity(shot.row, 1.0);

    shot.row->imageView->setImage(std::nullopt);
    shot.row->imageWidth()->setConstant(0);
    shot.save(u"nopicture"_s);
    EXPECT_EQ(shot.row->icon->x(), 5);
}

// Nothing of the row's text but background where no whole line of it is drawn: under the icon
// for a story without a headline, under the last whole line of a long headline.
TEST(StoryRowScreenshot, RowWithoutAHeadlineAndWithAVeryLongOne)
{
    RowTest::PinnedLocale pinned;
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetImagesKey"_s, true);
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetButtonsKey"_s, true);
    const auto onlyBackground = [](const Shot& shot, const QRect& area) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (shot.at(QPoint(x, y)) != QColor(0x26, 0x28, 0x2c))
                    return false;
            }
        }
        return true;
    };

    Shot shot;
    shot.row->imageView->setImage(storyPicture());
    shot.row->titleLabel->setStringValue(QString());
    shot.row->text->setStringValue(
        u"Mastodon.social: Sol 721 of the rover's mission, and the dust on its panels "
        "is thinner than it was a month ago."_s);
    shot.row->layoutRow();
    shot.save(u"noheadline"_s);
    const QRect icon = shot.row->icon->geometry();
    EXPECT_GE(shot.row->text->x(), icon.right() + 1);
    EXPECT_TRUE(onlyBackground(
        shot, QRect(icon.left(), icon.bottom() + 2, icon.width(), 75 - icon.bottom() - 2)));
    EXPECT_FALSE(onlyBackground(shot, shot.row->text->geometry())) << "the body is drawn";

    QString headline;
    while (headline.size() < 450)
        headline
            += u"Harbour bridge reopens after a year of repairs with new lanes for bikes and buses; "_s;
    headline.truncate(450);
    shot.row->titleLabel->setStringValue(headline);
    shot.row->layoutRow();
    shot.save(u"longheadline"_s);
    const Label& title = *shot.row->titleLabel;
    const QRectF last = title.drawnLines().last().rect.translated(title.pos());
    EXPECT_TRUE(onlyBackground(shot,
        QRect(title.x(), qCeil(last.bottom()) + 1, title.width(), 75 - qCeil(last.bottom()) - 1)));
    EXPECT_FALSE(onlyBackground(shot, last.toAlignedRect())) << "the last whole line is drawn";
}

TEST(StoryRowScreenshot, OptionStripShowsItsFourGlyphs)
{
    QWidget window;
    window.resize(320, 75);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* strip = new RowOptionsView(&window);
    strip->setGeometry(0, 0, 320, 75);
    QList<RowOption> options;
    for (const QString& name : { u"facebook"_s, u"twitter"_s, u"instapaper"_s, u"readability"_s })
        options.append({ name, RowStyle::drawnGlyph(name + u" icon"_s) });
    strip->setupButtons(options);
    window.show();
    AppKit::layoutSubtreeIfNeeded(strip);
    TestSupport::processEvents();
    const QImage image = window.grab().toImage();
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    ASSERT_TRUE(image.save(dir + u"/rowoptions-open.png"_s));
}
