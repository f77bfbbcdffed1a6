#include "data/model/SourcesData.h"
#include "data/model/StoryStateData.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

// A kept-change journal left by a run that ended, as the next opening replays it into the store:
// the changes of the data library (sources, story states) and plain values, whole, cut short or
// damaged.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir home;
    static const bool ready = (qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()),
        SourcesData::refusedChangeKey(), StoryStateData::refusedChangeKey(), true);
    (void)ready;
    static int run = 0;
    const QString suite = u"fuzz.suite"_s;
    UserDefaults defaults(suite);
    const QString dir = home.path() + u"/group-containers/fuzz.suite/Preferences/"_s;
    // A name of its own each time: a journal of a kind nobody knows is left, and passed over.
    const QString journal
        = dir + suite + u".sqlite.kept-"_s + QString::number(++run).rightJustified(32, u'0');
    QFile file(journal);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    (void)defaults.retryKeptChanges();
    QFile::remove(journal);
    return 0;
}
