#pragma once

#include "platform/appkit/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"
#include "tickerlyappkit_export.h"

#include <QLayout>

#include <memory>

namespace Tickerly::AppKit {

// The constraint layout of one view (the holder): it keeps the constraints added to the
// holder, solves them with the linear solver and applies the result to the geometry of the
// views they mention (the holder's descendants). Coordinates are the holder's own.
//
// What each view contributes:
// - the holder: its size, as Qt gave it (stronger than any non-required constraint);
// - a descendant that translates its autoresizing mask (the default): its current frame,
//   held as firmly as the holder's size;
// - any other descendant: free, with its intrinsic content size (QWidget::sizeHint(), or the
//   fitting size of its own constraint layout) held by its content hugging priority (at most
//   that size) and compression resistance priority (at least that size); where nothing
//   decides, it keeps its current frame.
//
// Made on demand by addConstraint() and owned by the holder, as its QLayout; a widget that
// already has another QLayout cannot hold constraints. Main thread only.
class TICKERLYAPPKIT_EXPORT ConstraintLayout : public QLayout {
    Q_OBJECT
public:
    ~ConstraintLayout() override;

    // Whether of() makes the holder's constraint layout when it has none, or answers null.
    enum class Lookup { MakeIfMissing, ExistingOnly };
    // The holder's constraint layout.
    static ConstraintLayout* of(QWidget* holder, Lookup lookup = Lookup::MakeIfMissing);

    void addConstraint(const LayoutConstraintRef& constraint);
    void removeConstraint(const LayoutConstraintRef& constraint);
    const LayoutConstraintList& constraints() const;

    // Asks for a layout pass on the next turn of the main queue.
    void setNeedsLayout();
    bool needsLayout() const;
    // Solves and applies now when anything changed since the last pass.
    void layoutIfNeeded();

    // The holder's size that its constraints alone give (holder size left free).
    QSize fittingSize() const;
    // Forgets the fitting size (the holder's intrinsic size changed).
    void invalidateFittingSize();

    // What the solver holds: it goes back down as views and constraints go.
    struct SolverSize {
        std::size_t rows = 0;
        std::size_t variables = 0;
        std::size_t constraints = 0;
        bool operator==(const SolverSize&) const = default;
    };
    SolverSize solverSize() const;

    // QLayout
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;
    void invalidate() override;
    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int) const override { return nullptr; }
    QLayoutItem* takeAt(int) override { return nullptr; }
    int count() const override { return 0; }

    struct Engine;

private:
    friend class LayoutConstraint;
    explicit ConstraintLayout(QWidget* holder);
    void constraintChanged(LayoutConstraint* constraint);
    void performLayout();
    void applyFrames();

    std::unique_ptr<Engine> d;
};

// The view-side operations of the layout layer.

// Whether the view's frame is fixed by its parent (true, the default) or by constraints.
TICKERLYAPPKIT_EXPORT void setTranslatesAutoresizingMaskIntoConstraints(QWidget* view, bool on);
TICKERLYAPPKIT_EXPORT bool translatesAutoresizingMaskIntoConstraints(const QWidget* view);

// Defaults: hugging 250, compression resistance 750, in both orientations.
TICKERLYAPPKIT_EXPORT void setContentHuggingPriority(
    QWidget* view, LayoutPriority priority, LayoutOrientation orientation);
TICKERLYAPPKIT_EXPORT LayoutPriority contentHuggingPriority(
    const QWidget* view, LayoutOrientation orientation);
TICKERLYAPPKIT_EXPORT void setContentCompressionResistancePriority(
    QWidget* view, LayoutPriority priority, LayoutOrientation orientation);
TICKERLYAPPKIT_EXPORT LayoutPriority contentCompressionResistancePriority(
    const QWidget* view, LayoutOrientation orientation);

// The size the view's content asks for (its size hint; for a view whose height depends on
// its width, that height at its current width); a negative dimension means none.
TICKERLYAPPKIT_EXPORT QSize intrinsicContentSize(const QWidget* view);
// Tells the layouts above `view` that its intrinsic size changed.
TICKERLYAPPKIT_EXPORT void invalidateIntrinsicContentSize(QWidget* view);

TICKERLYAPPKIT_EXPORT void addConstraint(QWidget* view, const LayoutConstraintRef& constraint);
TICKERLYAPPKIT_EXPORT void addConstraints(QWidget* view, const LayoutConstraintList& constraints);
TICKERLYAPPKIT_EXPORT void removeConstraint(QWidget* view, const LayoutConstraintRef& constraint);
TICKERLYAPPKIT_EXPORT void removeConstraints(
    QWidget* view, const LayoutConstraintList& constraints);
// The constraints the view holds.
TICKERLYAPPKIT_EXPORT LayoutConstraintList constraints(const QWidget* view);

// Asks for a layout pass of the view's constraints on the next turn of the main queue.
TICKERLYAPPKIT_EXPORT void setNeedsLayout(QWidget* view);
// Lays out, now, the view and every view below it whose constraints or sizes changed. Inside
// an animation group that allows implicit animation the frames move over the group's duration.
TICKERLYAPPKIT_EXPORT void layoutSubtreeIfNeeded(QWidget* view);

// Sets the frame (geometry in the parent), animated inside an animating group; lays out the
// view's own constraints when its size changed.
TICKERLYAPPKIT_EXPORT void setFrame(QWidget* view, const QRect& frame);
// The frame the view has, or is animating to.
TICKERLYAPPKIT_EXPORT QRect targetFrame(const QWidget* view);

// Opacity of the view and its children (1 opaque, 0 transparent), animatable.
TICKERLYAPPKIT_EXPORT void setOpacity(QWidget* view, double opacity);
TICKERLYAPPKIT_EXPORT double opacity(const QWidget* view);

} // namespace Tickerly::AppKit
