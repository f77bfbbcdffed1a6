#pragma once

#include "app/Namespace.h"

#include <QObject>
#include <QString>

namespace Tickerly::App {

// What a later start of the program asks of the one that runs, over the session bus.
class RunningInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "velmora.Tickerly")
public:
    // The name the running program holds on the session bus.
    static QString serviceName();

    using QObject::QObject;

public Q_SLOTS:
    // Brings the sources window forward, opening it when it is closed.
    Q_SCRIPTABLE void Show();
};

} // namespace Tickerly::App
