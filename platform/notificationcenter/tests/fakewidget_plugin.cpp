// A stand-in widget for the host's tests: its view sizes itself by a height constraint that
// grows or shrinks by one row per press of its buttons, and it counts what the host asks of it. The
// counts are properties of the view, where a test reaches them.

#include "platform/appkit/ConstraintLayout.h"
#include "platform/notificationcenter/WidgetProviding.h"

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;

using namespace Qt::Literals::StringLiterals;

namespace {

class FakeViewController final : public WidgetViewController, public NCWidgetProviding {
public:
    ~FakeViewController() override { delete m_view.data(); }

    QWidget* view() override
    {
        if (m_view)
            return m_view;
        m_view = new QWidget;
        m_view->setObjectName(u"fakeView"_s);
        auto* more = new QPushButton(u"More"_s, m_view);
        more->setObjectName(u"more"_s);
        more->setGeometry(10, 10, 80, 24);
        m_height = LayoutConstraint::create(m_view, LayoutAttribute::Height, LayoutRelation::Equal,
            nullptr, LayoutAttribute::NotAnAttribute, 1.0, 100);
        AppKit::addConstraint(m_view, m_height);
        auto* fewer = new QPushButton(u"Fewer"_s, m_view);
        fewer->setObjectName(u"fewer"_s);
        fewer->setGeometry(100, 10, 80, 24);
        QObject::connect(more, &QPushButton::clicked, m_view,
            [this] { m_height->setConstant(m_height->constant() + 77); });
        QObject::connect(fewer, &QPushButton::clicked, m_view,
            [this] { m_height->setConstant(m_height->constant() - 77); });
        return m_view;
    }
    NCWidgetProviding& provider() override { return *this; }

    void widgetPerformUpdateWithCompletionHandler(CompletionHandler completionHandler) override
    {
        m_view->setProperty("updates", m_view->property("updates").toInt() + 1);
        completionHandler(NCUpdateResult::NewData);
    }
    EdgeInsets widgetMarginInsetsForProposedMarginInsets(EdgeInsets proposed) override
    {
        m_view->setProperty("proposedLeft", proposed.left);
        return { 4, 6, 2, 6 };
    }

private:
    QPointer<QWidget> m_view;
    LayoutConstraintRef m_height;
};

} // namespace

class FakeWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TICKERLY_WIDGET_INTERFACE_IID FILE "fakewidget.json")
    Q_INTERFACES(Tickerly::WidgetInterface::WidgetPlugin)
public:
    std::unique_ptr<WidgetViewController> makeViewController(const QString& className) override
    {
        if (className != u"FakeViewController"_s)
            return nullptr;
        return std::make_unique<FakeViewController>();
    }
};

#include "fakewidget_plugin.moc"
