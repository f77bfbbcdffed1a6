#include "platform/appkit/Workspace.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

class DesktopWorkspace final : public Workspace {
public:
    bool openURL(const Url& url) override
    {
        // The text as stored: Url has already refused what a URL may not hold.
        return QDesktopServices::openUrl(QUrl(url.absoluteString(), QUrl::StrictMode));
    }
};

class ClipboardPasteboard final : public Pasteboard {
public:
    void clearContents() override { QGuiApplication::clipboard()->clear(); }
    bool setString(const QString& text, const QString& type) override
    {
        if (type != typeString)
            return false;
        // Text alone: no rich or URL forms beside it.
        auto* data = new QMimeData;
        data->setText(text);
        QGuiApplication::clipboard()->setMimeData(data);
        return true;
    }
};

#ifdef TICKERLY_TEST_HOOKS
// Stands in for the browser when a test names a file: each address opened becomes a line of it,
// so a test driving the real program from outside sees what a person would have seen open.
class RecordingWorkspace final : public Workspace {
public:
    explicit RecordingWorkspace(QString path)
        : m_path(std::move(path))
    {
    }
    bool openURL(const Url& url) override
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        return file.write(url.absoluteString().toUtf8() + '\n') > 0;
    }

private:
    QString m_path;
};
#endif

Workspace* s_workspace = nullptr;
Pasteboard* s_pasteboard = nullptr;

} // namespace

Workspace::~Workspace() = default;

Workspace& Workspace::sharedWorkspace()
{
    if (s_workspace)
        return *s_workspace;
#ifdef TICKERLY_TEST_HOOKS
    static const QString recording = qEnvironmentVariable("TICKERLY_TEST_OPENED_LINKS");
    if (!recording.isEmpty()) {
        static RecordingWorkspace recorder(recording);
        return recorder;
    }
#endif
    static DesktopWorkspace desktop;
    return desktop;
}

void Workspace::setSharedWorkspace(Workspace* workspace) { s_workspace = workspace; }

const QString Pasteboard::typeString = u"text/plain"_s;

Pasteboard::~Pasteboard() = default;

Pasteboard& Pasteboard::generalPasteboard()
{
    static ClipboardPasteboard clipboard;
    return s_pasteboard ? *s_pasteboard : clipboard;
}

void Pasteboard::setGeneralPasteboard(Pasteboard* pasteboard) { s_pasteboard = pasteboard; }

} // namespace Tickerly::AppKit
