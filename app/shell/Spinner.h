#pragma once

#include "app/Namespace.h"
#include "storylist/ImageView.h"

#include <QImage>
#include <QList>

#include <cstdint>
#include <optional>

namespace Tickerly::App {

// The wave spinner of the pull-to-refresh strip: loops the 128 "Wave_small_" frames at 60 per
// second, or shows one chosen frame while the list is pulled. Made in code only (its owner lays
// it out); main thread only.
class Spinner : public StoryList::ImageView {
public:
    // Shows the rest frame. The other frames are read when first asked for (a window opening
    // with the spinner at rest would otherwise wait on 128 pictures); a missing frame then stops
    // the program.
    Spinner();

    std::optional<QList<QImage>> anim() const;
    void setAnim(std::optional<QList<QImage>> anim);

    // Loops the frames from frame 0 until another sequence starts on the view.
    void startAnimating();
    // Ends the loop and shows the rest frame.
    void stopAnimating();
    // Ends the loop and shows frame `frame`; a number outside 0...127 shows nothing.
    void setProgress(std::int64_t frame);

    // The 128 frames in order.
    QList<QImage> loadImages() const;

    // The frame's resource name: "Wave_small_00007"; -3 gives "Wave_small_-0003".
    static QString frameName(std::int64_t frame);

private:
    mutable std::optional<QList<QImage>> m_anim;
    mutable bool m_animLoaded = false;
};

} // namespace Tickerly::App
