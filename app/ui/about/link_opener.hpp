#pragma once

#include <QUrl>

#include <functional>

namespace quotalume {

// Every web link the desktop opens goes through here, so tests can take the address instead of
// starting a browser.
class LinkOpener {
public:
    using Handler = std::function<void(const QUrl&)>;

    LinkOpener() = delete;

    // Hands `url` to the installed handler, by default the desktop's (QDesktopServices).
    static void open(const QUrl& url);
    // Installs `handler` (empty: the desktop's again) and returns the one it replaces.
    static Handler setHandler(Handler handler);
};

}  // namespace quotalume
