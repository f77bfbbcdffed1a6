#pragma once

#include "testsupport/Namespace.h"
#include "platform/appkit/Workspace.h"

#include <QStringList>

#include <functional>

namespace Tickerly::TestSupport {

// Stands in for the desktop: records each address handed over instead of opening it. Install it
// with Workspace::setSharedWorkspace for the length of a test.
class RecordingWorkspace : public AppKit::Workspace {
public:
    bool openURL(const Foundation::Url& url) override
    {
        opened.append(url.absoluteString());
        if (onOpen)
            onOpen(url);
        return true;
    }

    QStringList opened;
    // Runs as each address arrives, before openURL returns.
    std::function<void(const Foundation::Url&)> onOpen;
};

} // namespace Tickerly::TestSupport
