#pragma once

#include "app/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"

#include <QPointer>

class QLabel;
class QString;
class QWidget;

namespace Tickerly::App {

// A red strip with a message, 20 points high and as wide as its host, at the host's top edge:
// it slides down with a message and away again three seconds later. Main thread; its label is
// a child of the host, which owns it; the object is held by the host's view.
class ErrorBanner {
public:
    explicit ErrorBanner(QWidget* host);

    QLabel* label() const { return m_label; }
    const AppKit::LayoutConstraintRef& topConstraint() const { return m_top; }
    void setTopConstraint(AppKit::LayoutConstraintRef constraint) { m_top = std::move(constraint); }

    // Whether the banner is in place (its top constraint at exactly 0); not animated by itself.
    bool isShown() const;
    void setShown(bool shown);
    // Shows `text`, slides the banner in and, three seconds later, out again.
    void show(const QString& text);

private:
    QPointer<QWidget> m_host;
    QLabel* m_label;
    AppKit::LayoutConstraintRef m_top;
};

} // namespace Tickerly::App
