#include "platform/appkit/Workspace.h"

#include <QDesktopServices>
#include <QList>
#include <QObject>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Stands in for the desktop's own handlers of a few schemes.
class DesktopHandler : public QObject {
    Q_OBJECT
public:
    DesktopHandler()
    {
        for (const QString& scheme : { u"http"_s, u"https"_s, u"mailto"_s })
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopHandler() override
    {
        for (const QString& scheme : { u"http"_s, u"https"_s, u"mailto"_s })
            QDesktopServices::unsetUrlHandler(scheme);
    }
    Q_INVOKABLE void open(const QUrl& url) { opened.append(url); }
    QList<QUrl> opened;
};

} // namespace

TEST(Workspace, OpensThroughTheDesktopUntilARecorderTakesOver)
{
    DesktopHandler desktop;
    EXPECT_TRUE(Workspace::openURL(QUrl(u"http://tickerly.test/"_s)));
    EXPECT_TRUE(Workspace::openURL(QUrl(u"mailto:support@tickerly.test"_s)));
    EXPECT_FALSE(Workspace::openURL(QUrl()));
    EXPECT_FALSE(Workspace::openURL(QUrl(u"http://bad host/"_s, QUrl::StrictMode)));
    EXPECT_EQ(desktop.opened,
        (QList<QUrl> {
            QUrl(u"http://tickerly.test/"_s), QUrl(u"mailto:support@tickerly.test"_s) }));

    QList<QUrl> recorded;
    const Workspace::Opener previous = Workspace::setOpener([&](const QUrl& url) {
        recorded.append(url);
        return true;
    });
    EXPECT_FALSE(previous);
    EXPECT_TRUE(Workspace::openURL(QUrl(u"https://tickerly.test/privacy/"_s)));
    EXPECT_EQ(recorded, QList<QUrl> { QUrl(u"https://tickerly.test/privacy/"_s) });
    EXPECT_EQ(desktop.opened.size(), 2);

    Workspace::setOpener({});
    EXPECT_TRUE(Workspace::openURL(QUrl(u"https://tickerly.test/"_s)));
    EXPECT_EQ(desktop.opened.size(), 3);
    EXPECT_EQ(recorded.size(), 1);
}

#include "workspace_test.moc"
