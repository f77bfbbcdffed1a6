#pragma once

#include "app/Namespace.h"
#include "app/shell/ErrorBanner.h"
#include "platform/appkit/LayoutConstraint.h"
#include "platform/appkit/VisualFormat.h"

#include <QWidget>

class QLabel;

namespace Tickerly::App {

// The sources window's content view: holds what the scene places in it (the table, the welcome
// screen, the installation help) and a red error banner of its own, 20 points high and as wide
// as the view, that slides down from the top edge with a message and away again three seconds
// later. Main thread only; owned by its window.
class SourcesView : public QWidget {
public:
    explicit SourcesView(QWidget* parent = nullptr);

    QLabel* errorLabel() const { return m_banner.label(); }
    const AppKit::LayoutConstraintRef& errorTopConstraint() const
    {
        return m_banner.topConstraint();
    }
    void setErrorTopConstraint(AppKit::LayoutConstraintRef constraint)
    {
        m_banner.setTopConstraint(std::move(constraint));
    }

    // "error": the name the layout formats use.
    AppKit::LayoutViews views() const;

    // Whether the banner is in place (its top constraint at exactly 0); not animated by itself.
    bool errorVisible() const;
    void setErrorVisible(bool visible);

    // Shows `text` in the banner, slides it in and, three seconds later, out again.
    void showError(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ErrorBanner m_banner;
};

} // namespace Tickerly::App
