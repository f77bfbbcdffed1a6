#pragma once

#include "platform/appkit/Namespace.h"

#include <QObject>
#include <QPointer>

namespace Tickerly::AppKit {

// A delegate held weakly: when it is a QObject, it reads as none once that object is gone.
template <class Delegate> class WeakDelegate {
public:
    Delegate* get() const { return m_isObject && !m_guard ? nullptr : m_delegate; }
    void set(Delegate* delegate)
    {
        m_delegate = delegate;
        m_guard = dynamic_cast<QObject*>(delegate);
        m_isObject = !m_guard.isNull();
    }

private:
    Delegate* m_delegate = nullptr;
    QPointer<QObject> m_guard;
    bool m_isObject = false;
};

} // namespace Tickerly::AppKit
