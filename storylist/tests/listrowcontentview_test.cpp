#include "storylist/ListRowContentView.h"

#include "data/model/Shared.h"
#include "data/sync/UrlLoadingDecoders_p.h"
#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ImageButton.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/ListCellView.h"
#include "storylist/tests/RowTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

void setRowSettings(bool images, bool buttons)
{
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetImagesKey"_s, images);
    (void)sharedDefaults()->set(u"velmora.Tickerly.widgetButtonsKey"_s, buttons);
}

// A window holding one row at its top left, with room outside the row for the pointer.
struct RowWindow {
    explicit RowWindow(int width = 320)
    {
        window.resize(width + 40, 115);
        row = new ListRowContentView(&window);
        row->setGeometry(0, 0, width, 75);
        row->titleLabel->setStringValue(u"A headline"_s);
        row->text->setStringValue(u"The body of the story, shortened for the row."_s);
        window.show();
        row->layoutRow();
    }
    // Through the window system, as a real pointer arrives, so that widgets get enter and leave.
    void pointerAt(QPoint pos) { QTest::mouseMove(window.windowHandle(), pos); }
    void pointerOutside() { pointerAt(QPoint(window.width() - 5, 110)); }
    void pointerInside() { pointerAt(QPoint(100, 40)); }
    bool highlighted() const
    {
        QImage image(row->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        row->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image.pixelColor(5, 72).alpha() > 40;
    }
    bool buttonsShown() const
    {
        return !row->closeButton->isHidden() && !row->shareButton->isHidden();
    }
    bool buttonsHidden() const
    {
        return row->closeButton->isHidden() && row->shareButton->isHidden();
    }

    QWidget window;
    ListRowContentView* row;
};

// The stories window's rows and the widget's (narrower, buttons always shown), with pictures on
// and off.
struct RowKind {
    const char* name;
    int width;
    bool widget;
    bool images;
};
const RowKind kRowKinds[] = { { "stories window", 420, false, true },
    { "stories window, no pictures", 420, false, false }, { "widget", 320, true, true },
    { "widget, no pictures", 320, true, false } };

// One real row cell of a kind, bound as the list binds it.
struct CellWindow {
    explicit CellWindow(const RowKind& kind)
    {
        setRowSettings(kind.images, true);
        window.resize(kind.width, 77);
        cell = new ListCellView(&window);
        cell->setGeometry(0, 0, kind.width, 75);
        cell->setButtonsAlwaysVisible(kind.widget);
        window.show();
    }
    ListRowContentView& bind(const QString& title, const QString& body)
    {
        QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::red);
        cell->setObjectValue(QVariant::fromValue(std::make_shared<const ListRowViewData>(
            title, QDateTime::currentDateTimeUtc(), body, std::nullopt, icon, false)));
        TestSupport::processEvents();
        AppKit::layoutSubtreeIfNeeded(&window);
        return *cell->contentView;
    }

    QWidget window;
    ListCellView* cell;
};

// Every line the row's shown labels draw, in the row's coordinates.
QList<QRectF> drawnTextRects(const ListRowContentView& row)
{
    QList<QRectF> rects;
    for (const Label* label : { row.titleLabel, row.text, row.timeLabel }) {
        if (label->isHidden())
            continue;
        for (const Label::DrawnLine& line : label->drawnLines())
            rects.append(line.rect.translated(label->pos()));
    }
    return rects;
}

// A label's lines lie whole inside the row, every one of them but the last as laid out, the
// last ended by an ellipsis.
void expectWholeLinesEndingInAnEllipsis(const Label& label, int rowHeight)
{
    const QList<Label::DrawnLine> lines = label.drawnLines();
    ASSERT_GE(lines.size(), 2);
    for (const Label::DrawnLine& line : lines) {
        EXPECT_LE(line.rect.translated(label.pos()).bottom(), rowHeight + 0.5)
            << line.text.toStdString();
        EXPECT_EQ(line.elided, &line == &lines.back());
    }
    EXPECT_TRUE(lines.back().text.endsWith(QChar(0x2026))) << lines.back().text.toStdString();
    EXPECT_LT(lines.back().rect.right(), label.width() + 0.5);
}

const QRegularExpression kShortTime(u"^\\d{1,2}:\\d{2}[\\s\\x{202F}]?[AP]M$"_s);
const QRegularExpression kShortDate(u"^\\d{1,2}/\\d{1,2}/\\d{2}$"_s);

} // namespace

TEST(ListRowContentView, LaysOutPictureIconHeadlineBodyTimeAndButtons)
{
    setRowSettings(true, true);
    RowWindow w;
    ListRowContentView& row = *w.row;

    EXPECT_EQ(row.imageView->geometry(), QRect(0, 0, 50, 75));
    // Story pictures are read no larger than this.
    EXPECT_EQ(row.imageView->size(), UrlLoadingDecoders::storyPictureSize);
    EXPECT_EQ(row.icon->geometry(), QRect(55, 3, 16, 16));
    EXPECT_EQ(row.titleLabel->x(), 76);
    EXPECT_EQ(row.titleLabel->y(), 2);
    EXPECT_EQ(row.titleLabel->width(), 320 - 130);
    EXPECT_EQ(row.titleLabel->height(), row.titleLabel->intrinsicContentSize().height());
    // The body starts under the icon, 5 points right of the picture.
    EXPECT_EQ(row.text->geometry(),
        QRect(55, row.titleLabel->geometry().bottom() + 1, 320 - 45 - 55,
            75 - row.titleLabel->geometry().bottom() - 1));
    EXPECT_TRUE(row.text->isVisible());

    const QRect time = row.timeLabel->geometry();
    EXPECT_EQ(time.width(), 45);
    EXPECT_EQ(time.right(), 320 - 2 - 1);
    EXPECT_EQ(time.top(), 4);
    const QRect close = row.closeButton->geometry();
    const QRect share = row.shareButton->geometry();
    EXPECT_EQ(close.top(), time.bottom() + 1 + 2);
    EXPECT_EQ(share.top(), close.bottom() + 1 + 2);
    EXPECT_NEAR(close.center().x(), time.center().x() + 10, 1);
    EXPECT_NEAR(share.center().x(), time.center().x() + 10, 1);
    EXPECT_LE(share.bottom(), 75) << "the buttons fit in the row";

    // The headline follows the row's width.
    w.row->resize(400, 75);
    w.row->layoutRow();
    EXPECT_EQ(row.titleLabel->width(), 270);
    EXPECT_EQ(row.timeLabel->geometry().right(), 400 - 2 - 1);

    // The cell switches the image column off through the width's constant.
    row.imageWidth()->setConstant(0);
    w.row->layoutRow();
    EXPECT_EQ(row.imageView->width(), 0);
    EXPECT_EQ(row.icon->x(), 5);
}

TEST(ListRowContentView, ImageColumnFollowsTheImagesSettingAndTheBodyHidesWhenSqueezed)
{
    setRowSettings(false, true);
    RowWindow w;
    ListRowContentView& row = *w.row;
    EXPECT_EQ(row.imageWidth()->constant(), 0);
    EXPECT_EQ(row.imageView->width(), 0);
    EXPECT_EQ(row.icon->geometry(), QRect(5, 3, 16, 16));
    EXPECT_EQ(row.titleLabel->x(), 26);

    // A headline of many lines leaves the body under 10 points: hidden, then back.
    row.titleLabel->setStringValue(u"A headline that goes on and on and on, over enough lines to "
                                   "take nearly all of the row's height away from the body"_s);
    TestSupport::processEvents();
    row.layoutRow();
    ASSERT_LT(row.text->height(), 10);
    EXPECT_TRUE(row.text->isHidden());

    row.titleLabel->setStringValue(u"Short"_s);
    TestSupport::processEvents();
    row.layoutRow();
    EXPECT_GE(row.text->height(), 10);
    EXPECT_FALSE(row.text->isHidden());
}

// Every widget that shows as a window of its own while it is alive.
struct WindowsShown : QObject {
    WindowsShown() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow())
            shown.append(QString::fromLatin1(widget->metaObject()->className()));
        return false;
    }
    QStringList shown;
};

TEST(ListRowContentView, ANewRowShowsNoWindowOfItsOwnAndItsButtonsOnceInAWindow)
{
    setRowSettings(true, true);
    WindowsShown windows;
    QWidget window;
    // As the story table makes its cells: without a parent, placed in a row later.
    auto* cell = new ListCellView;
    EXPECT_EQ(windows.shown, QStringList {});
    EXPECT_EQ(cell->contentView->closeButton->window(), cell);

    cell->setParent(&window);
    cell->setGeometry(0, 0, 320, 75);
    window.show();
    EXPECT_EQ(windows.shown, QStringList { u"QWidget"_s });
    EXPECT_TRUE(cell->contentView->closeButton->isVisible());
    EXPECT_TRUE(cell->contentView->shareButton->isVisible());
}

TEST(ListRowContentView, HoverHighlightsAndShowsTheButtonsByTheSettings)
{
    setRowSettings(true, true);
    RowWindow w;
    ListRowContentView& row = *w.row;
    // A new row starts selected.
    EXPECT_TRUE(row.selected());
    EXPECT_TRUE(w.buttonsShown());
    EXPECT_TRUE(w.highlighted());

    w.pointerInside();
    w.pointerOutside();
    EXPECT_FALSE(row.selected());
    EXPECT_TRUE(w.buttonsHidden());
    EXPECT_FALSE(w.highlighted());

    w.pointerInside();
    EXPECT_TRUE(row.selected());
    EXPECT_TRUE(w.buttonsShown());
    EXPECT_TRUE(w.highlighted());
    // Onto a child and back: still inside the row.
    w.pointerAt(row.closeButton->geometry().center());
    EXPECT_TRUE(row.selected());
    w.pointerInside();

    row.setButtonsAlwaysVisible(true);
    w.pointerOutside();
    EXPECT_FALSE(w.highlighted());
    EXPECT_TRUE(w.buttonsShown());
    row.setButtonsAlwaysVisible(false);
    EXPECT_TRUE(w.buttonsHidden());

    // Tracking off while inside: the highlight stays until selection itself changes.
    w.pointerInside();
    row.setTrackingEnabled(false);
    EXPECT_FALSE(row.trackingArea());
    w.pointerOutside();
    EXPECT_TRUE(row.selected());
    EXPECT_TRUE(w.highlighted());
    row.setSelected(false);
    EXPECT_FALSE(w.highlighted());
    w.pointerInside();
    EXPECT_FALSE(row.selected());
    row.setTrackingEnabled(true);
    EXPECT_EQ(row.trackingArea(), row.rect());
    w.pointerOutside();
    w.pointerInside();
    EXPECT_TRUE(row.selected());
}

TEST(ListRowContentView, WithButtonsOffHoverOnlyChangesTheBackground)
{
    setRowSettings(true, false);
    RowWindow w;
    ListRowContentView& row = *w.row;
    // The cell hides them when the setting is off.
    row.closeButton->hide();
    row.shareButton->hide();
    w.pointerOutside();
    w.pointerInside();
    EXPECT_TRUE(w.highlighted());
    EXPECT_TRUE(w.buttonsHidden());
    w.pointerOutside();
    EXPECT_FALSE(w.highlighted());
    row.closeButton->show();
    row.shareButton->show();
    w.pointerInside();
    w.pointerOutside();
    EXPECT_TRUE(w.buttonsShown());
}

TEST(ListRowContentView, ClicksGoToTheirOwnButtonAndARightClickOnlyToItsClosure)
{
    setRowSettings(true, true);
    RowWindow w;
    ListRowContentView& row = *w.row;
    QSignalSpy rowClicks(&row, &QAbstractButton::clicked);
    QSignalSpy closeClicks(row.closeButton, &QAbstractButton::clicked);
    QSignalSpy shareClicks(row.shareButton, &QAbstractButton::clicked);

    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(120, 50));
    QTest::mouseClick(row.titleLabel, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(row.closeButton, Qt::LeftButton, {}, row.closeButton->rect().center());
    QTest::mouseClick(row.shareButton, Qt::LeftButton, {}, row.shareButton->rect().center());
    EXPECT_EQ(rowClicks.size(), 2);
    EXPECT_EQ(closeClicks.size(), 1);
    EXPECT_EQ(shareClicks.size(), 1);

    // Without a closure a right click does nothing, and never clicks the row.
    QTest::mouseClick(&row, Qt::RightButton, {}, QPoint(120, 50));
    EXPECT_EQ(rowClicks.size(), 2);

    QList<QPoint> rightClicks;
    row.rightClickAction = [&](QMouseEvent* event) {
        EXPECT_EQ(event->button(), Qt::RightButton);
        rightClicks.append(event->position().toPoint());
    };
    QTest::mouseClick(row.text, Qt::RightButton, {}, QPoint(3, 4));
    EXPECT_EQ(rightClicks, (QList<QPoint> { QPoint(3, 4) + row.text->pos() }));
    EXPECT_EQ(rowClicks.size(), 2);
}

TEST(ListRowContentView, TimeIsOfDayForADayAndADateBeyond)
{
    RowTest::PinnedLocale pinned;
    setRowSettings(true, true);
    ListRowContentView row;
    const QDateTime now = QDateTime::currentDateTimeUtc();

    EXPECT_EQ(ListRowContentView::timeLabelStringFromDate(std::nullopt), u""_s);
    row.setDate(std::nullopt);
    EXPECT_EQ(row.timeLabel->stringValue(), u""_s);

    row.setDate(now.addSecs(-86399));
    EXPECT_TRUE(kShortTime.match(row.timeLabel->stringValue()).hasMatch())
        << row.timeLabel->stringValue().toStdString();
    row.setDate(now.addSecs(-86400));
    EXPECT_TRUE(kShortDate.match(row.timeLabel->stringValue()).hasMatch())
        << row.timeLabel->stringValue().toStdString();
    EXPECT_TRUE(kShortDate.match(ListRowContentView::timeLabelStringFromDate(now.addDays(-400)))
                    .hasMatch());

    // In the user's zone: half past eleven UTC is already the next day in Berlin.
    EXPECT_EQ(ListRowContentView::timeLabelStringFromDate(
                  QDateTime(QDate(2026, 3, 4), QTime(23, 30), Qt::UTC)),
        u"3/5/26"_s);
    // Future dates show their time of day.
    QString future = ListRowContentView::timeLabelStringFromDate(
        QDateTime(QDate(2090, 1, 1), QTime(12, 5), Qt::UTC));
    future.replace(QChar(0x202F), u' ');
    EXPECT_EQ(future, u"1:05 PM"_s);
}

TEST(ListRowContentView, KeepsTextClearOfTheIconWithoutAHeadline)
{
    RowTest::PinnedLocale pinned;
    for (const RowKind& kind : kRowKinds) {
        SCOPED_TRACE(kind.name);
        CellWindow w(kind);
        for (const QString& body :
            { u"Sol 721"_s, u"Mastodon.social"_s,
                u"Mastodon.social: a post without a title, long enough to wrap over the lines of the row"_s }) {
            SCOPED_TRACE(body.toStdString());
            ListRowContentView& row = w.bind(QString(), body);
            const QRectF icon(row.icon->geometry());
            const QList<QRectF> rects = drawnTextRects(row);
            ASSERT_FALSE(row.text->isHidden());
            ASSERT_FALSE(row.text->drawnLines().isEmpty());
            EXPECT_EQ(row.text->drawnLines().first().text,
                body.left(row.text->drawnLines().first().text.size()));
            for (const QRectF& rect : rects)
                EXPECT_FALSE(rect.intersects(icon))
                    << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
        }
        // A headline again: the body goes back under the icon, beside the picture column.
        ListRowContentView& row = w.bind(u"A headline"_s, u"Sol 721"_s);
        EXPECT_EQ(row.text->x(), row.icon->x());
        EXPECT_GE(row.text->y(), row.titleLabel->geometry().bottom());
    }
}

TEST(ListRowContentView, DrawsWholeLinesOfALongHeadlineOrBodyEndingInAnEllipsis)
{
    RowTest::PinnedLocale pinned;
    QString longHeadline;
    while (longHeadline.size() < 450)
        longHeadline += u"Officials confirm the long-awaited harbour crossing will open "_s;
    longHeadline.truncate(450);
    const QString longBody
        = u"Commuters crossed the river again this morning as the city opened the rebuilt deck, "
          "two cycle lanes, a wider footpath and a viewing platform over the old docks. "_s
              .repeated(2);
    for (const RowKind& kind : kRowKinds) {
        SCOPED_TRACE(kind.name);
        CellWindow w(kind);
        ListRowContentView& row = w.bind(longHeadline, longBody);
        expectWholeLinesEndingInAnEllipsis(*row.titleLabel, row.height());
        EXPECT_TRUE(row.text->isHidden());

        w.bind(u"Harbour crossing opens"_s, longBody);
        ASSERT_FALSE(row.text->isHidden());
        ASSERT_EQ(row.titleLabel->drawnLines().size(), 1);
        EXPECT_FALSE(row.titleLabel->drawnLines().first().elided);
        expectWholeLinesEndingInAnEllipsis(*row.text, row.height());
    }
}
