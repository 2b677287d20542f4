#include "single_instance.hpp"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace quotalume {
namespace {

using namespace std::chrono;

const QByteArray reopenRequest = QByteArrayLiteral("reopen\n");
const QByteArray settingsRequest = QByteArrayLiteral("settings\n");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
// Nothing we expect is longer; a peer that says more, or takes longer, is dropped.
constexpr qint64 largestMessage = 64;
constexpr int answerTimeoutMs = 2000;
constexpr auto retryInterval = milliseconds(50);

int remainingMs(steady_clock::time_point deadline) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

}  // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(directory.isEmpty() ? defaultDirectory() : std::move(directory)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_.nextPendingConnection()) {
            answer(connection);
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
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

SingleInstance::Outcome SingleInstance::settle(bool settings, milliseconds patience) {
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
        if (askToReopen(settings, milliseconds(remainingMs(deadline)))) {
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
    // Holding the lock, any socket there is left over from a process that died.
    QLocalServer::removeServer(socketPath());
    server_.listen(socketPath());
}

bool SingleInstance::askToReopen(bool settings, milliseconds patience) const {
    const auto deadline = steady_clock::now() + patience;
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(remainingMs(deadline))) {
        return false;
    }
    socket.write(settings ? settingsRequest : reopenRequest);
    if (!socket.waitForBytesWritten(remainingMs(deadline))) {
        return false;
    }
    QByteArray reply;
    while (reply.size() < acknowledgement.size() &&
           socket.waitForReadyRead(remainingMs(deadline))) {
        reply += socket.read(largestMessage);
    }
    return reply == acknowledgement;
}

void SingleInstance::answer(QLocalSocket* connection) {
    connection->setParent(this);
    connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
    QTimer::singleShot(answerTimeoutMs, connection, [connection] { connection->abort(); });
    connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
        if (!connection->canReadLine()) {
            if (connection->bytesAvailable() > largestMessage) {
                connection->abort();
            }
            return;
        }
        const QByteArray line = connection->readLine(largestMessage);
        if (line != reopenRequest && line != settingsRequest) {
            connection->abort();
            return;
        }
        Q_EMIT reopenRequested(line == settingsRequest);
        connection->write(acknowledgement);
        connection->disconnectFromServer();
    });
}

}  // namespace quotalume
