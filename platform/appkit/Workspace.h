#pragma once

#include "platform/appkit/Namespace.h"
#include "platform/foundation/base/Url.h"
#include "tickerlyappkit_export.h"

#include <QString>

namespace Tickerly::AppKit {

// Hands addresses to the desktop, which opens them with the user's own handler (the browser for
// web pages, the mail program for "mailto:"). The shared workspace is the desktop's unless a
// test installed a stand-in. Main thread only.
class TICKERLYAPPKIT_EXPORT Workspace {
public:
    virtual ~Workspace();
    // Whether the desktop took the address; whether anything opened is not known.
    virtual bool openURL(const Foundation::Url& url) = 0;

    // The workspace in use; cheap, ask for it at each use.
    static Workspace& sharedWorkspace();
    // Installs `workspace` (not owned) in place of the desktop's, or the desktop's again when null.
    static void setSharedWorkspace(Workspace* workspace);
};

// The general pasteboard: the desktop's clipboard unless a test installed a stand-in.
// Main thread only.
class TICKERLYAPPKIT_EXPORT Pasteboard {
public:
    // Plain text.
    static const QString typeString;

    virtual ~Pasteboard();
    // Empties the pasteboard of every kind of content.
    virtual void clearContents() = 0;
    // Puts `text` on it as `type` (only typeString is known); false for any other type.
    virtual bool setString(const QString& text, const QString& type) = 0;

    static Pasteboard& generalPasteboard();
    // Installs `pasteboard` (not owned), or the desktop's clipboard again when null.
    static void setGeneralPasteboard(Pasteboard* pasteboard);
};

} // namespace Tickerly::AppKit
