#include "SourcesScene.h"

#include "app/shell/Button.h"
#include "app/shell/Style.h"
#include "app/sources/IntroductionView.h"
#include "app/sources/NoFeedsView.h"
#include "app/sources/SourceRowView.h"
#include "app/sources/SourcesView.h"
#include "app/sources/SourcesViewController.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/ViewKit.h"

#include <QEvent>
#include <QLabel>
#include <QScrollArea>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kRowHeight = 60;
constexpr double kInstallationHeight = 190;

// The list takes the focus by Tab, and by a click that no control in it kept for itself: a
// click on a row's button, which takes no focus, leaves the focus where it is.
class ClickFocus : public QObject {
public:
    explicit ClickFocus(QScrollArea* list)
        : QObject(list)
        , m_list(list)
    {
        list->setFocusPolicy(Qt::TabFocus);
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            m_list->setFocus(Qt::MouseFocusReason);
        return false;
    }

private:
    QScrollArea* m_list;
};

// The installation help: a heading, the three steps side by side and the done button.
IntroductionView* makeInstallationView(SourcesViewController* controller)
{
    auto* help = new IntroductionView;
    QFont headingFont = Style::controlFont();
    headingFont.setPixelSize(16);
    headingFont.setBold(true);
    auto* title = initTextField(QString(), QColor(Qt::white), headingFont);
    auto* done = new Button;
    QObject::connect(done, &Control::action, controller,
        [controller](Control* sender) { controller->toggleInstallationView(sender); });
    QList<StepImageView*> steps;
    for (int step = 1; step <= 3; ++step) {
        auto* view = new StepImageView(imageNamed(u"Installing step %1"_s.arg(step)));
        view->setWantsLayer(true);
        steps << view;
    }
    const LayoutViews views { { u"title"_s, title }, { u"done"_s, done }, { u"step1"_s, steps[0] },
        { u"step2"_s, steps[1] }, { u"step3"_s, steps[2] } };
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    addSubviews(help, views.values());
    constraints(
        help, u"|-14-[title(28)]-14-[step1]"_s, u"|-20-[title]-12-[done(96)]-20-|"_s, views);
    constraints(help, u"|-14-[done(28)]"_s, std::nullopt, views);
    constraints(help, std::nullopt, u"|-20-[step1]-16-[step2]-16-[step3]-20-|"_s, views);
    for (QWidget* step : { steps[1], steps[2] }) {
        constraint(help, step, LayoutAttribute::Width, LayoutRelation::Equal, steps[0],
            LayoutAttribute::Width);
        constraint(help, step, LayoutAttribute::Top, LayoutRelation::Equal, steps[0],
            LayoutAttribute::Top);
    }
    // The pictures are 280 by 180; in a wide window they stop growing at the band's bottom edge,
    // each drawn at its own proportions in the middle of its third.
    for (QWidget* step : steps) {
        constraint(help, step, LayoutAttribute::Height, LayoutRelation::Equal, step,
            LayoutAttribute::Width, 180.0 / 280.0, 0.0, LayoutPriorities::Required - 1);
        constraint(help, step, LayoutAttribute::Bottom, LayoutRelation::LessThanOrEqual, help,
            LayoutAttribute::Bottom, 1.0, -14.0);
    }
    help->setStep1(steps[0]);
    help->setStep2(steps[1]);
    help->setStep3(steps[2]);
    help->setTitle(title);
    help->setDoneButton(done);
    return help;
}

} // namespace

std::unique_ptr<SourcesViewController> makeSourcesViewController()
{
    auto controller = std::make_unique<SourcesViewController>();
    auto* view = new SourcesView;

    auto* searchBand = new QWidget;
    searchBand->setObjectName(u"searchBand"_s);

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* table = new TableView;
    table->setRowHeight(kRowHeight);
    table->registerCellPrototype(
        u"row"_s, [](QObject*) -> QWidget* { return SourceTableViewCell::makeFromPrototype(); });
    table->setDelegate(controller.get());
    scroll->setWidget(table);
    new ClickFocus(scroll);
    // The icons' rounded overlay has white corners: the rows lie on white.
    for (QWidget* ground :
        { static_cast<QWidget*>(scroll->viewport()), static_cast<QWidget*>(table) }) {
        QPalette palette = ground->palette();
        palette.setColor(QPalette::Window, Qt::white);
        ground->setPalette(palette);
        ground->setAutoFillBackground(true);
    }

    auto* welcome = new NoFeedsParentView;
    welcome->setWantsLayer(true);
    auto* help = makeInstallationView(controller.get());

    const LayoutViews views { { u"search"_s, searchBand }, { u"table"_s, scroll },
        { u"welcome"_s, welcome }, { u"help"_s, help } };
    addSubviews(view, searchBand, scroll, help);
    // Hidden from the start, so it never covers the table unseen.
    welcome->setParent(view);
    welcome->setHidden(true);
    welcome->stackUnder(help);
    constraints(view, u"|[search(56)][table][help]"_s, u"|[search]|"_s, views);
    constraints(view, std::nullopt, u"|[table]|"_s, views);
    constraints(view, std::nullopt, u"|[help]|"_s, views);
    constraints(view, std::nullopt, u"|[welcome]|"_s, views);
    constraint(
        view, welcome, LayoutAttribute::Top, LayoutRelation::Equal, scroll, LayoutAttribute::Top);
    constraint(view, welcome, LayoutAttribute::Bottom, LayoutRelation::Equal, scroll,
        LayoutAttribute::Bottom);
    auto height = constraint(view, help, LayoutAttribute::Height, LayoutRelation::Equal, nullptr,
        LayoutAttribute::NotAnAttribute, 1.0, kInstallationHeight);
    // Its constant is how far the help lies above the bottom edge: 0 shows it, -height puts it
    // just out of sight.
    auto bottom = constraint(
        view, view, LayoutAttribute::Bottom, LayoutRelation::Equal, help, LayoutAttribute::Bottom);
    view->errorLabel()->raise();

    controller->setTableView(table);
    controller->setInstallationView(help);
    controller->setInstallationViewHeight(height);
    controller->setInstallationViewBottom(bottom);
    controller->setWelcomeView(welcome);
    controller->setView(view);
    help->awakeFromNib();
    return controller;
}

} // namespace Tickerly::App
