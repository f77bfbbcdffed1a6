#pragma once

#include "app/Namespace.h"
#include "app/sources/SourceRowView.h"
#include "app/sources/SourcesDataSource.h"
#include "data/model/Source.h"
#include "data/model/SourcesData.h"
#include "platform/appkit/Sound.h"
#include "platform/appkit/TableView.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace Tickerly::App {

// Helpers shared by the sources list's tests.
namespace SourcesTesting {

// A source whose icon search has given up already, unless `searching`.
inline std::shared_ptr<Data::Source> source(
    const QString& title, const QString& link, bool searching = false)
{
    auto made = std::make_shared<Data::Source>(title, link);
    made->noIconFound = !searching;
    return made;
}

// Stores the sources in order and lets their change notifications go by.
inline void store(const QList<std::shared_ptr<Data::Source>>& sources)
{
    Data::SourcesData data;
    for (const auto& s : sources)
        (void)data.addSource(s);
    TestSupport::processEvents();
}

inline QList<std::shared_ptr<Data::Source>> fiveSources()
{
    return { source(QStringLiteral("The Daily Harbour"),
                 QStringLiteral("https://harbour.example/rss")),
        source(QStringLiteral("Northern Lights Weekly"),
            QStringLiteral("http://lights.example/feed.xml")),
        source(QStringLiteral("Tech & Tides"), QStringLiteral("https://tides.example/atom")),
        source(QStringLiteral("Market Notes"), QStringLiteral("https://notes.example/markets/rss")),
        source(QStringLiteral("Garden Letters"), QStringLiteral("http://letters.example/garden")) };
}

// The source names the table's rows show, top to bottom (rows sliding out left out).
inline QStringList shownNames(const AppKit::TableView& table)
{
    QStringList names;
    for (int row = 0; row < table.numberOfRows(); ++row) {
        auto* cell = dynamic_cast<SourceTableViewCell*>(table.viewAtRow(row));
        names << (cell && cell->contentView() && cell->contentView()->data()
                ? cell->contentView()->data()->name
                : QString());
    }
    return names;
}

// Runs the main queue's clock virtually for the life of the object.
struct VirtualTime {
    VirtualTime() { Foundation::MainQueue::setClock(&clock); }
    ~VirtualTime() { Foundation::MainQueue::setClock(nullptr); }
    // Moves on in small steps, letting the completions queued on the way run, so animations
    // started by completions start when they would.
    void advance(double seconds)
    {
        constexpr double kStep = 0.01;
        while (seconds > 1e-9) {
            const double step = std::min(kStep, seconds);
            clock.advance(step);
            TestSupport::processEvents();
            seconds -= step;
        }
    }
    Foundation::VirtualClock clock;
};

// Records the sounds played for the life of the object.
struct SoundRecorder {
    SoundRecorder()
    {
        previous = AppKit::setSoundPlayer([this](const QString& name) { played << name; });
    }
    ~SoundRecorder() { AppKit::setSoundPlayer(previous); }
    QStringList played;
    AppKit::SoundPlayer previous;
};

inline void saveScreenshot(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    widget->grab().save(dir + u'/' + name);
}

} // namespace SourcesTesting

} // namespace Tickerly::App
