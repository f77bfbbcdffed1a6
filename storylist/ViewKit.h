#pragma once

#include "storylist/Namespace.h"
#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/VisualFormat.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class QLabel;
class QPushButton;
class QWidget;

namespace Tickerly::StoryList {

// The small kit the story list and the application's windows build their views with:
// constraints from visual formats, single constraints with defaults, several subviews at once,
// a block-based animation whose completion is set on the object it returns, a label-style
// text field and a titled button. Main thread only, like all view work.

// What animate() returns. Its completion, read only when the group ends, runs once then.
class NSViewAnimation {
public:
    const std::function<void()>& completion() const { return m_completion; }
    void setCompletion(std::function<void()> completion) { m_completion = std::move(completion); }

private:
    std::function<void()> m_completion;
};

// constraints(vertical:horizontal:_:): makes the constraints of the vertical format ("V:" put
// in front) and then of the horizontal one ("H:" put in front), adds them all to `view` (the
// views' common ancestor, which holds them), then turns off autoresizing-mask translation on
// every view of the map. Returns the list, vertical constraints first. A malformed format is a
// programming error and stops the program with the parser's message.
AppKit::LayoutConstraintList constraints(QWidget* view, const std::optional<QString>& vertical,
    const std::optional<QString>& horizontal, const AppKit::LayoutViews& views);

// constraint(...): item.attribute relation multiplier * toItem.toAttribute + constant (with no
// second item: item.attribute relation constant), with the priority; turns off
// autoresizing-mask translation on both items, adds the constraint to `view` and returns it.
AppKit::LayoutConstraintRef constraint(QWidget* view, QWidget* item,
    AppKit::LayoutAttribute attribute, AppKit::LayoutRelation relation, QWidget* toItem = nullptr,
    AppKit::LayoutAttribute toAttribute = AppKit::LayoutAttribute::NotAnAttribute,
    double multiplier = 1.0, double constant = 0.0,
    AppKit::LayoutPriority priority = AppKit::LayoutPriorities::Required);

// addSubviews: makes each view a child of `view`, in order; translation is left alone.
void addSubviews(QWidget* view, const QList<QWidget*>& views);
template <typename... Views>
requires(std::is_convertible_v<Views, QWidget*>&&...) void addSubviews(
    QWidget* view, Views... views)
{
    addSubviews(view, QList<QWidget*> { static_cast<QWidget*>(views)... });
}

// animate: runs one animation group with `changes` (which sets duration, timing and implicit
// animation on the context and makes the changes) and returns at once the animation object;
// when the group has ended, its completion runs if one is set by then. `view` plays no part.
std::shared_ptr<NSViewAnimation> animate(
    QWidget* view, const std::function<void(AppKit::AnimationContext&)>& changes);

// init(title:textColor:font:): a label-style text field showing `title` as plain text,
// centred, without border or background, neither selectable nor editable; the colour and font
// are set only when given.
QLabel* initTextField(const QString& title, std::optional<QColor> textColor = std::nullopt,
    std::optional<QFont> font = std::nullopt, QWidget* parent = nullptr);

// init(title:textColor:backColor:rounded:backImage:): a button whose title is centred and drawn
// in the text colour (white when none is given); with a background image it is borderless and
// draws the title over the image. The background colour and the corners have no effect.
enum class ButtonCorners { Square, Rounded };
QPushButton* initButton(const QString& title, std::optional<QColor> textColor = std::nullopt,
    std::optional<QColor> backColor = std::nullopt, ButtonCorners corners = ButtonCorners::Square,
    std::optional<QImage> backImage = std::nullopt, QWidget* parent = nullptr);

} // namespace Tickerly::StoryList
