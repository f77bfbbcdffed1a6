// A program quit while it is busy, as a person may quit either program mid-refresh: starts a
// refresh of every stored source, the search for their icons and the pictures of the stored
// stories, ends its event loop after the given time and returns from main as the programs do.
//
//   quit_helper <milliseconds>     (prints "quitting" as the event loop ends)

#include "data/discovery/IconLoading.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/network/UrlSession.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int quitAfter = QCoreApplication::arguments().value(1).toInt();

    const std::shared_ptr<Sync> refresh = Sync::create();
    refresh->updateStories(UrlSessionConfiguration(), [](bool) {});
    findMissingIcons();
    const std::shared_ptr<UrlSession> images = UrlSession::create();
    for (const std::shared_ptr<NewsStory>& story : StoredStoriesData().storedStories()) {
        story->loadImage(images, {}, [story] {
            if (const QImage image = story->image(); !image.isNull())
                (void)StoredStoriesData().updateImage(image, *story);
        });
    }

    QTimer::singleShot(quitAfter, &app, &QCoreApplication::quit);
    const int code = QApplication::exec();
    std::puts("quitting");
    std::fflush(stdout);
    return endProgram(code);
}
