#include "about/link_opener.hpp"

#include <QDesktopServices>

#include <utility>

namespace quotalume {
namespace {

LinkOpener::Handler& installedHandler() {
    static LinkOpener::Handler handler;
    return handler;
}

}  // namespace

void LinkOpener::open(const QUrl& url) {
    if (const Handler& handler = installedHandler()) {
        handler(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

LinkOpener::Handler LinkOpener::setHandler(Handler handler) {
    return std::exchange(installedHandler(), std::move(handler));
}

}  // namespace quotalume
