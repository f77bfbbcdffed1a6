#include "storylist/RowOptionsView.h"

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/RowStyle.h"
#include "testsupport/TestSupport.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

struct Presses : QObject, RowOptionsViewDelegate {
    void rowOptionButtonPressed(const QString& identifier, RowOptionsView* optionsView) override
    {
        pressed.append(identifier);
        views.append(optionsView);
    }
    QStringList pressed;
    QList<RowOptionsView*> views;
};

QList<RowOption> options(const QStringList& identifiers)
{
    QList<RowOption> made;
    for (const QString& identifier : identifiers)
        made.append({ identifier, RowStyle::drawnGlyph(identifier + u" icon"_s) });
    return made;
}

QList<QAbstractButton*> buttonsIn(const RowOptionsView& strip)
{
    return strip.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly);
}

} // namespace

TEST(RowOptionsView, LaysOutOneSixtyFourPointButtonPerOptionFromTheLeft)
{
    QWidget holder;
    holder.resize(320, 75);
    auto* strip = new RowOptionsView(&holder);
    strip->setGeometry(0, 0, 320, 75);
    const QStringList ids { u"facebook"_s, u"twitter"_s, u"instapaper"_s, u"readability"_s };
    strip->setupButtons(options(ids));
    AppKit::layoutSubtreeIfNeeded(strip);

    ASSERT_EQ(strip->buttonIdentifiers().size(), 4);
    for (int i = 0; i < ids.size(); ++i) {
        QAbstractButton* button = strip->buttonIdentifiers().value(ids[i]);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->geometry(), QRect(i * 64, 0, 64, 75)) << ids[i].toStdString();
        EXPECT_FALSE(button->sizeHint().isEmpty()) << "the drawn icon is there";
    }
    EXPECT_EQ(buttonsIn(*strip).size(), 4);

    // Refilled: only the new list remains, in the view and in the map.
    strip->setupButtons(options({ u"twitter"_s, u"readability"_s }));
    AppKit::layoutSubtreeIfNeeded(strip);
    EXPECT_EQ(buttonsIn(*strip).size(), 2);
    EXPECT_EQ(strip->buttonIdentifiers().keys(), (QStringList { u"readability"_s, u"twitter"_s }));
    EXPECT_EQ(strip->buttonIdentifiers().value(u"twitter"_s)->geometry(), QRect(0, 0, 64, 75));
    EXPECT_EQ(strip->buttonIdentifiers().value(u"readability"_s)->geometry(), QRect(64, 0, 64, 75));

    strip->setupButtons({});
    EXPECT_TRUE(buttonsIn(*strip).isEmpty());
    EXPECT_TRUE(strip->buttonIdentifiers().isEmpty());
}

TEST(RowOptionsView, RemovesEveryButtonItMadeEvenUnderARepeatedIdentifier)
{
    RowOptionsView strip;
    strip.resize(320, 75);
    strip.setupButtons(options({ u"twitter"_s, u"twitter"_s, u"facebook"_s }));
    EXPECT_EQ(buttonsIn(strip).size(), 3);
    EXPECT_EQ(strip.buttonIdentifiers().size(), 2);
    strip.setupButtons(options({ u"facebook"_s }));
    EXPECT_EQ(buttonsIn(strip).size(), 1);
    strip.removeButtons();
    EXPECT_TRUE(buttonsIn(strip).isEmpty());
    TestSupport::processEvents();
    EXPECT_TRUE(AppKit::constraints(&strip).isEmpty());
}

TEST(RowOptionsView, TellsItsDelegateWhichOptionWasPressedWhileItHasOne)
{
    QWidget window;
    window.resize(320, 75);
    auto* strip = new RowOptionsView(&window);
    strip->setGeometry(0, 0, 320, 75);
    strip->setupButtons(
        options({ u"facebook"_s, u"twitter"_s, u"instapaper"_s, u"readability"_s }));
    window.show();
    AppKit::layoutSubtreeIfNeeded(strip);

    auto presses = std::make_unique<Presses>();
    strip->setDelegate(presses.get());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(2 * 64 + 32, 40));
    EXPECT_EQ(presses->pressed, (QStringList { u"instapaper"_s }));
    EXPECT_EQ(presses->views, (QList<RowOptionsView*> { strip }));

    // A press after the delegate has gone does nothing.
    presses.reset();
    EXPECT_EQ(strip->delegate(), nullptr);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(32, 40));

    // A press from a button the strip no longer holds is ignored.
    Presses later;
    strip->setDelegate(&later);
    QAbstractButton* old = strip->buttonIdentifiers().value(u"twitter"_s);
    strip->setupButtons(options({ u"twitter"_s }));
    strip->buttonPressed(old);
    EXPECT_TRUE(later.pressed.isEmpty());
}
