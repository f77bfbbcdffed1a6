#include "platform/appkit/Workspace.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

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

Workspace* s_workspace = nullptr;
Pasteboard* s_pasteboard = nullptr;

} // namespace

Workspace::~Workspace() = default;

Workspace& Workspace::sharedWorkspace()
{
    static DesktopWorkspace desktop;
    return s_workspace ? *s_workspace : desktop;
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
