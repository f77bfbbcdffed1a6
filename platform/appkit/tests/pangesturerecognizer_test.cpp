#include "platform/appkit/PanGestureRecognizer.h"

#include "testsupport/Pointer.h"
#include "testsupport/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using State = PanGestureRecognizer::State;

namespace {

void pressEscape(QWidget* receiver)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(receiver, &press);
}

// A view with a button and a label inside, watched by a recogniser that logs every action.
struct PanView {
    PanView()
    {
        window.resize(300, 100);
        view = new QWidget(&window);
        view->setGeometry(0, 0, 300, 100);
        button = new QPushButton(view);
        button->setGeometry(10, 10, 100, 40);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        recognizer = new PanGestureRecognizer(view, [this](PanGestureRecognizer* r) {
            states.push_back(r->state());
            translations.push_back(r->translationInView(view).x());
        });
        window.show();
    }

    QWidget window;
    QWidget* view;
    QPushButton* button;
    PanGestureRecognizer* recognizer;
    TestSupport::Pointer pointer { &window };
    std::vector<State> states;
    std::vector<qreal> translations;
    int clicks = 0;
};

} // namespace

TEST(PanGestureRecognizer, BeginsPastTheThresholdAndEndsOnReleaseWithoutClicking)
{
    PanView v;
    v.pointer.press({ 50, 30 });
    v.pointer.move({ 53, 30 }); // under the threshold: still a click in the making
    EXPECT_TRUE(v.states.empty());
    EXPECT_TRUE(v.button->isDown());
    v.pointer.move({ 60.5, 31 });
    v.pointer.move({ 20, 31 });
    v.pointer.release({ 20, 31 });

    EXPECT_EQ(v.states, (std::vector { State::Began, State::Changed, State::Ended }));
    EXPECT_EQ(v.translations, (std::vector<qreal> { 10.5, -30, -30 }));
    EXPECT_EQ(v.recognizer->state(), State::Possible);
    EXPECT_EQ(v.clicks, 0);
    EXPECT_FALSE(v.button->isDown());

    // A press that moves less than the threshold stays a click of the button.
    v.states.clear();
    v.pointer.press({ 50, 30 });
    v.pointer.move({ 52, 31 });
    v.pointer.release({ 52, 31 });
    EXPECT_TRUE(v.states.empty());
    EXPECT_EQ(v.clicks, 1);

    // So does a pan from a widget that ignores the press (its parent takes it).
    auto* label = new QLabel(v.view);
    label->setGeometry(150, 10, 100, 40);
    label->show();
    v.pointer.drag({ 160, 20 }, -40);
    EXPECT_EQ(v.states.front(), State::Began);
    EXPECT_EQ(v.states.back(), State::Ended);
    EXPECT_EQ(v.translations.back(), -40);
}

TEST(PanGestureRecognizer, EscapeASecondButtonOrHidingCancels)
{
    PanView v;
    v.pointer.press({ 50, 30 });
    v.pointer.move({ 90, 30 });
    pressEscape(&v.window);
    EXPECT_EQ(v.states, (std::vector { State::Began, State::Cancelled }));
    // The rest of the drag is nobody's pan, and the button does not click on release.
    v.pointer.move({ 120, 30 });
    v.pointer.release({ 50, 30 });
    EXPECT_EQ(v.states.size(), 2u);
    EXPECT_EQ(v.clicks, 0);

    v.states.clear();
    v.pointer.press({ 50, 30 });
    v.pointer.move({ 90, 30 });
    v.pointer.press({ 90, 30 }, Qt::RightButton);
    EXPECT_EQ(v.states, (std::vector { State::Began, State::Cancelled }));
    v.pointer.release({ 90, 30 }, Qt::RightButton);
    v.pointer.release({ 90, 30 });

    v.states.clear();
    v.pointer.press({ 50, 30 });
    v.pointer.move({ 90, 30 });
    v.view->hide();
    EXPECT_EQ(v.states, (std::vector { State::Began, State::Cancelled }));
    // Escape outside a pan is not the recogniser's.
    v.states.clear();
    pressEscape(&v.window);
    EXPECT_TRUE(v.states.empty());
}

TEST(PanGestureRecognizer, WatchesViewsAddedLater)
{
    PanView v;
    auto* late = new QPushButton(v.view);
    late->setGeometry(150, 50, 100, 40);
    late->show();
    int lateClicks = 0;
    QObject::connect(late, &QPushButton::clicked, [&] { ++lateClicks; });
    v.pointer.drag({ 200, 70 }, 30);
    EXPECT_EQ(v.states.back(), State::Ended);
    EXPECT_EQ(lateClicks, 0);
    v.pointer.click({ 200, 70 });
    EXPECT_EQ(lateClicks, 1);
}
