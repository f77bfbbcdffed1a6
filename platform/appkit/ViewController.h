#pragma once

#include "tickerlyappkit_export.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

// Manages one view: makes it on first use (from the interface registered under the
// controller's interface name, or in code by a subclass), then tells `viewDidLoad`.
// Owns the view until something else (a window) takes it as a child. Main thread only.
class TICKERLYAPPKIT_EXPORT ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(
        std::optional<QString> nibName = std::nullopt, QObject* parent = nullptr);
    ~ViewController() override;

    const std::optional<QString>& nibName() const { return m_nibName; }
    // The view, made and loaded on first use.
    QWidget* view();
    bool isViewLoaded() const { return !m_view.isNull(); }
    void setView(QWidget* view);

    // Makes the view: the registered interface of the interface name, else a plain view.
    virtual void loadView();
    // The view has been made.
    virtual void viewDidLoad() { }

    // An interface file: makes a controller's view, connecting the controller where it needs.
    using Interface = std::function<QWidget*(ViewController* owner)>;
    static void registerInterface(const QString& name, Interface interface);
    static bool hasInterface(const QString& name);

private:
    std::optional<QString> m_nibName;
    QPointer<QWidget> m_view;
    bool m_loading = false;
};
