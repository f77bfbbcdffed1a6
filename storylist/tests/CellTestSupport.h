#pragma once

#include "storylist/Namespace.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "storylist/ListCellView.h"
#include "storylist/ListRowContentView.h"
#include "storylist/Preferences.h"
#include "testsupport/Pointer.h"
#include "testsupport/TestSupport.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

namespace Tickerly::StoryList {

namespace CellTesting {

// Stands in for the story list: answers two options and writes down every call.
class RecordingDelegate : public QObject, public ListCellViewDelegate {
public:
    void rowViewPressed(ListCellView*) override { calls.append(QStringLiteral("pressed")); }
    void rowViewDeleted(ListCellView* rowView) override
    {
        calls.append(
            QStringLiteral("deleted ") + (rowView->data() ? rowView->data()->title : QString()));
    }
    void rowViewShowShare(ListCellView*, QMouseEvent* event) override
    {
        calls.append(QStringLiteral("share"));
        shareEvent = event;
    }
    QList<RowOption> rowViewOptions(ListCellView*) override
    {
        ++optionRequests;
        QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::white);
        return { { QStringLiteral("one"), icon }, { QStringLiteral("two"), icon } };
    }
    void rowViewOptionPressed(const QString& identifier, ListCellView*) override
    {
        calls.append(QStringLiteral("option ") + identifier);
    }

    QStringList calls;
    int optionRequests = 0;
    const QMouseEvent* shareEvent = nullptr;
};

inline std::shared_ptr<const ListRowViewData> rowData(const QString& title, bool read = false)
{
    QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::red);
    return std::make_shared<ListRowViewData>(
        title, std::nullopt, QStringLiteral("Body of ") + title, std::nullopt, icon, read);
}

// One 320-point cell in a window, bound to "First", with a recording delegate, a virtual clock
// and a pointer. Row settings on.
class CellTest : public testing::Test {
protected:
    void SetUp() override
    {
        Foundation::MainQueue::setClock(&clock);
        (void)Preferences().setWidgetImages(true);
        (void)Preferences().setWidgetButtons(true);
        window.resize(320, 77);
        cell = new ListCellView(&window);
        cell->setGeometry(0, 0, 320, 75);
        cell->setDelegate(&delegate);
        cell->setObjectValue(QVariant::fromValue(rowData(QStringLiteral("First"))));
        window.show();
        settle();
    }
    void TearDown() override
    {
        clock.advance(10);
        TestSupport::processEvents();
        Foundation::MainQueue::setClock(nullptr);
    }
    // Runs pending layout passes and lets every animation end.
    void settle(double seconds = 1)
    {
        TestSupport::processEvents();
        clock.advance(seconds);
        TestSupport::processEvents();
    }
    int contentX() const { return cell->contentView->x(); }
    // A drag across the body, from the middle of its visible part.
    void swipe(qreal dx)
    {
        const qreal visibleMiddle = std::max(0.0, cell->margin()) + 25;
        pointer.drag(QPointF(visibleMiddle, 40), dx);
    }

    Foundation::VirtualClock clock;
    QWidget window;
    ListCellView* cell = nullptr;
    RecordingDelegate delegate;
    TestSupport::Pointer pointer { &window };
};

} // namespace CellTesting

} // namespace Tickerly::StoryList
