#include "platform/appkit/TableView.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QScrollArea>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QColor kEven(0xdd, 0xe8, 0xf4);
const QColor kOdd(0xf4, 0xe8, 0xdd);

class LabelledRow : public TableCellView {
public:
    LabelledRow()
    {
        setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(12, 0, 12, 0);
        label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }
    void setObjectValue(const QVariant& value) override
    {
        TableCellView::setObjectValue(value);
        const int row = value.toInt();
        label->setText(u"Row %1"_s.arg(row + 1));
        QPalette p = palette();
        p.setColor(QPalette::Window, row % 2 ? kOdd : kEven);
        setPalette(p);
    }
    QLabel* label = nullptr;
};

struct Rows : TableViewDataSource, TableViewDelegate {
    int numberOfRowsInTableView(TableView*) override { return 20; }
    QVariant objectValueForTableColumn(TableView*, int, int row) override { return row; }
    QWidget* viewForTableColumn(TableView* table, int, int) override
    {
        return table->makeViewWithIdentifier(u"row"_s, nullptr);
    }
};

} // namespace

TEST(TableViewScreenshot, DrawsTwentyLabelledRowsOneUnderTheOther)
{
    QScrollArea window;
    window.setWidgetResizable(true);
    window.resize(320, 240);
    auto* table = new TableView;
    table->setAnimationDuration(0);
    table->setRowHeight(30);
    table->setIntercellSpacing(2);
    table->registerCellPrototype(u"row"_s, [](QObject*) { return new LabelledRow; });
    Rows rows;
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    table->reloadData();
    window.setWidget(table);
    window.show();
    TestSupport::processEvents();

    ASSERT_EQ(table->height(), 20 * 32);
    const QImage image = table->grab().toImage();
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    ASSERT_TRUE(image.save(dir + u"/tableview_20_rows.png"_s));

    const qreal scale = image.devicePixelRatio();
    for (int row = 0; row < 20; ++row) {
        const QPoint inRow(2 * scale, (row * 32 + 15) * scale);
        EXPECT_EQ(image.pixelColor(inRow), row % 2 ? kOdd : kEven) << "row " << row;
        EXPECT_NE(
            image.pixelColor(QPoint(2 * scale, (row * 32 + 31) * scale)), row % 2 ? kOdd : kEven)
            << "spacing under row " << row;
    }

    // Scrolled to the end, the last row is in view.
    window.ensureVisible(0, table->height() - 1);
    TestSupport::processEvents();
    EXPECT_TRUE(table->viewAtRow(19)->visibleRegion().boundingRect().height() == 30);
}
