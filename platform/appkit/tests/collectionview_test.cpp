#include "platform/appkit/CollectionView.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly::AppKit;

using namespace Qt::Literals::StringLiterals;

namespace {

struct Feed {
    QString title;
};
using FeedRef = std::shared_ptr<Feed>;

class FeedItem : public CollectionViewItem {
public:
    explicit FeedItem(int* made) { ++*made; }
    void setRepresentedObject(const QVariant& object) override
    {
        CollectionViewItem::setRepresentedObject(object);
        if (label)
            show();
    }
    QLabel* label = nullptr;
    int loads = 0;

protected:
    QWidget* loadView() override
    {
        ++loads;
        label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    void viewDidLoad() override { show(); }

private:
    void show()
    {
        const FeedRef feed = representedObject().value<FeedRef>();
        label->setText(feed ? feed->title : QString());
    }
};

QVariantList objects(const QList<FeedRef>& feeds)
{
    QVariantList list;
    for (const FeedRef& feed : feeds)
        list.append(QVariant::fromValue(feed));
    return list;
}

FeedRef feed(const QString& title) { return std::make_shared<Feed>(Feed { title }); }

} // namespace

TEST(CollectionView, KeepsTheItemsOfTheSameObjectsAndRebuildsTheOthers)
{
    CollectionView view;
    int made = 0;
    view.setItemPrototype([&made] { return std::make_unique<FeedItem>(&made); });
    const QList<FeedRef> first { feed(u"a"_s), feed(u"b"_s), feed(u"c"_s) };
    view.setContent(objects(first));
    ASSERT_EQ(view.numberOfItems(), 3);
    EXPECT_EQ(made, 3);
    auto* a = static_cast<FeedItem*>(view.itemAtIndex(0));
    auto* c = static_cast<FeedItem*>(view.itemAtIndex(2));
    EXPECT_EQ(a->label->text(), u"a"_s);
    EXPECT_EQ(a->loads, 1);

    // One element replaced by an equal-looking new object: only that item is new.
    view.setContent(objects({ first[0], feed(u"b"_s), first[2] }));
    EXPECT_EQ(made, 4);
    EXPECT_EQ(view.itemAtIndex(0), a);
    EXPECT_EQ(view.itemAtIndex(2), c);
    EXPECT_EQ(static_cast<FeedItem*>(view.itemAtIndex(1))->label->text(), u"b"_s);

    // Reordered and shrunk: the kept items follow their objects.
    view.setContent(objects({ first[2], first[0] }));
    EXPECT_EQ(made, 4);
    EXPECT_EQ(view.itemAtIndex(0), c);
    EXPECT_EQ(view.itemAtIndex(1), a);
    EXPECT_EQ(view.content().size(), 2);

    // Every read of a store gives new objects: every item is rebuilt.
    view.setContent(objects({ feed(u"c"_s), feed(u"a"_s) }));
    EXPECT_EQ(made, 6);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view.findChildren<CollectionViewItem*>().size(), 2);

    view.setContent({});
    EXPECT_EQ(view.numberOfItems(), 0);
    EXPECT_EQ(view.itemAtIndex(0), nullptr);
}

TEST(CollectionView, WithoutAPrototypeHoldsTheContentButMakesNoItems)
{
    CollectionView view;
    view.setContent(objects({ feed(u"a"_s) }));
    EXPECT_EQ(view.numberOfItems(), 1);
    EXPECT_EQ(view.itemAtIndex(0), nullptr);
    int made = 0;
    view.setItemPrototype([&made] { return std::make_unique<FeedItem>(&made); });
    ASSERT_NE(view.itemAtIndex(0), nullptr);
    EXPECT_EQ(made, 1);
    view.setItemPrototype({});
    EXPECT_EQ(view.itemAtIndex(0), nullptr);
}

TEST(CollectionView, LaysItemsOutInRowsThatFitItsWidth)
{
    CollectionView view;
    int made = 0;
    view.setItemPrototype([&made] { return std::make_unique<FeedItem>(&made); });
    view.setItemSize(QSize(100, 40));
    view.setSpacing(10);
    view.setContentsMargins(5, 5, 5, 5);
    QList<FeedRef> feeds;
    for (int i = 0; i < 7; ++i)
        feeds.append(feed(QString::number(i)));
    view.setContent(objects(feeds));
    view.resize(340, 10); // 3 columns: 5 + 100 + 10 + 100 + 10 + 100 + 5 = 330
    view.show();

    EXPECT_EQ(view.frameForItemAtIndex(0), QRect(5, 5, 100, 40));
    EXPECT_EQ(view.frameForItemAtIndex(4), QRect(115, 55, 100, 40));
    EXPECT_EQ(view.itemAtIndex(6)->view()->geometry(), QRect(5, 105, 100, 40));
    EXPECT_EQ(view.heightForWidth(340), 5 + 3 * 40 + 2 * 10 + 5);

    view.setMaxNumberOfColumns(2);
    EXPECT_EQ(view.itemAtIndex(2)->view()->geometry(), QRect(5, 55, 100, 40));
    view.setMaxNumberOfColumns(0);
    view.resize(50, 10); // narrower than one item: still one column
    EXPECT_EQ(view.frameForItemAtIndex(1), QRect(5, 55, 100, 40));
    EXPECT_EQ(view.frameForItemAtIndex(7), QRect());
}
