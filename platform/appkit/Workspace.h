#pragma once

#include "tickerlyappkit_export.h"

#include <QUrl>

#include <functional>

// Opens addresses (web pages, new mails) with the desktop's own handler for them. Tests put a
// recorder in place of the desktop so that no browser or mail program starts. Main thread.
class TICKERLYAPPKIT_EXPORT Workspace {
public:
    using Opener = std::function<bool(const QUrl&)>;

    // Hands `url` to the opener in place; whether the desktop took it. An invalid or empty
    // address goes nowhere.
    static bool openURL(const QUrl& url);

    // Puts `opener` in place of the desktop's handler and gives back the one it replaces; an
    // empty opener brings the desktop's handler back.
    static Opener setOpener(Opener opener);
};
