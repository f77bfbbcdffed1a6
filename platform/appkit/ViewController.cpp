#include "platform/appkit/ViewController.h"

#include <QHash>

namespace {

QHash<QString, ViewController::Interface>& interfaces()
{
    static QHash<QString, ViewController::Interface> registry;
    return registry;
}

} // namespace

ViewController::ViewController(std::optional<QString> nibName, QObject* parent)
    : QObject(parent)
    , m_nibName(std::move(nibName))
{
}

ViewController::~ViewController()
{
    if (m_view && !m_view->parent())
        delete m_view.data();
}

QWidget* ViewController::view()
{
    if (!m_view && !m_loading) {
        m_loading = true;
        loadView();
        if (!m_view)
            setView(new QWidget);
        m_loading = false;
        viewDidLoad();
    }
    return m_view;
}

void ViewController::setView(QWidget* view) { m_view = view; }

void ViewController::loadView()
{
    if (m_nibName && interfaces().contains(*m_nibName))
        setView(interfaces().value(*m_nibName)(this));
}

void ViewController::registerInterface(const QString& name, Interface interface)
{
    interfaces().insert(name, std::move(interface));
}

bool ViewController::hasInterface(const QString& name) { return interfaces().contains(name); }
