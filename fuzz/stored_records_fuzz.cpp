#include "data/model/ArchivedStoriesData.h"
#include "data/model/HotStory.h"
#include "data/model/StoryStateData.h"
#include "data/model/TopFeedSource.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

// Stored lists of every store (sources, stories, states, popular feeds, hot stories), as a
// damaged suite may hold them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (TopFeedSource::registerArchiveClasses(),
        HotStory::registerArchiveClasses(), StoryStateData::registerArchiveClasses(),
        ArchivedStoriesData::registerArchiveClasses(), true);
    (void)registered;
    (void)KeyedUnarchiver::unarchiveArrayWithData(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
