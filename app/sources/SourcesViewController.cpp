#include "SourcesViewController.h"

#include "app/sources/IntroductionView.h"
#include "app/sources/NoFeedsView.h"
#include "app/sources/SourcesView.h"
#include "data/discovery/IconLoading.h"
#include "data/model/Shared.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/Sound.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "storylist/ViewKit.h"

#include <QLoggingCategory>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcSources, "tickerly.sources")

SourcesViewController::SourcesViewController(QObject* parent)
    : ViewController(parent)
{
}

SourcesViewController::~SourcesViewController() = default;

void SourcesViewController::setInstallationView(IntroductionView* view)
{
    m_installationView = view;
}

SourcesView* SourcesViewController::contentView() { return dynamic_cast<SourcesView*>(view()); }

void SourcesViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    auto* dataSource = new SourcesDataSource(this);
    dataSource->setDelegate(this);
    if (m_tableView)
        dataSource->attachToTableView(m_tableView);
    m_dataSource = dataSource;

    const std::shared_ptr<UserDefaults> defaults = sharedDefaults();
    const QString key = QString::fromUtf16(installationShownKey);
    if (defaults->boolean(key))
        setInstallationViewHidden(true);
    // Refused (the store says so in the log), the installation view is only shown once more.
    (void)defaults->set(key, true);
    defaults->synchronize();

    // A change kept for later and refused in the end is undone in the list (the data source
    // reads it again); the person hears of it here, as of one refused at once.
    QPointer<SourcesViewController> self(this);
    NotificationCenter::defaultCenter().addObserver(
        this, SourcesData::changeNotification(), nullptr, [self](const Notification& n) {
            if (!self || !n.userInfo.value(SourcesData::refusedChangeKey()).toBool())
                return;
            if (SourcesView* shown = self->contentView())
                shown->showError(~u"Save change error"_s);
        });

    updateWelcomeScreenVisibility();
    // The list the table has just read, not a second read of the store.
    findMissingIcons(dataSource->sources(), dataSource->sourcesData());
}

void SourcesViewController::viewWillAppear()
{
    ViewController::viewWillAppear();
    updateWelcomeScreenVisibility();
}

QWidget* SourcesViewController::viewForTableColumn(TableView* tableView, int, int)
{
    auto* cell
        = dynamic_cast<SourceTableViewCell*>(tableView->makeViewWithIdentifier(u"row"_s, this));
    if (!cell)
        return nullptr;
    cell->setDelegate(this);
    return cell;
}

void SourcesViewController::deletePressed(SourceTableViewCell* cell)
{
    SourcesData sourcesData;
    if (m_tableView && cell) {
        const int row = m_tableView->rowForView(cell);
        const auto pressed = cell->objectValue().value<std::shared_ptr<const SourceData>>();
        // A row sliding out, or no longer in the table, removes nothing. Otherwise the source
        // removed is the one the row shows, also when the store has moved on since.
        if (row >= 0 && pressed) {
            const QList<std::shared_ptr<Source>> sources = sourcesData.sources();
            const auto shows = [&](const std::shared_ptr<Source>& s) {
                return s && s->title() == pressed->name && s->link() == pressed->url;
            };
            std::shared_ptr<Source> chosen;
            if (row < sources.size() && shows(sources.at(row)))
                chosen = sources.at(row);
            else if (const auto it = std::find_if(sources.begin(), sources.end(), shows);
                     it != sources.end())
                chosen = *it;
            // A change kept for later still lands; one the store refused removed nothing. One
            // held in memory only is shown, and the person told it is not safe yet.
            const auto outcome
                = chosen ? sourcesData.removeSource(*chosen) : UserDefaults::Outcome::Done;
            if (outcome == UserDefaults::Outcome::Failed)
                qCWarning(lcSources) << "the store refused the removal of" << chosen->link();
            if (outcome == UserDefaults::Outcome::Failed
                || outcome == UserDefaults::Outcome::HeldInMemory) {
                if (SourcesView* shown = contentView())
                    shown->showError(~u"Save change error"_s);
            }
            if (outcome == UserDefaults::Outcome::Failed)
                return;
        }
    }
    playSound(u"Remove feed.wav"_s);
}

bool SourcesViewController::installationViewHidden() const
{
    return !m_installationViewBottom || m_installationViewBottom->constant() < 0;
}

void SourcesViewController::setInstallationViewHidden(bool hidden)
{
    if (m_installationViewBottom) {
        const double height = m_installationViewHeight ? m_installationViewHeight->constant() : 0;
        m_installationViewBottom->setConstant(hidden ? -height : 0);
    }
    AppKit::layoutSubtreeIfNeeded(view());
}

void SourcesViewController::toggleInstallationView(QObject*)
{
    const bool hide = !installationViewHidden();
    if (!hide && m_installationView)
        m_installationView->prepareToAnimateIn();
    auto animation = animate(view(), [this, hide](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(0.5);
        setInstallationViewHidden(hide);
    });
    QPointer<SourcesViewController> self(this);
    animation->setCompletion([self, hide] {
        if (self && !hide && self->m_installationView)
            self->m_installationView->animateIn();
    });
}

void SourcesViewController::updateWelcomeScreenVisibility()
{
    const int n = m_dataSource ? m_dataSource->numberOfItems() : 0;
    if (!m_welcomeView)
        return;
    if (n == 0)
        m_welcomeView->setHidden(false);
    // The welcome screen lies over the table: while it is transparent the table's clicks pass.
    m_welcomeView->setAttribute(Qt::WA_TransparentForMouseEvents, n != 0);
    if (m_welcomeView->wantsLayer())
        AppKit::setOpacity(m_welcomeView, n == 0 ? 1.0 : 0.0);
}

void SourcesViewController::showOrHideWelcomeScreen()
{
    const int n = m_dataSource ? m_dataSource->numberOfItems() : 0;
    if (m_welcomeView)
        m_welcomeView->setHidden(n >= 1);
}

void SourcesViewController::sourcesUpdated(SourcesDataSource*)
{
    auto animation = animate(view(), [this](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(0.5);
        updateWelcomeScreenVisibility();
    });
    QPointer<SourcesViewController> self(this);
    animation->setCompletion([self] {
        if (self)
            self->showOrHideWelcomeScreen();
    });
}

} // namespace Tickerly::App
