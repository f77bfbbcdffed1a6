#include "app/shell/FlatButton.h"
#include "platform/appkit/ProgressIndicator.h"
#include "app/sources/SourceRowView.h"
#include "app/sources/tests/SourcesTesting.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace SourcesTesting;

namespace {

struct PressRecorder : SourceTableViewCellDelegate {
    void deletePressed(SourceTableViewCell* cell) override { pressed << cell; }
    QList<SourceTableViewCell*> pressed;
};

std::shared_ptr<const SourceData> row(const QString& name, const QString& url, bool loading = false,
    std::optional<QImage> icon = std::nullopt)
{
    return std::make_shared<const SourceData>(name, url, icon, loading);
}

// A cell of `size` as the table shows it, laid out.
std::unique_ptr<SourceTableViewCell> shownCell(QSize size)
{
    std::unique_ptr<SourceTableViewCell> cell(SourceTableViewCell::makeFromPrototype());
    cell->resize(size);
    cell->show();
    TestSupport::processEvents();
    return cell;
}

} // namespace

TEST(SourceRowView, FormatLinkDropsOneLeadingHttpOrHttpsScheme)
{
    const QList<std::pair<QString, QString>> cases {
        { u"http://example.com/feed"_s, u"example.com/feed"_s },
        { u"https://example.com/rss?x=1"_s, u"example.com/rss?x=1"_s },
        { u"http://"_s, QString() },
        { u"http://http://twice.example/"_s, u"http://twice.example/"_s },
        { u"HTTP://LOUD.example/"_s, u"HTTP://LOUD.example/"_s },
        { u"feed://other.example/"_s, u"feed://other.example/"_s },
        { u"example.com/rss"_s, u"example.com/rss"_s },
        { QString(), QString() },
    };
    for (const auto& [link, shown] : cases)
        EXPECT_EQ(SourceRowView::formatLink(link), shown) << link.toStdString();
}

TEST(SourceRowView, LaysTheRowOutAroundASquareIconAndTheRemoveButton)
{
    auto cell = shownCell(QSize(500, 60));
    SourceRowView* view = cell->contentView();
    ASSERT_TRUE(view);
    cell->setObjectValue(QVariant::fromValue(row(u"Harbour"_s, u"https://harbour.example/"_s)));
    TestSupport::processEvents();

    EXPECT_EQ(view->icon()->geometry(), QRect(20, 5, 50, 50));
    EXPECT_EQ(view->mask()->geometry(), view->icon()->geometry());
    EXPECT_EQ(view->spinner()->geometry().center(), view->icon()->geometry().center());
    EXPECT_EQ(view->title()->geometry().top(), 10);
    EXPECT_EQ(view->title()->geometry().height(), 20);
    EXPECT_EQ(view->title()->geometry().left(), 80);
    EXPECT_EQ(view->link()->geometry().top(), 31);
    const QRect button = view->remove()->geometry();
    EXPECT_EQ(button.right() + 1, 500 - 20);
    EXPECT_EQ(button.center().y(), 29);
    EXPECT_EQ(button.size(), view->remove()->sizeHint());
    EXPECT_EQ(view->title()->geometry().right() + 1 + 10, button.left());

    // A long name and address are shortened; the button neither moves nor shrinks.
    cell->setObjectValue(QVariant::fromValue(
        row(QString(200, u'W'), u"https://"_s + QString(300, u'a') + u".example/feed"_s)));
    TestSupport::processEvents();
    EXPECT_EQ(view->remove()->geometry(), button);
    EXPECT_LE(view->link()->geometry().right() + 1 + 10, button.left());

    // Taller rows keep the icon square, the row height less ten.
    cell->resize(500, 90);
    TestSupport::processEvents();
    EXPECT_EQ(view->icon()->geometry(), QRect(20, 5, 80, 80));
}

TEST(SourceRowView, ShowsEachRowObjectWholeAcrossReuse)
{
    VirtualTime time;
    auto cell = shownCell(QSize(500, 60));
    SourceRowView* view = cell->contentView();
    EXPECT_EQ(view->remove()->title(), u"REMOVE"_s) << "upper-case before any row object";

    QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::red);
    cell->setObjectValue(
        QVariant::fromValue(row(u"<b>Bold</b> & co"_s, u"http://x.example/"_s, true)));
    EXPECT_EQ(view->title()->stringValue(), u"<b>Bold</b> & co"_s) << "titles are plain text";
    EXPECT_EQ(view->link()->stringValue(), u"x.example/"_s);
    EXPECT_TRUE(view->spinner()->isAnimating());
    EXPECT_FALSE(view->spinner()->isHidden());
    const int phase = view->spinner()->phase();
    time.advance(1.0 / 12);
    EXPECT_NE(view->spinner()->phase(), phase) << "the spinner turns";

    cell->setObjectValue(
        QVariant::fromValue(row(u"Other"_s, u"https://o.example/"_s, false, icon)));
    EXPECT_EQ(view->title()->stringValue(), u"Other"_s);
    EXPECT_FALSE(view->spinner()->isAnimating());
    EXPECT_TRUE(view->spinner()->isHidden());
    ASSERT_TRUE(view->icon()->image());
    EXPECT_EQ(*view->icon()->image(), icon);

    // No row object, or another kind of value, empties the row.
    for (const QVariant& value : { QVariant(), QVariant(42) }) {
        cell->setObjectValue(value);
        EXPECT_TRUE(view->title()->stringValue().isEmpty());
        EXPECT_TRUE(view->link()->stringValue().isEmpty());
        EXPECT_FALSE(view->icon()->image());
        EXPECT_TRUE(view->spinner()->isHidden());
        EXPECT_EQ(view->remove()->title(), u"REMOVE"_s);
    }
}

TEST(SourceRowView, APressOfRemoveReachesTheDelegateOnceWithTheCell)
{
    auto cell = shownCell(QSize(500, 60));
    PressRecorder recorder;
    FlatButton* remove = cell->contentView()->remove();
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    EXPECT_TRUE(recorder.pressed.isEmpty()) << "no delegate, nothing happens";

    cell->setDelegate(&recorder);
    cell->awakeFromNib(); // waking twice wires the button once
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    EXPECT_EQ(recorder.pressed, (QList<SourceTableViewCell*> { cell.get() }));
}

TEST(SourceRowView, TheAddressCanBeSelectedWithTheMouseAndCopiedButNotEdited)
{
    auto cell = shownCell(QSize(500, 60));
    cell->setObjectValue(QVariant::fromValue(row(u"Harbour"_s, u"https://harbour.example/rss"_s)));
    TestSupport::processEvents();
    Label* link = cell->contentView()->link();
    const auto copied = [link] {
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(link, Qt::Key_C, Qt::ControlModifier);
        return QGuiApplication::clipboard()->text();
    };
    EXPECT_EQ(link->focusPolicy(), Qt::ClickFocus) << "clicked, not reached by Tab";

    // Dragged from the start to past its end: the whole address.
    const int middle = link->height() / 2;
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(0, middle));
    QTest::mouseMove(link, QPoint(link->width() - 1, middle));
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() - 1, middle));
    EXPECT_EQ(link->selectedText(), u"harbour.example/rss"_s);
    EXPECT_EQ(copied(), u"harbour.example/rss"_s);

    // Dragged over its first letters: those only.
    const qreal sevenLetters = QFontMetricsF(link->font()).horizontalAdvance(u"harbour"_s);
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(0, middle));
    QTest::mouseMove(link, QPoint(qRound(sevenLetters), middle));
    EXPECT_EQ(link->selectedText(), u"harbour"_s);
    saveScreenshot(cell.get(), u"source-row-selected.png"_s);

    // Typing changes nothing; a double click takes the whole address.
    QTest::keyClicks(link, u"xyz"_s);
    QTest::keyClick(link, Qt::Key_Backspace);
    EXPECT_EQ(link->stringValue(), u"harbour.example/rss"_s);
    QTest::mouseDClick(link, Qt::LeftButton, {}, QPoint(2, middle));
    EXPECT_EQ(copied(), u"harbour.example/rss"_s);

    // A long address shortened with an ellipsis is still copied whole.
    const QString longLink = u"feeds."_s + QString(200, u'a') + u".example/rss"_s;
    cell->setObjectValue(QVariant::fromValue(row(u"Long"_s, u"https://"_s + longLink)));
    TestSupport::processEvents();
    EXPECT_TRUE(link->selectedText().isEmpty()) << "a new address starts unselected";
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(0, middle));
    QTest::mouseMove(link, QPoint(link->width() - 1, middle));
    EXPECT_EQ(copied(), longLink);
}
