// The other program of the two-process state tests:
//   story_states_helper <path prefix> <count>
// marks <count> stories "http://news.example/<prefix><i>" as deleted in the shared suite.

#include "data/model/StoryStateData.h"

#include <QCoreApplication>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const auto source = std::make_shared<Source>(u"Helper"_s, u"http://news.example/feed"_s);
    StoryStateData states;
    for (int i = 0; i < args.value(1).toInt(); ++i) {
        const NewsStory story(u"h"_s, u"b"_s,
            Url::fromString(u"http://news.example/"_s + args.value(0) + QString::number(i)),
            std::optional<QDateTime>(), source);
        (void)states.setState(story, StoryState::Deleted);
    }
    return 0;
}
