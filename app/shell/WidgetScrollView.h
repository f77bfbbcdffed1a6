#pragma once

#include "app/Namespace.h"
#include "app/shell/ScrollView.h"
#include "platform/appkit/VisualFormat.h"
#include "platform/appkit/WeakDelegate.h"

#include <QPointer>

namespace Tickerly::App {

class Spinner;
class WidgetScrollView;

// Asked by the scroll view to refresh once the user has pulled far enough.
class WidgetScrollViewDelegate {
public:
    virtual ~WidgetScrollViewDelegate();
    virtual void wantsRefresh(WidgetScrollView* scrollView) = 0;
};

// The stories list's clip view: keeps the top 76 points of the document (the refresh strip)
// out of reach while no refresh runs.
class WidgetClipView : public ClipView {
    Q_OBJECT
public:
    explicit WidgetClipView(QWidget* parent = nullptr);

    bool showsTop() const { return m_showsTop; }
    // Lays the clip view out after every assignment, also of the same value.
    void setShowsTop(bool showsTop);

    QRectF documentRect() const override;
    // What documentRect makes of the plain clip view's rectangle `rect`.
    QRectF documentRectFrom(const QRectF& rect) const;

private:
    bool m_showsTop = false;
};

// The strip above the list that holds the wave spinner. It takes no clicks: it lies over the
// top of the first story.
class RefreshView : public QWidget {
    Q_OBJECT
public:
    RefreshView();

    Spinner* spinner() const { return m_spinner; }

    bool refreshing() const { return m_refreshing; }
    // Starts the spinner's loop, or stops it (also when the value did not change).
    void setRefreshing(bool refreshing);

private:
    void setup();

    Spinner* m_spinner;
    bool m_refreshing = false;
};

// The stories list's scroll view: follows a pull past the top with the spinner's frames,
// asks its delegate to refresh when a touchpad gesture ends far enough down, and hides the
// strip again on finishRefresh(). Its clip view must be a WidgetClipView. Main thread only.
class WidgetScrollView : public ScrollView {
    Q_OBJECT
public:
    explicit WidgetScrollView(QWidget* parent = nullptr);
    ~WidgetScrollView() override;

    // Not owned, held weakly when it is a QObject.
    WidgetScrollViewDelegate* delegate() const;
    void setDelegate(WidgetScrollViewDelegate* delegate);

    RefreshView* refreshView() const { return m_refreshView; }

    bool refreshing() const { return m_refreshing; }
    // Sets the refresh view's state, then whether the clip view shows the strip.
    void setRefreshing(bool refreshing);

    // The names the layout formats use.
    AppKit::LayoutViews views() const;
    // The clip view; any other kind than WidgetClipView stops the program.
    WidgetClipView* clipView() const;

    // Called once the storyboard has built the scroll view and its clip view.
    void awakeFromNib();
    void setupRefreshView();

    void scrollWheel(const ScrollEvent& event) override;
    // Hides the strip and scrolls the list back to its top, animated.
    void finishRefresh();

    // The pull distance a clip origin gives: 1 at rest with the strip hidden, one more for
    // each point pulled past the top.
    static int pullDistance(double clipOriginY);
    // The spinner frame for a pull distance.
    static int frameForPull(int pullDistance);

private:
    AppKit::WeakDelegate<WidgetScrollViewDelegate> m_delegate;
    RefreshView* m_refreshView;
    bool m_refreshing = false;
};

} // namespace Tickerly::App
