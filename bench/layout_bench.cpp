// Layout of a story list of 20 rows, each with the story row's constraint set: the content's
// seven views and the cell's two sliding constraints. One frame is 16 ms.

#include "storylist/ViewKit.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;

using namespace Qt::Literals::StringLiterals;

namespace {

using LA = LayoutAttribute;
constexpr auto Eq = LayoutRelation::Equal;
constexpr int kRows = 20;

struct Row {
    QWidget* cell = nullptr;
    LayoutConstraintRef leftMargin;
    LayoutConstraintRef optionsRightMargin;
};

QWidget* makeContent(int index)
{
    auto* content = new QWidget;
    auto* title
        = new QLabel(u"Headline number %1 of the story list, long enough to wrap"_s.arg(index));
    title->setWordWrap(true);
    auto* text = new QLabel(u"The body of the story, shortened for the row"_s);
    text->setWordWrap(true);
    auto* image = new QWidget;
    auto* time = new QLabel(u"12:34"_s);
    auto* icon = new QWidget;
    auto* close = new QPushButton;
    auto* share = new QPushButton;
    const LayoutViews views { { u"title"_s, title }, { u"text"_s, text }, { u"image"_s, image },
        { u"time"_s, time }, { u"icon"_s, icon }, { u"close"_s, close }, { u"share"_s, share } };
    addSubviews(content, views.values());
    Tickerly::AppKit::setContentCompressionResistancePriority(
        title, 1000, LayoutOrientation::Vertical);
    Tickerly::AppKit::setContentHuggingPriority(title, 1000, LayoutOrientation::Vertical);
    constraints(content, u"|-2-[title][text]|"_s, std::nullopt, views);
    constraints(content, u"|[image]|"_s, std::nullopt, views);
    constraints(content, u"|-3-[icon]"_s, std::nullopt, views);
    constraints(content, u"|-4-[time]"_s, std::nullopt, views);
    constraints(content, std::nullopt, u"|[image]"_s, views);
    constraints(
        content, std::nullopt, u"[image]-5-[icon(16)]-5-[title]-(>=0)-[time(45)]-2-|"_s, views);
    constraints(content, std::nullopt, u"[image]-5-[text]-45-|"_s, views);
    constraint(content, image, LA::Width, Eq, nullptr, LA::NotAnAttribute, 1.0, 50);
    constraint(content, icon, LA::Width, Eq, icon, LA::Height);
    constraint(content, title, LA::Width, Eq, content, LA::Width, 1.0, -130);
    constraints(content, u"[time]-2-[close]-2-[share]"_s, std::nullopt, views);
    constraint(content, close, LA::CenterX, Eq, time, LA::CenterX, 1.0, 10);
    constraint(content, share, LA::CenterX, Eq, time, LA::CenterX, 1.0, 10);
    return content;
}

Row makeRow(QWidget* list, int index)
{
    Row row;
    row.cell = new QWidget(list);
    row.cell->setGeometry(0, index * 77, list->width(), 77);
    QWidget* content = makeContent(index);
    auto* strip = new QWidget;
    addSubviews(row.cell, content);
    row.leftMargin = constraint(row.cell, content, LA::Left, Eq, row.cell, LA::Left);
    constraint(row.cell, content, LA::Width, Eq, row.cell, LA::Width);
    constraints(row.cell, u"|[v(75)]"_s, std::nullopt, { { u"v"_s, content } });
    addSubviews(row.cell, strip);
    row.optionsRightMargin = constraint(row.cell, row.cell, LA::Right, Eq, strip, LA::Left);
    constraint(row.cell, strip, LA::Width, Eq, row.cell, LA::Width);
    constraints(row.cell, u"|[v]|"_s, std::nullopt, { { u"v"_s, strip } });
    return row;
}

struct StoryList {
    std::unique_ptr<QWidget> list = std::make_unique<QWidget>();
    std::vector<Row> rows;

    StoryList()
    {
        list->resize(320, kRows * 77);
        for (int i = 0; i < kRows; ++i)
            rows.push_back(makeRow(list.get(), i));
    }

    void resize(int width)
    {
        list->resize(width, list->height());
        for (const Row& r : rows)
            r.cell->resize(width, 77);
        Tickerly::AppKit::layoutSubtreeIfNeeded(list.get());
    }
};

void BM_BuildAndLayOutStoryList(benchmark::State& state)
{
    for (auto _ : state) {
        StoryList list;
        Tickerly::AppKit::layoutSubtreeIfNeeded(list.list.get());
        benchmark::DoNotOptimize(list.rows.front().cell->geometry());
    }
}
BENCHMARK(BM_BuildAndLayOutStoryList)->Unit(benchmark::kMillisecond);

void BM_FirstLayoutOfABuiltStoryList(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto list = std::make_unique<StoryList>();
        state.ResumeTiming();
        Tickerly::AppKit::layoutSubtreeIfNeeded(list->list.get());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstLayoutOfABuiltStoryList)->Unit(benchmark::kMillisecond);

void BM_LayOutStoryListAfterAResize(benchmark::State& state)
{
    StoryList list;
    Tickerly::AppKit::layoutSubtreeIfNeeded(list.list.get());
    int width = 320;
    for (auto _ : state) {
        width = width == 320 ? 360 : 320;
        list.resize(width);
    }
}
BENCHMARK(BM_LayOutStoryListAfterAResize)->Unit(benchmark::kMillisecond);

void BM_SlideOneRow(benchmark::State& state)
{
    StoryList list;
    Tickerly::AppKit::layoutSubtreeIfNeeded(list.list.get());
    double margin = 0;
    for (auto _ : state) {
        margin = margin == 0 ? -120 : 0;
        const Row& row = list.rows[7];
        row.leftMargin->setConstant(margin);
        row.optionsRightMargin->setConstant(-margin);
        Tickerly::AppKit::layoutSubtreeIfNeeded(row.cell);
    }
}
BENCHMARK(BM_SlideOneRow)->Unit(benchmark::kMicrosecond);

} // namespace
