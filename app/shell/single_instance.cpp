#include "single_instance.hpp"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace quotalume {
namespace {

using namespace std::chrono;

// "reopen" or "settings", then a space and the launcher's activation token when there is one.
const QByteArray reopenRequest = QByteArrayLiteral("reopen");
const QByteArray settingsRequest = QByteArrayLiteral("settings");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
constexpr qsizetype longestToken = 255;
// Nothing we expect is longer; a peer that says more, or takes longer, is dropped.
constexpr qsizetype largestMessage = 16 + longestToken;
constexpr int answerTimeoutMs = 2000;
constexpr auto retryInterval = milliseconds(50);

int remainingMs(steady_clock::time_point deadline) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

// What compositors and launchers hand out as activation tokens: letters, digits and a little
// punctuation.
bool isValidToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= longestToken &&
           std::all_of(token.begin(), token.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
                      QByteArrayView("-_.:/+=@").contains(c);
           });
}

// The socket's address; false when the path does not fit one.
bool addressOf(const QString& path, sockaddr_un& address) {
    const QByteArray bytes = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (bytes.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

// Waits for `events` on `fd` until the deadline; false on time-out or error.
bool await(int fd, short events, steady_clock::time_point deadline) {
    pollfd waiting{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&waiting, 1, remainingMs(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

struct SingleInstance::Connection {
    int fd = -1;
    QByteArray received;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QTimer> patience;
};

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent),
      directory_(directory.isEmpty() ? defaultDirectory() : std::move(directory)) {}

SingleInstance::~SingleInstance() {
    listening_.reset();
    while (!connections_.empty()) {
        drop(*connections_.back());
    }
    if (server_ >= 0) {
        ::close(server_);
    }
}

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
    return isValidToken(token) ? token : QByteArray();
}

void SingleInstance::applyToken(const QByteArray& token, const QString& platform) {
    if (token.isEmpty() || !isValidToken(token)) {
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
            listen();
            return Outcome::first;
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

void SingleInstance::listen() {
    sockaddr_un address;
    if (!addressOf(socketPath(), address)) {
        return;  // a path too long for a socket: later launches start beside us, as without one
    }
    // Holding the lock, any socket there is left over from a process that died.
    ::unlink(address.sun_path);
    server_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (server_ < 0) {
        return;
    }
    // Owner only from the moment it exists.
    const mode_t mask = ::umask(0077);
    const bool bound =
        ::bind(server_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(server_, 8) != 0) {
        ::close(server_);
        server_ = -1;
        return;
    }
    listening_ = std::make_unique<QSocketNotifier>(server_, QSocketNotifier::Read);
    connect(listening_.get(), &QSocketNotifier::activated, this, &SingleInstance::accept);
}

void SingleInstance::accept() {
    for (;;) {
        const int fd = ::accept4(server_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // EAGAIN: all taken; anything else: the next notification tries again
        }
        // The folder is private already; a peer of another user is refused all the same.
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        Connection& added = *connection;
        added.fd = fd;
        added.readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(added.readable.get(), &QSocketNotifier::activated, this,
                [this, &added] { read(added); });
        added.patience = std::make_unique<QTimer>();
        added.patience->setSingleShot(true);
        connect(added.patience.get(), &QTimer::timeout, this, [this, &added] { drop(added); });
        added.patience->start(answerTimeoutMs);
        connections_.push_back(std::move(connection));
    }
}

void SingleInstance::read(Connection& connection) {
    char buffer[largestMessage + 1];
    const ssize_t count = ::read(connection.fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        drop(connection);  // hung up, or failed
        return;
    }
    connection.received.append(buffer, count);
    const qsizetype end = connection.received.indexOf('\n');
    if (end < 0) {
        if (connection.received.size() > largestMessage) {
            drop(connection);
        }
        return;
    }
    const QByteArray line = connection.received.left(end);
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = space < 0 ? line : line.left(space);
    const QByteArray token = space < 0 ? QByteArray() : line.mid(space + 1);
    if ((verb == reopenRequest || verb == settingsRequest) && (space < 0 || isValidToken(token))) {
        // A few bytes into a fresh socket's buffer: a short write cannot happen.
        if (::send(connection.fd, acknowledgement.constData(),
                   static_cast<std::size_t>(acknowledgement.size()), MSG_NOSIGNAL) > 0) {
            Q_EMIT reopenRequested(verb == settingsRequest, token);
        }
    }
    drop(connection);
}

void SingleInstance::drop(const Connection& connection) {
    const auto found = std::find_if(connections_.begin(), connections_.end(),
                                    [&](const auto& c) { return c.get() == &connection; });
    if (found == connections_.end()) {
        return;
    }
    // Out of the list first: the notifier and timer go with it, after the fd is closed.
    std::unique_ptr<Connection> gone = std::move(*found);
    connections_.erase(found);
    gone->readable->setEnabled(false);
    gone->patience->stop();
    ::close(gone->fd);
    // Deleted later: this may run inside the notifier's or the timer's own signal.
    gone->readable.release()->deleteLater();
    gone->patience.release()->deleteLater();
}

bool SingleInstance::askToReopen(bool settings, const QByteArray& token,
                                 milliseconds patience) const {
    const auto deadline = steady_clock::now() + patience;
    sockaddr_un address;
    if (!addressOf(socketPath(), address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const auto ask = [&] {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            (errno != EINPROGRESS && errno != EAGAIN)) {
            return false;  // nobody listens (yet)
        }
        const QByteArray request = (settings ? settingsRequest : reopenRequest) +
                                   (token.isEmpty() ? QByteArray() : " " + token) + "\n";
        qsizetype sent = 0;
        while (sent < request.size()) {
            if (!await(fd, POLLOUT, deadline)) {
                return false;
            }
            const ssize_t count =
                ::send(fd, request.constData() + sent,
                       static_cast<std::size_t>(request.size() - sent), MSG_NOSIGNAL);
            if (count < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            sent += std::max<ssize_t>(count, 0);
        }
        QByteArray reply;
        while (reply.size() < acknowledgement.size() && await(fd, POLLIN, deadline)) {
            char buffer[largestMessage];
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
            reply.append(buffer, std::max<ssize_t>(count, 0));
        }
        return reply == acknowledgement;
    };
    const bool answered = ask();
    ::close(fd);
    return answered;
}

}  // namespace quotalume
