// Building 20 story rows (label, picture, icon, time, buttons) and laying them out, as a
// refresh of the list does, and laying them out again after a change of width. One frame is
// 16 ms.

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/ListRowContentView.h"

#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>

using namespace Tickerly::StoryList;

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kRows = 20;

// The rows read their settings from the shared suite: keep it out of the real home.
void isolateDataHome()
{
    static QTemporaryDir home;
    static const bool set = qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    (void)set;
}

struct StoryRows {
    std::unique_ptr<QWidget> list = std::make_unique<QWidget>();
    QList<ListRowContentView*> rows;

    StoryRows(const QImage& picture, const QImage& icon)
    {
        list->resize(320, kRows * 77);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < kRows; ++i) {
            auto* row = new ListRowContentView(list.get());
            row->setGeometry(0, i * 77, 320, 75);
            row->titleLabel->setStringValue(
                u"Headline number %1 of the story list, long enough to wrap onto a second line"_s
                    .arg(i));
            row->text->setStringValue(u"The body of the story, shortened for the row so that it "
                                      "fits in a line or two under the headline."_s);
            row->setDate(now.addSecs(-i * 5400));
            row->imageView->setImage(picture);
            row->icon->setImage(icon);
            row->setSelected(false);
            rows.append(row);
        }
    }

    void layOut()
    {
        for (ListRowContentView* row : std::as_const(rows))
            row->layoutRow();
    }
};

QImage picture()
{
    QImage image(240, 160, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0x3a, 0x7b, 0xd5));
    return image;
}

QImage icon()
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0xe8, 0x5d, 0x3f));
    image.setDevicePixelRatio(2);
    return image;
}

void BM_BuildAndLayOutTwentyRows(benchmark::State& state)
{
    isolateDataHome();
    const QImage p = picture(), i = icon();
    for (auto _ : state) {
        StoryRows rows(p, i);
        rows.layOut();
        benchmark::DoNotOptimize(rows.rows.last()->text->geometry());
    }
}
BENCHMARK(BM_BuildAndLayOutTwentyRows)->Unit(benchmark::kMillisecond);

void BM_LayOutTwentyRowsAfterAResize(benchmark::State& state)
{
    isolateDataHome();
    StoryRows rows(picture(), icon());
    rows.layOut();
    int width = 320;
    for (auto _ : state) {
        width = width == 320 ? 360 : 320;
        for (ListRowContentView* row : std::as_const(rows.rows))
            row->resize(width, 75);
        rows.layOut();
    }
}
BENCHMARK(BM_LayOutTwentyRowsAfterAResize)->Unit(benchmark::kMillisecond);

void BM_PaintTwentyRows(benchmark::State& state)
{
    isolateDataHome();
    StoryRows rows(picture(), icon());
    rows.layOut();
    QImage target(rows.list->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        target.fill(Qt::black);
        rows.list->render(&target);
    }
}
BENCHMARK(BM_PaintTwentyRows)->Unit(benchmark::kMillisecond);

// A feed's headline has no length limit: one row with a headline of `range(0)` characters,
// bound and painted as a rebinding of the row does.
void BM_BindAndPaintRowWithHugeHeadline(benchmark::State& state)
{
    isolateDataHome();
    StoryRows rows(picture(), icon());
    rows.layOut();
    ListRowContentView* row = rows.rows.first();
    QString headline;
    while (headline.size() < state.range(0))
        headline += u"word "_s;
    QImage target(row->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        row->titleLabel->setStringValue(headline);
        row->layoutRow();
        target.fill(Qt::black);
        row->render(&target);
    }
}
BENCHMARK(BM_BindAndPaintRowWithHugeHeadline)
    ->Arg(100)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

} // namespace
