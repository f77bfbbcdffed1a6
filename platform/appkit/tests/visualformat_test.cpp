#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/VisualFormat.h"

#include "testsupport/TestSupport.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;

using namespace Qt::Literals::StringLiterals;

namespace {

struct Views {
    QWidget root;
    QWidget* a = new QWidget(&root);
    QWidget* b = new QWidget(&root);
    QWidget* c = new QWidget(&root);
    LayoutViews map { { u"a"_s, a }, { u"b"_s, b }, { u"c"_s, c } };

    Views()
    {
        root.resize(300, 200);
        for (QWidget* w : { a, b, c })
            AppKit::setTranslatesAutoresizingMaskIntoConstraints(w, false);
    }

    void install(const QString& format, const LayoutMetrics& metrics = {})
    {
        const VisualFormatResult r = constraintsWithVisualFormat(format, map, metrics);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        AppKit::addConstraints(&root, r.constraints);
        AppKit::layoutSubtreeIfNeeded(&root);
    }
};

} // namespace

TEST(VisualFormat, RelatesEdgesAndSizesAsWritten)
{
    Views v;
    const VisualFormatResult r
        = constraintsWithVisualFormat(u"H:|-10-[a(50)]-(>=5@750)-[b]|"_s, v.map);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    ASSERT_EQ(r.constraints.size(), 4);

    const auto& leading = r.constraints.at(0);
    EXPECT_EQ(leading->firstAttribute(), LayoutAttribute::Leading);
    EXPECT_EQ(leading->secondAttribute(), LayoutAttribute::Leading);
    EXPECT_EQ(leading->constant(), 10);
    EXPECT_EQ(leading->relation(), LayoutRelation::Equal);

    const auto& width = r.constraints.at(1);
    EXPECT_EQ(width->firstAttribute(), LayoutAttribute::Width);
    EXPECT_EQ(width->secondItem(), nullptr);
    EXPECT_EQ(width->constant(), 50);
    EXPECT_EQ(width->priority(), LayoutPriorities::Required);

    const auto& gap = r.constraints.at(2);
    EXPECT_EQ(gap->firstAttribute(), LayoutAttribute::Leading);
    EXPECT_EQ(gap->secondAttribute(), LayoutAttribute::Trailing);
    EXPECT_EQ(gap->relation(), LayoutRelation::GreaterThanOrEqual);
    EXPECT_EQ(gap->constant(), 5);
    EXPECT_EQ(gap->priority(), 750.0f);

    const auto& trailing = r.constraints.at(3);
    EXPECT_EQ(trailing->firstAttribute(), LayoutAttribute::Trailing);
    EXPECT_EQ(trailing->firstItem(), &v.root);
    EXPECT_EQ(trailing->secondItem(), v.b);
    EXPECT_EQ(trailing->constant(), 0);
}

TEST(VisualFormat, LaysOutChainsWithStandardAndMetricSpacing)
{
    Views v;
    v.install(u"|-[a]-[b(==a)]-gap-[c(==a)]-|"_s, { { u"gap"_s, 12.0 } });
    v.install(u"V:|[a]|"_s);
    v.install(u"V:|-(10)-[b(>=20,<=30)]"_s);
    // 20 + w + 8 + w + 12 + w + 20 = 300
    EXPECT_EQ(v.a->geometry(), QRect(20, 0, 80, 200));
    EXPECT_EQ(v.b->x(), 108);
    EXPECT_EQ(v.b->width(), 80);
    EXPECT_EQ(v.c->geometry().right() + 1, 280);
    EXPECT_EQ(v.b->y(), 10);
    EXPECT_GE(v.b->height(), 20);
    EXPECT_LE(v.b->height(), 30);
}

TEST(VisualFormat, ReportsMalformedFormatsWithoutMakingConstraints)
{
    Views v;
    QWidget orphan;
    LayoutViews withOrphan = v.map;
    withOrphan.insert(u"orphan"_s, &orphan);
    const QString bad[] = {
        u""_s,
        u"H:"_s,
        u"[a"_s,
        u"[missing]"_s,
        u"|-[a]-"_s,
        u"[a]-x-[b]"_s,
        u"[a(>=)]"_s,
        u"[a(=10)]"_s,
        u"[a(10@0)]"_s,
        u"[a(10@1001)]"_s,
        u"[a]-(b)-[c]"_s,
        u"[a] [b]"_s,
        u"[a]trailing"_s,
        u"X:[a]"_s,
        u"|[orphan]"_s,
        u"[orphan]|"_s,
    };
    for (const QString& format : bad) {
        const VisualFormatResult r = constraintsWithVisualFormat(format, withOrphan);
        EXPECT_FALSE(r.ok()) << format.toStdString();
        EXPECT_TRUE(r.constraints.isEmpty()) << format.toStdString();
        EXPECT_TRUE(r.error.contains(u"position"_s)) << r.error.toStdString();
    }
}
