#include "PreferencesStoryboard.h"

#include "app/shell/PreferencesViewController.h"
#include "app/shell/Style.h"
#include "app/shell/Window.h"
#include "data/sync/Localization.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

QLabel* label(QVBoxLayout* column, const QFont& font, bool wraps = false)
{
    auto* text = new QLabel;
    text->setTextFormat(Qt::PlainText);
    text->setFont(font);
    text->setWordWrap(wraps);
    column->addWidget(text);
    return text;
}

QLabel* footnote(QVBoxLayout* column)
{
    QLabel* text = label(column, Style::footnoteFont(), true);
    text->setForegroundRole(QPalette::PlaceholderText);
    return text;
}

QCheckBox* checkbox(QVBoxLayout* column, PreferencesViewController* controller,
    void (PreferencesViewController::*action)(QCheckBox*))
{
    auto* box = new QCheckBox;
    QObject::connect(box, &QCheckBox::clicked, controller,
        [controller, action, box] { (controller->*action)(box); });
    column->addWidget(box);
    return box;
}

QPushButton* linkButton(
    PreferencesViewController* controller, void (PreferencesViewController::*action)(QObject*))
{
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, controller,
        [controller, action, button] { (controller->*action)(button); });
    return button;
}

// The texts are set just before the window shows, in whatever language: the window then takes
// the height its wrapped texts need at its fixed width.
class FitsTextsOnShow : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<QWidget*>(watched);
        if (window && event->type() == QEvent::Show && window->layout())
            window->setFixedHeight(window->layout()->totalHeightForWidth(window->width()));
        return false;
    }
};

QHBoxLayout* row(QVBoxLayout* column)
{
    auto* line = new QHBoxLayout;
    column->addLayout(line);
    return line;
}

} // namespace

std::shared_ptr<QObject> preferencesScene(Window* window)
{
    using C = PreferencesViewController;
    auto controller = std::make_unique<C>();
    C* c = controller.get();

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(
        Style::formMargin, Style::formMargin, Style::formMargin, Style::formMargin);

    c->readingStoriesTitle = label(column, Style::sectionTitleFont());
    c->readbilityOnOpenCheckbox = checkbox(column, c, &C::readabilityOnOpenChanged);
    c->hideOnOpenCheckbox = checkbox(column, c, &C::hideOnOpenChanged);
    c->imagesCheckbox = checkbox(column, c, &C::imagesShownChanged);
    c->buttonsCheckbox = checkbox(column, c, &C::widgetButtonsChanged);
    c->buttonsExplanationTitle = footnote(column);
    // Under the checkbox's title, not its box.
    const QStyle* look = content->style();
    c->buttonsExplanationTitle->setIndent(look->pixelMetric(QStyle::PM_IndicatorWidth)
        + look->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));

    column->addSpacing(Style::sectionSpacing / 2);
    QHBoxLayout* stories = row(column);
    c->numberOfStoriesTitle = new QLabel;
    c->numberOfStoriesTitle->setTextFormat(Qt::PlainText);
    c->numberOfStoriesButton = new QComboBox;
    for (int count : { 3, 5, 7, 10 })
        c->numberOfStoriesButton->addItem(QString::number(count), count);
    c->numberOfStoriesButton->addItem(~u"All stories item"_s, 0);
    QObject::connect(c->numberOfStoriesButton, &QComboBox::activated, c,
        [c] { c->numberOfStoriesChanged(c->numberOfStoriesButton); });
    stories->addWidget(c->numberOfStoriesTitle);
    stories->addWidget(c->numberOfStoriesButton);
    stories->addStretch();

    column->addSpacing(Style::sectionSpacing);
    c->feedbackTitle = label(column, Style::sectionTitleFont());
    c->reviewsLabel = label(column, Style::controlFont(), true);
    QHBoxLayout* feedback = row(column);
    c->rateButton = linkButton(c, &C::ratePressed);
    c->feedbackButton = linkButton(c, &C::feedbackPressed);
    feedback->addWidget(c->rateButton);
    feedback->addWidget(c->feedbackButton);
    feedback->addStretch();

    column->addSpacing(Style::sectionSpacing);
    c->aboutUsTitle = label(column, Style::sectionTitleFont());
    auto* links = new QGridLayout;
    c->velmoraWebsiteButton = linkButton(c, &C::velmoraWebsitePressed);
    c->tickerlyWebsiteButton = linkButton(c, &C::tickerlyWebsitePressed);
    c->privacyButton = linkButton(c, &C::privacyPressed);
    c->tickerlyiOSButton = linkButton(c, &C::iOSButtonPressed);
    links->addWidget(c->velmoraWebsiteButton, 0, 0);
    links->addWidget(c->tickerlyWebsiteButton, 0, 1);
    links->addWidget(c->privacyButton, 1, 0);
    links->addWidget(c->tickerlyiOSButton, 1, 1);
    links->setColumnStretch(2, 1);
    column->addLayout(links);

    column->addStretch();
    c->versionLabel = footnote(column);
    c->versionLabel->setText(u"Tickerly " TICKERLY_VERSION ""_s);

    c->setView(content);
    auto windowController = makeController<WindowController>(window);
    windowController->setContentViewController(std::move(controller));
    window->setFixedWidth(window->width());
    window->installEventFilter(new FitsTextsOnShow(window));
    return windowController;
}

} // namespace Tickerly::App
