#include "app/sources/SourcesWindowScene.h"

#include "app/shell/Style.h"
#include "app/sources/PopularPanel.h"
#include "app/sources/SearchBar.h"
#include "app/sources/SourcesScene.h"
#include "app/sources/SourcesViewController.h"
#include "app/sources/SourcesWindowController.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "storylist/ViewKit.h"

#include <QToolButton>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double kBelowBanner = 6;

// A button that leaves the keyboard focus in the search field.
QToolButton* windowButton(const QString& titleKey)
{
    auto* button = new QToolButton;
    button->setText(~titleKey);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

} // namespace

std::shared_ptr<QObject> sourcesWindowScene(TopLevelWindow* window)
{
    auto controller = makeController<SourcesWindowController>(window);
    auto content = makeSourcesViewController();
    QWidget* band = content->view()->findChild<QWidget*>(u"searchBand"_s);

    auto* searchBar = new SearchBar;
    auto* spinner = new ProgressIndicator;
    spinner->setColor(Style::white(0.4));
    spinner->hide();
    auto* stories = windowButton(u"Stories title"_s);
    auto* preferences = windowButton(u"Preferences title"_s);
    if (band) {
        const LayoutViews views { { u"search"_s, searchBar }, { u"spinner"_s, spinner },
            { u"stories"_s, stories }, { u"preferences"_s, preferences } };
        addSubviews(band, views.values());
        constraints(band, std::nullopt,
            u"|-14-[search]-8-[spinner(16)]-8-[stories(%1)]-4-[preferences(%2)]-14-|"_s
                .arg(stories->sizeHint().width())
                .arg(preferences->sizeHint().width()),
            views);
        // A little below the middle: the error banner slides down over the band's top.
        for (QWidget* view : views.values())
            constraint(band, view, LayoutAttribute::CenterY, LayoutRelation::Equal, band,
                LayoutAttribute::CenterY, 1.0, kBelowBanner);
        constraints(band, u"[spinner(16)]"_s, std::nullopt, views);
    }
    const std::weak_ptr<SourcesWindowController> weak = controller;
    QObject::connect(stories, &QToolButton::clicked, controller.get(), [weak, stories] {
        if (auto shown = weak.lock())
            shown->openStoriesWindow(stories);
    });
    QObject::connect(preferences, &QToolButton::clicked, controller.get(), [weak, preferences] {
        if (auto shown = weak.lock())
            shown->openPreferencesWindow(preferences);
    });
    controller->setSearchBar(searchBar);
    controller->setSpinner(spinner);
    controller->setContentViewController(std::move(content));
    return controller;
}

void registerSourcesStoryboard(const QString& name, std::function<TopLevelWindow*()> makeWindow)
{
    Storyboard::registerStoryboard(
        name, [makeWindow](const Storyboard&) { return sourcesWindowScene(makeWindow()); });
    registerPopularScenes(name);
}

} // namespace Tickerly::App
