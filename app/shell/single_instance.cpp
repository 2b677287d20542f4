#include "single_instance.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/local_protocol.hpp>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>

#include <sys/un.h>

#include <algorithm>

namespace quotalume {
namespace {

using namespace std::chrono;

constexpr auto retryInterval = milliseconds(50);

int remainingMs(steady_clock::time_point deadline) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

}  // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent),
      directory_(directory.isEmpty() ? defaultDirectory() : std::move(directory)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath() const {
    return directory_ + QStringLiteral("/quotalume.lock");
}

QString SingleInstance::socketPath() const {
    return directory_ + QStringLiteral("/quotalume.socket");
}

QByteArray SingleInstance::launchToken() {
    QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty()) {
        token = qgetenv("DESKTOP_STARTUP_ID");
    }
    return local_protocol::isValidToken(token.toStdString()) ? token : QByteArray();
}

void SingleInstance::applyToken(const QByteArray& token, const QString& platform) {
    if (token.isEmpty() || !local_protocol::isValidToken(token.toStdString())) {
        return;
    }
    if (platform.startsWith(QLatin1String("wayland"))) {
        qputenv("XDG_ACTIVATION_TOKEN", token);
    } else if (platform == QLatin1String("xcb")) {
        using SetStartupId = void (*)(const char*);
        if (auto set = reinterpret_cast<SetStartupId>(
                QGuiApplication::platformFunction(QByteArrayLiteral("setstartupid")))) {
            set(token.constData());
        }
    }
}

SingleInstance::Outcome SingleInstance::settle(bool settings, milliseconds patience,
                                               const QByteArray& token) {
    if (directory_.isEmpty() || !QDir().mkpath(directory_)) {
        // Nowhere private to meet another instance: run rather than refuse to.
        return Outcome::first;
    }
    const auto deadline = steady_clock::now() + patience;
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Only a dead owner makes a lock stale, never its age: the first instance runs for days.
    lock_->setStaleLockTime(0);
    for (;;) {
        if (lock_->tryLock(0)) {
            return Outcome::first;  // the application's local server listens at socketPath()
        }
        // An instance from before tokens were passed on answers only the bare request.
        if (askToReopen(settings, token, milliseconds(remainingMs(deadline))) ||
            (!token.isEmpty() && askToReopen(settings, {}, milliseconds(remainingMs(deadline))))) {
            return Outcome::forwarded;
        }
        if (steady_clock::now() + retryInterval >= deadline) {
            return Outcome::unanswered;
        }
        // The holder may still be starting up and not listen yet.
        QThread::msleep(retryInterval.count());
    }
}

bool SingleInstance::askToReopen(bool settings, const QByteArray& token,
                                 milliseconds patience) const {
    const auto deadline = steady_clock::now() + patience;
    const std::filesystem::path path = QFile::encodeName(socketPath()).toStdString();
    if (path.native().size() >= sizeof(sockaddr_un::sun_path)) {
        return false;
    }
    auto channel = EngineChannel::connect(path);
    if (!channel ||
        !channel->send(local_protocol::launchRequest({settings, token.toStdString()})) ||
        !channel->flushBy(deadline)) {
        return false;  // nobody listens (yet)
    }
    return channel->awaitLine(deadline) == local_protocol::launchAnswer;
}

}  // namespace quotalume
