#pragma once

#include "app/Namespace.h"
#include "platform/appkit/VisualFormat.h"

#include <QWidget>

#include <QStringList>

#include <cstdint>
#include <functional>

class QLabel;

namespace Tickerly::StoryList {
class ImageView;
} // namespace Tickerly::StoryList

namespace Tickerly::App {

// The welcome content: the masked, animated wave with a title and a short text under it, all
// centred. The wave plays while the view is shown and stops while it is hidden. Main thread
// only; owned by its NoFeedsParentView.
class NoFeedsView : public QWidget {
public:
    explicit NoFeedsView(QWidget* parent = nullptr);

    StoryList::ImageView* imageView() const { return m_imageView; }
    QLabel* welcomeTitle() const { return m_welcomeTitle; }
    QLabel* welcomeText() const { return m_welcomeText; }

    // How many times the wave was started; it makes each sequence name unique.
    std::int64_t counter() const { return m_counter; }
    void setCounter(std::int64_t counter) { m_counter = counter; }

    // "image", "title", "text": the names the layout formats use.
    AppKit::LayoutViews views() const;

    void setup();
    void setupAnimatedImage();
    // Plays the wave afresh from its first frame.
    void startAnimation();
    void stopAnimation();

    // The names of the wave's frames that `exists` finds, in order; a missing one is left out.
    static QStringList waveFrameNames(const std::function<bool(const QString&)>& exists);

    // Hiding stops the wave and showing restarts it, on every call (setHidden too).
    void setVisible(bool visible) override;

protected:
    // A closed window rests the wave; opened again, it plays from its first frame.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    StoryList::ImageView* m_imageView;
    QLabel* m_welcomeTitle;
    QLabel* m_welcomeText;
    std::int64_t m_counter = 0;
    bool m_followingParent = false;
    bool m_restingWithWindow = false;
    friend class NoFeedsParentView;
};

// The welcome screen the sources window shows over its table while there are no sources: an
// almost white ground with the welcome content centred in it, the content made when it first
// shows. Hiding it hides the content and so stops its wave. Main thread only; owned by the
// sources view.
class NoFeedsParentView : public QWidget {
public:
    explicit NoFeedsParentView(QWidget* parent = nullptr);

    // The content, made when first asked for. Showing the container asks for it, hiding does
    // not: a welcome screen that sources keep hidden makes none of its views or pictures.
    NoFeedsView* contentView();
    bool hasContentView() const { return m_contentView != nullptr; }

    // Whether its opacity can be set (and faded); the scene turns it on.
    bool wantsLayer() const { return m_wantsLayer; }
    void setWantsLayer(bool wants) { m_wantsLayer = wants; }

    // Hands the hidden state on to the content, on every call (setHidden too).
    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Adopts the content and lays it out; run once, when the content is made.
    void setup();

    NoFeedsView* m_contentView = nullptr;
    bool m_wantsLayer = false;
};

} // namespace Tickerly::App
