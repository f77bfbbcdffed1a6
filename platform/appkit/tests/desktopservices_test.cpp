#include "platform/appkit/ContextMenu.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/SharingService.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"

#include "testsupport/RecordingWorkspace.h"
#include "testsupport/TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

using TestSupport::RecordingWorkspace;

namespace {

} // namespace

TEST(DesktopServices, TheClipboardHoldsOnlyThePlainText)
{
    QGuiApplication::clipboard()->setText(u"earlier"_s);
    Pasteboard& pasteboard = Pasteboard::generalPasteboard();
    pasteboard.clearContents();
    EXPECT_TRUE(pasteboard.setString(u"http://news.example/a?b=1&c"_s, Pasteboard::typeString));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->text(), u"http://news.example/a?b=1&c"_s);
    EXPECT_EQ(data->formats(), QStringList { u"text/plain"_s });
    EXPECT_FALSE(pasteboard.setString(u"x"_s, u"text/html"_s));
}

TEST(DesktopServices, MailComposesFromTheTextsAndAddresses)
{
    RecordingWorkspace workspace;
    Workspace::setSharedWorkspace(&workspace);
    const auto mail = SharingService::mailService(QImage());
    EXPECT_EQ(mail->title(), u"Email"_s);
    EXPECT_FALSE(mail->canPerformWithItems({}));
    const QVariantList items { u"Fish & chips + peas"_s, QImage(2, 2, QImage::Format_RGB32),
        QUrl(u"http://news.example/a?x=1&y=2"_s) };
    mail->performWithItems(items);
    Workspace::setSharedWorkspace(nullptr);
    ASSERT_EQ(workspace.opened.size(), 1);
    const QString address = workspace.opened.first();
    EXPECT_TRUE(address.startsWith(u"mailto:?subject=Fish%20%26%20chips%20%2B%20peas&body="_s))
        << address.toStdString();
    EXPECT_TRUE(address.endsWith(
        u"Fish%20%26%20chips%20%2B%20peas%0Ahttp%3A%2F%2Fnews.example%2Fa%3Fx%3D1%26y%3D2"_s))
        << address.toStdString();

    // Registered services answer only for what they can take; a provider replaces them.
    SharingService::registerService(mail);
    EXPECT_EQ(SharingService::sharingServicesForItems({})->size(), 0);
    EXPECT_EQ(SharingService::sharingServicesForItems(items)->size(), 1);
    SharingService::setProvider([](const QVariantList&) { return std::nullopt; });
    EXPECT_FALSE(SharingService::sharingServicesForItems(items));
    SharingService::setProvider({});
    EXPECT_EQ(menuItemText(u"Salt & Pepper && more"_s), u"Salt && Pepper &&&& more"_s);
}

TEST(DesktopServices, TheWheelShowsAndTurnsOnlyWhileAnimating)
{
    VirtualClock clock;
    MainQueue::setClock(&clock);
    QWidget parent;
    auto* wheel = new ProgressIndicator(&parent);
    parent.show();
    EXPECT_FALSE(wheel->isVisible());
    wheel->startAnimation();
    wheel->startAnimation(); // no second chain
    EXPECT_TRUE(wheel->isVisible());
    clock.advance(1);
    wheel->stopAnimation();
    EXPECT_FALSE(wheel->isVisible());
    EXPECT_FALSE(wheel->isAnimating());
    clock.advance(1);
    MainQueue::setClock(nullptr);
}

TEST(DesktopServices, TheWheelRestsWhileItsWindowIsClosed)
{
    VirtualClock clock;
    MainQueue::setClock(&clock);
    QWidget window;
    auto* wheel = new ProgressIndicator(&window);
    wheel->startAnimation();
    clock.advance(1);
    EXPECT_EQ(clock.pendingCount(), 0u) << "not turning before its window shows";
    window.show();
    const int shown = wheel->phase();
    clock.advance(1.0 / 12);
    EXPECT_NE(wheel->phase(), shown);

    window.close();
    clock.advance(1);
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_TRUE(wheel->isAnimating());
    const int closed = wheel->phase();
    window.show();
    clock.advance(1.0 / 12);
    EXPECT_NE(wheel->phase(), closed) << "turning again";
    wheel->stopAnimation();
    clock.advance(1);
    EXPECT_EQ(clock.pendingCount(), 0u);
    MainQueue::setClock(nullptr);
}

TEST(DesktopServices, AViewControllerMakesItsViewOnceFromItsInterface)
{
    int made = 0;
    ViewController::registerInterface(u"Test interface"_s, [&](ViewController*) {
        ++made;
        return new QMenu;
    });
    struct Loading : ViewController {
        using ViewController::ViewController;
        void viewDidLoad() override { ++loaded; }
        int loaded = 0;
    } controller(u"Test interface"_s);
    EXPECT_FALSE(controller.isViewLoaded());
    EXPECT_TRUE(qobject_cast<QMenu*>(controller.view()));
    controller.view();
    EXPECT_EQ(made, 1);
    EXPECT_EQ(controller.loaded, 1);

    ViewController plain;
    EXPECT_TRUE(plain.view());
}
