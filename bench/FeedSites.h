#pragma once

// The application benchmarks' world: `count` feed sites of 20 stories each on loopback, and a
// stored source for each.

#include "data/model/SourcesData.h"
#include "testsupport/LoopbackWorld.h"

#include <QColor>
#include <QString>

#include <memory>

namespace BenchSites {

inline QString hostOf(int i) { return QStringLiteral("site%1.test").arg(i, 3, 10, QChar(u'0')); }

// Each site answers after `delayMs`; `hueStep` tells their icons apart.
inline void addFeedSites(
    Tickerly::TestSupport::LoopbackWorld& world, int count, int hueStep, int delayMs)
{
    for (int i = 0; i < count; ++i)
        world.addFeedSite(hostOf(i), QStringLiteral("Site %1").arg(i),
            Tickerly::TestSupport::LoopbackWorld::FeedFormat::rss, 20,
            QColor::fromHsv(i * hueStep % 360, 160, 200), delayMs, i, 45);
    world.mapHostsHere();
}

// Site `i` of addFeedSites again, with `stories` new stories numbered from `firstNumber`, the
// newest a minute old.
inline void renewFeedSite(
    Tickerly::TestSupport::LoopbackWorld& world, int i, int hueStep, int firstNumber)
{
    world.addFeedSite(hostOf(i), QStringLiteral("Site %1").arg(i),
        Tickerly::TestSupport::LoopbackWorld::FeedFormat::rss, 20,
        QColor::fromHsv(i * hueStep % 360, 160, 200), 0, 1, 45, firstNumber);
}

inline void storeSources(const Tickerly::TestSupport::LoopbackWorld& world, int count)
{
    Tickerly::Data::SourcesData sources;
    for (int i = 0; i < count; ++i)
        (void)sources.addSource(std::make_shared<Tickerly::Data::Source>(
            QStringLiteral("Site %1").arg(i), world.feedURL(hostOf(i))));
}

} // namespace BenchSites
