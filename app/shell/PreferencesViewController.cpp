#include "app/Namespace.h"
#include "PreferencesViewController.h"

#include "data/sync/Localization.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/base/Bundle.h"
#include "platform/foundation/base/Url.h"
#include "storylist/Preferences.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLoggingCategory>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcPreferences, "tickerly.preferences")

namespace {

PreferencesViewController::Links& configuredLinks()
{
    static PreferencesViewController::Links links;
    return links;
}

void show(QCheckBox* checkbox, bool on)
{
    if (checkbox)
        checkbox->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// A setting the store refused (read-only, full) is said in the log; its control then shows the
// stored value again rather than one that was never saved.
bool refused(UserDefaults::Outcome outcome, const char* setting)
{
    if (outcome != UserDefaults::Outcome::Failed)
        return false;
    qCWarning(lcPreferences, "the store refused the setting \"%s\"; showing the stored value again",
        setting);
    return true;
}

// Only a ticked box counts: the mixed state is no.
bool isOn(const QCheckBox* checkbox) { return checkbox && checkbox->checkState() == Qt::Checked; }

void setButtonTitle(QAbstractButton* button, const QString& key)
{
    if (button)
        button->setText(~key);
}

void setLabelText(QLabel* label, const QString& key)
{
    if (label)
        label->setText(~key);
}

// A text that is no address opens nothing.
void open(const QString& address)
{
    if (const std::optional<Url> url = Url::fromString(address))
        Workspace::sharedWorkspace().openURL(*url);
}

} // namespace

QString PreferencesViewController::Links::storeListing(
    const QString& prefix, const QString& identifierKey)
{
    const auto info = Bundle::mainBundle().infoDictionary();
    const QString identifier = info ? info->value(identifierKey).toString().trimmed() : QString();
    return identifier.isEmpty() ? QString() : prefix + identifier;
}

PreferencesViewController::Links PreferencesViewController::links() { return configuredLinks(); }

void PreferencesViewController::setLinks(const Links& links) { configuredLinks() = links; }

PreferencesViewController::PreferencesViewController(QObject* parent)
    : ViewController(parent)
{
}

void PreferencesViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    show(readbilityOnOpenCheckbox, Preferences().readabilityOnOpen());
    show(hideOnOpenCheckbox, Preferences().hideOnOpen());
    show(imagesCheckbox, Preferences().widgetImages());
    show(buttonsCheckbox, Preferences().widgetButtons());
    showNumberOfStories();
}

void PreferencesViewController::showNumberOfStories()
{
    if (!numberOfStoriesButton)
        return;
    // Showing all wins over the stored number. A number no item offers selects nothing.
    const qint64 tag = Preferences().widgetExpanded() ? 0 : Preferences().numberOfStories();
    numberOfStoriesButton->setCurrentIndex(numberOfStoriesButton->findData(tag));
}

void PreferencesViewController::viewWillAppear()
{
    ViewController::viewWillAppear();
    localize();
    // A store listing this deployment has none of is not offered, nor the plea for a rating.
    const Links offered = links();
    if (rateButton)
        rateButton->setHidden(offered.rate.isEmpty());
    if (reviewsLabel)
        reviewsLabel->setHidden(offered.rate.isEmpty());
    if (tickerlyiOSButton)
        tickerlyiOSButton->setHidden(offered.tickerlyiOS.isEmpty());
}

void PreferencesViewController::localize()
{
    setTitle(~u"Preferences title"_s);
    if (isViewLoaded() && qobject_cast<TopLevelWindow*>(view()->window()))
        view()->window()->setWindowTitle(title());
    setLabelText(readingStoriesTitle, u"Stories title"_s);
    setButtonTitle(readbilityOnOpenCheckbox, u"Open in Readability setting"_s);
    setButtonTitle(hideOnOpenCheckbox, u"Hide after open setting"_s);
    setButtonTitle(imagesCheckbox, u"Show images"_s);
    setButtonTitle(buttonsCheckbox, u"Show buttons"_s);
    setLabelText(buttonsExplanationTitle, u"Show buttons explanation"_s);
    setLabelText(numberOfStoriesTitle, u"Stories shown title"_s);
    setLabelText(feedbackTitle, u"Feedback title"_s);
    setButtonTitle(feedbackButton, u"Send feedback button"_s);
    setButtonTitle(rateButton, u"Rate button"_s);
    setLabelText(reviewsLabel, u"Rate message"_s);
    setLabelText(aboutUsTitle, u"About us title"_s);
    setButtonTitle(velmoraWebsiteButton, u"Velmora website button"_s);
    setButtonTitle(tickerlyWebsiteButton, u"Tickerly website button"_s);
    setButtonTitle(privacyButton, u"Privacy button"_s);
    setButtonTitle(tickerlyiOSButton, u"Tickerly iOS button"_s);
}

void PreferencesViewController::readabilityOnOpenChanged(QCheckBox* sender)
{
    if (refused(Preferences().setReadabilityOnOpen(isOn(sender)), "open in reader"))
        show(sender, Preferences().readabilityOnOpen());
}

void PreferencesViewController::hideOnOpenChanged(QCheckBox* sender)
{
    if (refused(Preferences().setHideOnOpen(isOn(sender)), "hide after open"))
        show(sender, Preferences().hideOnOpen());
}

void PreferencesViewController::imagesShownChanged(QCheckBox* sender)
{
    if (refused(Preferences().setWidgetImages(isOn(sender)), "show images"))
        show(sender, Preferences().widgetImages());
}

void PreferencesViewController::widgetButtonsChanged(QCheckBox* sender)
{
    if (refused(Preferences().setWidgetButtons(isOn(sender)), "show buttons"))
        show(sender, Preferences().widgetButtons());
}

void PreferencesViewController::velmoraWebsitePressed(QObject*) { open(links().velmoraWebsite); }

void PreferencesViewController::tickerlyWebsitePressed(QObject*) { open(links().tickerlyWebsite); }

void PreferencesViewController::privacyPressed(QObject*) { open(links().privacy); }

void PreferencesViewController::ratePressed(QObject*) { open(links().rate); }

void PreferencesViewController::feedbackPressed(QObject*) { open(links().feedback); }

void PreferencesViewController::numberOfStoriesChanged(QObject*)
{
    if (!numberOfStoriesButton || numberOfStoriesButton->currentIndex() < 0)
        return;
    const qint64 tag = numberOfStoriesButton->currentData().toLongLong();
    const bool numberRefused = refused(Preferences().setNumberOfStories(tag), "stories shown");
    if (refused(Preferences().setWidgetExpanded(tag == 0), "show all stories") || numberRefused)
        showNumberOfStories();
}

void PreferencesViewController::iOSButtonPressed(QObject*) { open(links().tickerlyiOS); }

} // namespace Tickerly::App
