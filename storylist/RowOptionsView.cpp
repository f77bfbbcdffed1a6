#include "storylist/RowOptionsView.h"

#include "storylist/ImageButton.h"
#include "storylist/ViewKit.h"

#include <algorithm>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

RowOptionsViewDelegate::~RowOptionsViewDelegate() = default;

RowOptionsView::RowOptionsView(QWidget* parent)
    : QWidget(parent)
{
    // Placed by its owner's constraints; until then it has no size.
    resize(0, 0);
    setup();
}

RowOptionsView::~RowOptionsView() = default;

RowOptionsViewDelegate* RowOptionsView::delegate() const { return m_delegate.get(); }

void RowOptionsView::setDelegate(RowOptionsViewDelegate* delegate) { m_delegate.set(delegate); }

void RowOptionsView::setupButtons(const QList<RowOption>& options)
{
    // Each binding of the row asks again; new buttons every time left the old ones' layout
    // work and deferred deletions behind at every reload of the list.
    const auto same = [](const RowOption& a, const RowOption& b) {
        return a.identifier == b.identifier && a.icon == b.icon;
    };
    if (!m_buttons.isEmpty() && m_buttons.size() == options.size()
        && std::all_of(
            m_buttons.cbegin(), m_buttons.cend(), [](const auto& b) { return !b.isNull(); })
        && std::equal(options.cbegin(), options.cend(), m_options.cbegin(), m_options.cend(), same))
        return;
    removeButtons();
    m_options = options;
    QAbstractButton* previous = nullptr;
    for (const RowOption& option : options) {
        auto* button = new ImageButton(option.icon);
        appendButton(button, previous);
        QObject::connect(
            button, &QAbstractButton::clicked, this, [this, button] { buttonPressed(button); });
        m_buttonIdentifiers.insert(option.identifier, button);
        m_buttons.append(button);
        previous = button;
    }
}

void RowOptionsView::removeButtons()
{
    // Every button made, not only those the map still names: a repeated identifier would
    // otherwise leave its earlier button behind for good.
    LayoutConstraintList stale;
    for (const QPointer<QAbstractButton>& button : std::as_const(m_buttons)) {
        if (!button)
            continue;
        for (const LayoutConstraintRef& c : AppKit::constraints(this)) {
            if (c->firstItem() == button || c->secondItem() == button)
                stale.append(c);
        }
        button->hide();
        button->setParent(nullptr);
        // Later: the press being handled may be this very button's.
        button->deleteLater();
    }
    AppKit::removeConstraints(this, stale);
    m_buttons.clear();
    m_buttonIdentifiers.clear();
    m_options.clear();
}

void RowOptionsView::appendButton(QAbstractButton* button, QAbstractButton* after)
{
    addSubviews(this, button);
    const LayoutViews views { { u"button"_s, button } };
    constraints(this, u"|[button]|"_s, u"[button(64)]"_s, views);
    if (after)
        constraints(this, std::nullopt, u"[after][button]"_s,
            { { u"button"_s, button }, { u"after"_s, after } });
    else
        constraints(this, std::nullopt, u"|[button]"_s, views);
}

void RowOptionsView::buttonPressed(QAbstractButton* sender)
{
    for (auto it = m_buttonIdentifiers.cbegin(); it != m_buttonIdentifiers.cend(); ++it) {
        if (it.value() != sender)
            continue;
        if (RowOptionsViewDelegate* d = delegate())
            d->rowOptionButtonPressed(it.key(), this);
        return;
    }
}

} // namespace Tickerly::StoryList
