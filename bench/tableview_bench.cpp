// Frame times of a 20-row table of live widgets: a reload, and scrolling it end to end, each
// followed by painting what is in view. The budget per frame is 16 ms; reported, not asserted.

#include "platform/appkit/TableView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

using namespace Tickerly::AppKit;

using namespace Qt::Literals::StringLiterals;

namespace {

class StoryRow : public TableCellView {
public:
    StoryRow()
    {
        auto* layout = new QHBoxLayout(this);
        icon = new QLabel(u"●"_s, this);
        title = new QLabel(this);
        time = new QLabel(this);
        for (QLabel* label : { icon, title, time })
            label->setTextFormat(Qt::PlainText);
        layout->addWidget(icon);
        layout->addWidget(title, 1);
        layout->addWidget(time);
    }
    void setObjectValue(const QVariant& value) override
    {
        TableCellView::setObjectValue(value);
        title->setText(value.toString());
        time->setText(u"12:%1"_s.arg(value.toString().size() % 60, 2, 10, QLatin1Char('0')));
    }
    QLabel* icon;
    QLabel* title;
    QLabel* time;
};

struct Stories : TableViewDataSource, TableViewDelegate {
    int generation = 0;
    int numberOfRowsInTableView(TableView*) override { return 20; }
    QVariant objectValueForTableColumn(TableView*, int, int row) override
    {
        return u"Story %1 of refresh %2, a headline long enough to be cut"_s.arg(row).arg(
            generation);
    }
    QWidget* viewForTableColumn(TableView* table, int, int) override
    {
        return table->makeViewWithIdentifier(u"cell"_s, nullptr);
    }
};

struct Window {
    QScrollArea scroll;
    TableView* table = new TableView;
    Stories stories;
    QImage frame;

    Window()
    {
        scroll.setWidgetResizable(true);
        scroll.resize(320, 400);
        table->setAnimationDuration(0);
        table->setRowHeight(75);
        table->setIntercellSpacing(2);
        table->registerCellPrototype(u"cell"_s, [](QObject*) { return new StoryRow; });
        table->setDataSource(&stories);
        table->setDelegate(&stories);
        table->reloadData();
        scroll.setWidget(table);
        scroll.show();
        QCoreApplication::processEvents();
        frame = QImage(scroll.size(), QImage::Format_ARGB32_Premultiplied);
    }

    void paint()
    {
        QCoreApplication::processEvents();
        scroll.render(&frame);
    }
};

void reportFrames(benchmark::State& state, double worstMs, int overBudget, int frames)
{
    state.counters["worst_frame_ms"] = worstMs;
    state.counters["frames_over_16ms"] = overBudget;
    state.counters["frames"] = frames;
}

void BM_TableReload20Rows(benchmark::State& state)
{
    Window window;
    double worst = 0;
    int over = 0;
    int frames = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ++window.stories.generation;
        window.table->reloadData();
        window.paint();
        const double ms
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
        worst = std::max(worst, ms);
        over += ms > 16.0;
        ++frames;
    }
    reportFrames(state, worst, over, frames);
}
BENCHMARK(BM_TableReload20Rows)->Unit(benchmark::kMillisecond);

// One iteration scrolls from the top to the end at 16 px a frame, painting each frame.
void BM_TableScrollEndToEnd(benchmark::State& state)
{
    Window window;
    QScrollBar* bar = window.scroll.verticalScrollBar();
    double worst = 0;
    int over = 0;
    int frames = 0;
    for (auto _ : state) {
        for (int y = 0; y <= bar->maximum(); y += 16) {
            const auto start = std::chrono::steady_clock::now();
            bar->setValue(y);
            window.paint();
            const double ms = std::chrono::duration<double, std::milli>(
                std::chrono::steady_clock::now() - start)
                                  .count();
            worst = std::max(worst, ms);
            over += ms > 16.0;
            ++frames;
        }
    }
    reportFrames(state, worst, over, frames);
}
BENCHMARK(BM_TableScrollEndToEnd)->Unit(benchmark::kMillisecond);

} // namespace
