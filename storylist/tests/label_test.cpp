#include "storylist/Label.h"

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ViewKit.h"
#include "testsupport/TestSupport.h"

#include <QFontMetricsF>
#include <QImage>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kLongText = u"A headline long enough to need several lines at a hundred points and "
                          "fewer at two hundred, as feeds tend to write them"_s;

QFont font() { return RowStyle::systemFont(12, QFont::Bold); }

QImage render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The columns that hold any lit pixel: [first, last], or (-1, -1).
std::pair<int, int> inkColumns(const QImage& image)
{
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) > 60) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
        }
    }
    return { first, last };
}

} // namespace

TEST(Label, MeasuresAtTwoHundredWhileNarrowerThanAHundredButReportsItsOwnWidth)
{
    Label wide(font());
    wide.setStringValue(kLongText);
    wide.resize(200, 10);
    const int heightAt200 = wide.intrinsicContentSize().height();

    Label label(font());
    label.setStringValue(kLongText);
    EXPECT_EQ(label.intrinsicContentSize(), QSize(0, heightAt200)); // before any layout

    label.resize(99, 10);
    EXPECT_EQ(label.intrinsicContentSize(), QSize(99, heightAt200));

    label.resize(100, 10);
    const QSize at100 = label.intrinsicContentSize();
    EXPECT_EQ(at100.width(), 100);
    EXPECT_GT(at100.height(), heightAt200);
    const qreal line = QFontMetricsF(font()).height();
    EXPECT_LE(std::abs(at100.height() % qRound(line)), 2) << "whole lines only";

    // A label that does not wrap is one line as long as its text.
    label.setWraps(false);
    const QSize oneLine = label.intrinsicContentSize();
    EXPECT_LT(oneLine.height(), heightAt200);
    EXPECT_NEAR(oneLine.width(), QFontMetricsF(font()).horizontalAdvance(kLongText), 1.0);

    Label empty(font());
    empty.resize(150, 10);
    EXPECT_EQ(empty.intrinsicContentSize(), QSize(150, 0));
}

TEST(Label, ConstraintLayoutGivesItTheLinesItsTextNeeds)
{
    QWidget holder;
    holder.resize(160, 200);
    auto* label = new Label(font());
    addSubviews(&holder, label);
    AppKit::setContentHuggingPriority(label, 1000, LayoutOrientation::Vertical);
    AppKit::setContentCompressionResistancePriority(label, 1000, LayoutOrientation::Vertical);
    constraints(&holder, u"|-2-[label]"_s, u"|[label]|"_s, { { u"label"_s, label } });

    label->setStringValue(u"Short"_s);
    AppKit::layoutSubtreeIfNeeded(&holder);
    const int oneLine = label->height();
    EXPECT_GT(oneLine, 8);

    // A longer text: the next layout pass gives more lines, measured at the label's width.
    label->setStringValue(kLongText);
    TestSupport::processEvents();
    AppKit::layoutSubtreeIfNeeded(&holder);
    EXPECT_EQ(label->width(), 160);
    EXPECT_GT(label->height(), 2 * oneLine);
    Label probe(font());
    probe.setStringValue(kLongText);
    probe.resize(160, 10);
    EXPECT_EQ(label->height(), probe.intrinsicContentSize().height());
}

TEST(Label, ShowsMarkupAsWrittenInWhiteByDefault)
{
    Label label(font());
    label.setStringValue(u"<b>x</b>"_s);
    label.setWraps(false);
    label.resize(200, 20);
    EXPECT_EQ(label.stringValue(), u"<b>x</b>"_s);
    const QImage image = render(label);
    const auto [first, last] = inkColumns(image);
    ASSERT_GE(first, 0);
    // The ink spans the tags too, not a lone bold "x".
    EXPECT_GT(last - first, QFontMetricsF(font()).horizontalAdvance(u"<b>x"_s) - 2);
    bool white = false;
    for (int y = 0; y < image.height() && !white; ++y) {
        for (int x = first; x <= last && !white; ++x)
            white = image.pixelColor(x, y) == QColor(Qt::white);
    }
    EXPECT_TRUE(white);
}

TEST(Label, EndsTheLastVisibleLineWithAnEllipsisOnlyWhileTruncating)
{
    const qreal line = QFontMetricsF(font()).height();
    Label label(font());
    label.setStringValue(kLongText);
    label.resize(120, qRound(line * 2) + 1); // two of its several lines

    label.setTruncatesLastVisibleLine(true);
    const QImage truncated = render(label);
    label.setTruncatesLastVisibleLine(false);
    const QImage cut = render(label);
    label.setTruncatesLastVisibleLine(true);
    EXPECT_EQ(render(label), truncated);
    EXPECT_NE(truncated, cut);

    // The first line is the same either way; only the last visible one changes.
    const int firstLineBottom = qRound(line) - 1;
    EXPECT_EQ(truncated.copy(0, 0, 120, firstLineBottom), cut.copy(0, 0, 120, firstLineBottom));

    // A text that fits draws the same either way.
    label.setStringValue(u"Fits"_s);
    const QImage fitsTruncated = render(label);
    label.setTruncatesLastVisibleLine(false);
    EXPECT_EQ(render(label), fitsTruncated);
}

TEST(Label, AHugeTextShowsAsItsBeginningAndMeasuresNoTallerThanThat)
{
    // Feed headlines have no length limit; each measure and paint would lay the whole of one
    // out. What a label can show of it is drawn exactly as before.
    QString huge;
    while (huge.size() < 1000000)
        huge += u"word "_s;
    const qreal line = QFontMetricsF(font()).height();
    Label label(font());
    label.resize(120, qRound(line * 2) + 1);
    label.setStringValue(huge.left(2000));
    const QImage start = render(label);
    const int shortHeight = label.intrinsicContentSize().height();

    label.setStringValue(huge);
    EXPECT_EQ(render(label), start);
    EXPECT_LT(label.intrinsicContentSize().height(), 4 * shortHeight);
    EXPECT_EQ(label.stringValue().size(), huge.size());
}
