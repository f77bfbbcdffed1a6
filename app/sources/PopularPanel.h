#pragma once

#include "app/Namespace.h"
#include "data/model/TopFeedSource.h"
#include "platform/appkit/CollectionView.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/TopLevelWindow.h"

#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <memory>

namespace Tickerly::Foundation {
struct Notification;
} // namespace Tickerly::Foundation

namespace Tickerly::App {

// The storyboard scenes of the popular-feeds panel.
// The panel's size; the sources window places it.
inline constexpr QSize popularWindowSize(520, 250);

inline const QString popularWindowIdentifier = QStringLiteral("Popular Window");
inline const QString popularItemPrototypeIdentifier
    = QStringLiteral("Popular Collection View Prototype");

// The popular-feeds panel's window. It never becomes the key window: nothing in it takes the
// keyboard focus, so clicks in it leave the search field editing.
class PopularWindow : public AppKit::TopLevelWindow {
    Q_OBJECT
public:
    explicit PopularWindow(const QRect& contentRect);

    bool canBecomeKeyWindow() const { return false; }

protected:
    bool event(QEvent* event) override;
};

// The panel's background: white, with a thin gray line 36 points below its top edge, inset
// 10 points from either side.
class PopularView : public QWidget {
public:
    explicit PopularView(QWidget* parent = nullptr);

    // The line, in the view's own coordinates (y down).
    static QRect separatorRect(const QSize& size);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The view of one popular-feed item. It never fades: alpha changes take effect at once.
class PopularCollectionCell : public QWidget {
public:
    PopularCollectionCell();

    // Whether a change of `key` is animated; "alphaValue" never is.
    static bool animatesKey(QStringView key);

private:
    void setup();
};

// The panel's content: the stored popular feeds, one item each, current with every change of
// the stored feeds, of the source icons and of the source list. The progress indicator turns
// while there are none. The scene connects its outlets before its view loads. Main thread.
class PopularViewController : public AppKit::ViewController {
    Q_OBJECT
public:
    using FeedList = QList<std::shared_ptr<Data::TopFeedSource>>;

    explicit PopularViewController(QObject* parent = nullptr);
    ~PopularViewController() override;

    AppKit::CollectionView* collectionView() const { return m_collectionView; }
    void setCollectionView(AppKit::CollectionView* view) { m_collectionView = view; }
    AppKit::ProgressIndicator* spinner() const { return m_spinner; }
    void setSpinner(AppKit::ProgressIndicator* spinner) { m_spinner = spinner; }

    const FeedList& contents() const { return m_contents; }
    // The collection view shows the new list at once.
    void setContents(const FeedList& contents);

    // Sets the stored popular feeds as the contents, whole.
    void updateContents();
    void iconUpdated(const Foundation::Notification& notification);
    void sourcesUpdated(const Foundation::Notification& notification);

protected:
    void viewDidLoad() override;

private:
    QPointer<AppKit::CollectionView> m_collectionView;
    QPointer<AppKit::ProgressIndicator> m_spinner;
    FeedList m_contents;
    // The item the storyboard gives as prototype; each item is made like it.
    std::shared_ptr<QObject> m_prototype;
};

// Adds the scenes "Popular Window" and "Popular Collection View Prototype" to the storyboard
// `name`, which must be registered.
void registerPopularScenes(const QString& name);

} // namespace Tickerly::App
