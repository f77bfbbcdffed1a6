#pragma once

#include "app/Namespace.h"
#include "platform/appkit/Controllers.h"

#include <QPointer>
#include <QString>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;

namespace Tickerly::App {

// The preferences window's content: the story-list settings as four checkboxes and a pop-up of
// story counts, and link buttons to the maker's and the product's pages and a feedback mail.
//
// Keeps no settings of its own: the controls show the settings as stored when the view loads,
// and every change of a control is written at once through Preferences, which tells the widget
// and the stories window; a change the store refuses shows the stored value again. Texts are set
// again before each appearance. Main thread; made by the storyboard "Preferences" and owned by its
// window controller.
class PreferencesViewController : public AppKit::ViewController {
    Q_OBJECT
public:
    // The addresses the link buttons open. Configuration; the defaults are the product's pages.
    struct Links {
        QString velmoraWebsite = QStringLiteral("http://velmora.app/");
        QString tickerlyWebsite = QStringLiteral("http://tickerly.app/");
        QString privacy = QStringLiteral("http://tickerly.app/privacy/");
        // The store listings need identifiers of the deployment, read from the application's
        // information ("App Store identifier", "Phone app App Store identifier"). Empty without
        // one, and then the button that opens it is not offered.
        QString rate = storeListing(QStringLiteral("http://itunes.apple.com/app/id"),
            QStringLiteral("App Store identifier"));
        QString feedback = QStringLiteral("mailto:support@velmora.app");
        QString tickerlyiOS
            = storeListing(QStringLiteral("https://itunes.apple.com/us/app/tickerly/id"),
                QStringLiteral("Phone app App Store identifier"));

        static QString storeListing(const QString& prefix, const QString& identifierKey);
    };
    static Links links();
    static void setLinks(const Links& links);

    explicit PreferencesViewController(QObject* parent = nullptr);

    // Outlets, filled by the storyboard; a step that needs a missing one is skipped.
    QPointer<QCheckBox> readbilityOnOpenCheckbox;
    QPointer<QCheckBox> hideOnOpenCheckbox;
    QPointer<QCheckBox> imagesCheckbox;
    QPointer<QCheckBox> buttonsCheckbox;
    QPointer<QLabel> buttonsExplanationTitle;
    QPointer<QLabel> readingStoriesTitle;
    QPointer<QLabel> aboutUsTitle;
    QPointer<QAbstractButton> velmoraWebsiteButton;
    QPointer<QAbstractButton> tickerlyWebsiteButton;
    QPointer<QAbstractButton> rateButton;
    QPointer<QAbstractButton> feedbackButton;
    QPointer<QLabel> reviewsLabel;
    QPointer<QLabel> versionLabel;
    // Each item's tag (its data) is a number of stories; 0 stands for all of them.
    QPointer<QComboBox> numberOfStoriesButton;
    QPointer<QAbstractButton> privacyButton;
    QPointer<QLabel> feedbackTitle;
    QPointer<QLabel> numberOfStoriesTitle;
    QPointer<QAbstractButton> tickerlyiOSButton;

    void viewWillAppear() override;
    // Sets every visible text from the localisation table.
    void localize();

public Q_SLOTS:
    void readabilityOnOpenChanged(QCheckBox* sender);
    void hideOnOpenChanged(QCheckBox* sender);
    void imagesShownChanged(QCheckBox* sender);
    void widgetButtonsChanged(QCheckBox* sender);
    void velmoraWebsitePressed(QObject* sender = nullptr);
    void tickerlyWebsitePressed(QObject* sender = nullptr);
    void privacyPressed(QObject* sender = nullptr);
    void ratePressed(QObject* sender = nullptr);
    void feedbackPressed(QObject* sender = nullptr);
    // Reads the choice through the outlet, whoever sends it.
    void numberOfStoriesChanged(QObject* sender = nullptr);
    void iOSButtonPressed(QObject* sender = nullptr);

protected:
    void viewDidLoad() override;

private:
    // Selects the stored number of stories.
    void showNumberOfStories();
};

} // namespace Tickerly::App
