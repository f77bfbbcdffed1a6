#include "app/sources/SourcesWindowController.h"

#include "app/shell/Application.h"
#include "app/sources/PopularPanel.h"
#include "app/sources/SourcesView.h"
#include "app/sources/SourcesViewController.h"
#include "data/discovery/SourceAdder.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/Sound.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QLineEdit>

#include <cstdio>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

void trace(const char* line)
{
    std::puts(line);
    std::fflush(stdout);
}

} // namespace

QRect popularWindowFrame(const QSize& windowSize, const QRect& anchor)
{
    // Whole points: the centre of an odd spare width rounds down, as the window system does.
    return QRect(QPoint(int((windowSize.width() - popularWindowSize.width()) * 0.5),
                     anchor.y() + anchor.height()),
        popularWindowSize);
}

SourcesWindowController::SourcesWindowController(TopLevelWindow* window, QObject* parent)
    : WindowController(window, parent)
{
    setup();
}

SourcesWindowController::~SourcesWindowController()
{
    // The panel lies in the window, which goes with the base class: take it out first.
    hidePopularWindow();
}

void SourcesWindowController::setup()
{
    // The window as it is now; without one, every window's resize is heard.
    const TopLevelWindow* observed = existingWindow();
    NotificationCenter::defaultCenter().addObserver(this, windowDidResizeNotification,
        observed ? observed->notificationObject() : nullptr,
        [this](const Notification&) { updatePopularWindowFrame(); });
}

SourcesViewController* SourcesWindowController::listViewController() const
{
    return qobject_cast<SourcesViewController*>(contentViewController());
}

void SourcesWindowController::windowDidLoad()
{
    WindowController::windowDidLoad();
    // Shared ownership exists only once the controller is made, so it registers here, when its
    // window is first asked for (before it is shown).
    if (Application* application = Application::shared()) {
        if (auto self = weak_from_this().lock())
            application->setSourcesWindowController(self);
    }
    if (!m_searchBar)
        return;
    m_searchBar->setPlaceholderText(~u"Search placeholder"_s);
    m_searchBar->setDelegate(this);
    NotificationCenter::defaultCenter().addObserver(this, controlTextDidEndEditingNotification,
        m_searchBar.data(), [this](const Notification&) {
            trace("unfocus");
            setPopularWindowVisible(false);
        });
    QPointer<SourcesWindowController> weakSelf(this);
    m_searchBar->onFocus = [weakSelf] {
        trace("focus");
        if (weakSelf)
            weakSelf->setPopularWindowVisible(true);
    };
    // As any drop-down list, the panel closes on Esc; the field goes on editing.
    m_searchBar->onCancel = [weakSelf] {
        if (weakSelf)
            weakSelf->setPopularWindowVisible(false);
    };
}

void SourcesWindowController::setPopularWindowVisible(bool visible)
{
    m_popularWindowVisible = visible;
    if (visible && !m_popularWindowController)
        showPopularWindow();
    else if (!visible && m_popularWindowController)
        hidePopularWindow();
}

void SourcesWindowController::showPopularWindow()
{
    TopLevelWindow* sourcesWindow = window();
    if (!sourcesWindow)
        return;
    const auto board = storyboard();
    m_popularWindowController = board
        ? controllerCast<WindowController>(board->instantiateController(popularWindowIdentifier))
        : nullptr;
    updatePopularWindowFrame();
    if (m_popularWindowController) {
        if (TopLevelWindow* panel = m_popularWindowController->window())
            sourcesWindow->addChildWindow(panel);
    }
}

void SourcesWindowController::hidePopularWindow()
{
    if (m_popularWindowController) {
        TopLevelWindow* panel = m_popularWindowController->window();
        if (TopLevelWindow* sourcesWindow = existingWindow(); panel && sourcesWindow)
            sourcesWindow->removeChildWindow(panel);
    }
    m_popularWindowController.reset();
}

void SourcesWindowController::updatePopularWindowFrame()
{
    TopLevelWindow* sourcesWindow = window();
    if (!m_searchBar || !sourcesWindow || !m_popularWindowController)
        return;
    TopLevelWindow* panel = m_popularWindowController->window();
    if (!panel)
        return;
    const QRect anchor(m_searchBar->mapTo(sourcesWindow, QPoint(0, 0)), m_searchBar->size());
    panel->setGeometry(popularWindowFrame(sourcesWindow->size(), anchor));
    panel->raise();
}

bool SourcesWindowController::controlTextShouldEndEditing(QObject* control)
{
    auto* field = qobject_cast<QLineEdit*>(control);
    if (!field)
        return true;
    trace("unfocus");
    const QString text = field->text();
    if (text.isEmpty())
        return true;
    if (m_spinner) {
        m_spinner->startAnimation(this);
        m_spinner->show();
    }
    QPointer<SourcesWindowController> weakSelf(this);
    QPointer<QLineEdit> keptField(field);
    using Outcome = SourceAdder::Outcome;
    SourceAdder().addSource(
        text, std::function<void(Outcome)>([weakSelf, keptField](Outcome outcome) {
            if (weakSelf && weakSelf->m_spinner)
                weakSelf->m_spinner->stopAnimation(weakSelf.data());
            if (outcome == Outcome::Added || outcome == Outcome::HeldInMemory) {
                playSound(u"Add feed.wav"_s);
                if (keptField)
                    keptField->setText(QString());
                // In the list, but not safe until the store frees.
                if (outcome == Outcome::HeldInMemory && weakSelf)
                    weakSelf->showError(~u"Save change error"_s);
            } else if (weakSelf) {
                weakSelf->showError(~(
                    outcome == Outcome::NotStored ? u"Save change error"_s : u"Add feed error"_s));
            }
        }));
    return true;
}

void SourcesWindowController::showError(const QString& text) const
{
    if (SourcesViewController* list = listViewController()) {
        if (SourcesView* view = list->contentView())
            view->showError(text);
    }
}

void SourcesWindowController::openStoriesWindow(QObject* sender)
{
    if (Application* application = Application::shared())
        application->openStoriesWindow(sender);
}

void SourcesWindowController::openPreferencesWindow(QObject* sender)
{
    if (Application* application = Application::shared())
        application->openPreferencesWindow(sender);
}

} // namespace Tickerly::App
