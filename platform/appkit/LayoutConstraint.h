#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

namespace Tickerly::AppKit {

class ConstraintLayout;

// Edges and sizes of a view that a constraint relates. The raw values are the platform's.
// Leading and trailing are left and right (left-to-right text only).
enum class LayoutAttribute {
    NotAnAttribute = 0,
    Left = 1,
    Right = 2,
    Top = 3,
    Bottom = 4,
    Leading = 5,
    Trailing = 6,
    Width = 7,
    Height = 8,
    CenterX = 9,
    CenterY = 10,
};

enum class LayoutRelation {
    LessThanOrEqual = -1,
    Equal = 0,
    GreaterThanOrEqual = 1,
};

enum class LayoutOrientation { Horizontal, Vertical };

// 1000 must hold; anything lower holds as far as higher priorities let it.
using LayoutPriority = float;
namespace LayoutPriorities {
inline constexpr LayoutPriority Required = 1000.0f;
inline constexpr LayoutPriority DefaultHigh = 750.0f;
inline constexpr LayoutPriority DefaultLow = 250.0f;
}

// One linear relation between two views' attributes:
//     firstItem.firstAttribute  relation  multiplier * secondItem.secondAttribute + constant
// or, without a second item, firstItem.firstAttribute relation constant.
//
// Made once and shared (callers keep the handles whose constant they change later). While
// active it is held by a constraint layout of a common ancestor of its items; changing its
// constant, priority or activity lays that ancestor out again (on the next turn of the main
// queue, or at the end of the changes of an open animation group, animated when the group
// allows it). Main thread only. A constraint whose item is destroyed becomes inactive.
class TICKERLYAPPKIT_EXPORT LayoutConstraint
    : public std::enable_shared_from_this<LayoutConstraint> {
public:
    static std::shared_ptr<LayoutConstraint> create(QWidget* firstItem,
        LayoutAttribute firstAttribute, LayoutRelation relation, QWidget* secondItem = nullptr,
        LayoutAttribute secondAttribute = LayoutAttribute::NotAnAttribute, double multiplier = 1.0,
        double constant = 0.0);

    QWidget* firstItem() const { return m_first; }
    LayoutAttribute firstAttribute() const { return m_firstAttribute; }
    LayoutRelation relation() const { return m_relation; }
    QWidget* secondItem() const { return m_second; }
    LayoutAttribute secondAttribute() const { return m_secondAttribute; }
    double multiplier() const { return m_multiplier; }

    double constant() const { return m_constant; }
    void setConstant(double constant);
    LayoutPriority priority() const { return m_priority; }
    void setPriority(LayoutPriority priority);

    // Active = held by a view's constraint layout. Activating a constraint that was never
    // added to a view installs it on the closest common ancestor of its items.
    bool isActive() const { return !m_layout.isNull(); }
    void setActive(bool active);
    // The view that holds it, or null.
    QWidget* holder() const;

    QString description() const;

private:
    friend class ConstraintLayout;
    LayoutConstraint() = default;

    QPointer<QWidget> m_first;
    QPointer<QWidget> m_second;
    bool m_hadSecond = false;
    LayoutAttribute m_firstAttribute = LayoutAttribute::NotAnAttribute;
    LayoutAttribute m_secondAttribute = LayoutAttribute::NotAnAttribute;
    LayoutRelation m_relation = LayoutRelation::Equal;
    double m_multiplier = 1.0;
    double m_constant = 0.0;
    LayoutPriority m_priority = LayoutPriorities::Required;
    QPointer<ConstraintLayout> m_layout;
    QPointer<QWidget> m_lastHolder;
};

using LayoutConstraintRef = std::shared_ptr<LayoutConstraint>;
using LayoutConstraintList = QList<LayoutConstraintRef>;

} // namespace Tickerly::AppKit
