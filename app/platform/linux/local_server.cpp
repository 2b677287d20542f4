#include "linux/local_server.hpp"

#include "engine.hpp"
#include "engine_reading.hpp"

#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/support/bounded_json.hpp>

#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;
using std::chrono::steady_clock;

using local_protocol::largestRequest;

}  // namespace

LocalServer::LocalServer(std::filesystem::path path, Launched launched)
    : path_(std::move(path)), launched_(std::move(launched)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.native().size() >= sizeof address.sun_path) {
        throw std::system_error(ENAMETOOLONG, std::system_category(), path_.string());
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.native().size());
    // Whatever is there was left by a process that is gone (the caller holds the lock or the
    // pid that makes the name ours). So are the engine sockets beside it nobody listens on.
    ::unlink(path_.c_str());
    engine_socket::removeDeadSockets(path_.parent_path());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw std::system_error(errno, std::system_category(), "socket");
    }
    // Owner only from the moment it exists.
    const mode_t mask = ::umask(0077);
    const bool bound =
        ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int bindError = errno;
    ::umask(mask);
    if (!bound || ::listen(listener_, 16) != 0) {
        const int error = bound ? errno : bindError;
        ::close(listener_);
        throw std::system_error(error, std::system_category(), "listen on " + path_.string());
    }
    listening_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(listening_.get(), &QSocketNotifier::activated, [this] { accept(); });
}

LocalServer::~LocalServer() {
    forgetEngine();
    listening_.reset();
    while (!clients_.empty()) {
        drop(*clients_.back());
    }
    ::close(listener_);
    ::unlink(path_.c_str());
}

void LocalServer::attach(Engine& engine) {
    engine_ = &engine;
    subscription_ = engine.subscribe([this] { published(); });
}

void LocalServer::forgetEngine() {
    subscription_.reset();
    engine_ = nullptr;
}

void LocalServer::accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // EAGAIN: all taken; anything else: the next notification tries again
        }
        // The folder is private already; a peer of another user is refused all the same.
        if (!EngineChannel::peerIsUs(fd)) {
            ::close(fd);
            continue;
        }
        if (clients_.size() >= largestClientCount) {
            // Told rather than dropped without a word: a view waits and asks again, and
            // never takes a full engine for a dead one. The line fits any socket buffer.
            const std::string busy = std::string(local_protocol::busyAnswer) + "\n";
            (void)!::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        auto client = std::make_unique<Client>(fd);
        Client& added = *client;
        client->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        client->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        client->writable->setEnabled(false);
        QObject::connect(client->readable.get(), &QSocketNotifier::activated,
                         [this, &added] { read(added); });
        QObject::connect(client->writable.get(), &QSocketNotifier::activated, [this, &added] {
            if (!added.channel.flush()) {
                drop(added);
            } else if (!added.channel.hasQueuedOutput()) {
                added.writable->setEnabled(false);
            }
        });
        clients_.push_back(std::move(client));
    }
}

void LocalServer::read(Client& client) {
    const bool open = client.channel.receive();
    std::string line;
    while (client.channel.takeLine(line)) {
        if (!handle(client, line)) {
            drop(client);
            return;
        }
    }
    if (!open) {
        drop(client);
    }
}

bool LocalServer::handle(Client& client, const std::string& line) {
    const auto now = steady_clock::now();
    if (now - client.second >= std::chrono::seconds(1)) {
        client.second = now;
        client.requests = 0;
    }
    if (++client.requests > requestsPerSecond || line.size() > largestRequest) {
        return false;
    }
    if (auto request = local_protocol::parseRequest(line)) {
        return answerView(client, *request);
    }
    // A second launch of the tray app: answered, then hung up on.
    if (auto launch = local_protocol::parseLaunchRequest(line); launch && launched_) {
        const std::string answer = std::string(local_protocol::launchAnswer) + "\n";
        if (::send(client.channel.descriptor(), answer.data(), answer.size(),
                   MSG_NOSIGNAL | MSG_DONTWAIT) > 0) {
            launched_(*launch);
        }
    }
    return false;
}

bool LocalServer::answerView(Client& client, const local_protocol::Request& request) {
    const std::string& name = request.word;
    if (name != local_protocol::subscribe && name != local_protocol::reading &&
        name != local_protocol::refresh && name != local_protocol::config) {
        return false;
    }
    if (engine_ == nullptr) {
        return send(client, local_protocol::busyAnswer);  // still starting: ask again shortly
    }
    Engine& engine = *engine_;
    const bool ready = (engine.snapshot() || engine.lastError()) && !engine.isRefreshing();
    if (name == local_protocol::subscribe) {
        client.subscribed = true;
        return send(client, jsonText(engine.reading().message(engine.now())));
    }
    if (name == local_protocol::reading) {
        if (ready || engine.demo()) {
            return send(client, jsonText(engine.reading().message(engine.now())));
        }
        client.awaiting = true;  // the first reading is on its way
        return send(client, local_protocol::pendingAnswer);
    }
    if (name == local_protocol::refresh) {
        engine.refresh();
        if (!engine.isRefreshing()) {
            return send(client, jsonText(engine.reading().message(engine.now())));
        }
        client.awaiting = true;
        return send(client, local_protocol::pendingAnswer);
    }
    return send(client, configure(request.key, request.value));
}

std::string LocalServer::configure(const std::string& key, const std::string& value) {
    json answer = {{"ok", false}, {"usage", false}};
    try {
        // Into the standard store, which our own may overlay for this run (watch --codex); ours
        // then takes up what was stored.
        PreferencesModel stored(*PreferencesStore::standard());
        stored.set(key, value);
        answer = {{"ok", true}, {"value", stored.value(key)}};
    } catch (const ConfigError& error) {
        answer["usage"] = true;
        answer["message"] =
            error.reason() ? key + ": " + error.reason()->localized() : error.what();
    } catch (const std::exception& error) {
        answer["message"] = LocalizedMessage::from(error).localized();
    }
    if (answer["ok"] == true) {
        engine_->preferences().reload();
    }
    return jsonText(answer);
}

void LocalServer::published() {
    if (clients_.empty()) {
        latest_.clear();  // the next subscriber starts afresh
        return;           // at rest, with nobody following, this costs nothing
    }
    const EngineReading& reading = engine_->reading();
    const std::string message = jsonText(reading.message(engine_->now()));
    // A fresh reading is every source's.
    const bool ready = (reading.snapshot || reading.error) && !engine_->isRefreshing();
    const bool changed = message != latest_;
    latest_ = message;
    bool doomed = false;
    for (const auto& client : clients_) {
        const bool owed = client->awaiting && ready;
        if (!client->doomed && ((client->subscribed && changed) || owed)) {
            client->awaiting = client->awaiting && !owed;
            client->doomed = !send(*client, message);
            doomed = doomed || client->doomed;
        }
    }
    if (doomed) {
        // Later: this may run inside a request of one of them (a refresh publishes at once).
        // The listening notifier is ours, so a server gone by then takes the call with it.
        QTimer::singleShot(0, listening_.get(), [this] {
            std::vector<const Client*> gone;
            for (const auto& client : clients_) {
                if (client->doomed) {
                    gone.push_back(client.get());
                }
            }
            for (const Client* client : gone) {
                drop(*client);
            }
        });
    }
}

bool LocalServer::send(Client& client, std::string_view line) {
    if (!client.channel.send(line)) {
        return false;
    }
    client.writable->setEnabled(client.channel.hasQueuedOutput());
    return true;
}

void LocalServer::drop(const Client& client) {
    const auto found = std::find_if(clients_.begin(), clients_.end(),
                                    [&](const auto& c) { return c.get() == &client; });
    if (found == clients_.end()) {
        return;
    }
    std::unique_ptr<Client> gone = std::move(*found);
    clients_.erase(found);
    gone->readable->setEnabled(false);
    gone->writable->setEnabled(false);
    // Deleted later: this may run inside the notifier's own signal.
    gone->readable.release()->deleteLater();
    gone->writable.release()->deleteLater();
}

}  // namespace quotalume
