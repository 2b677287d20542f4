#include "linux/engine_server.hpp"

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

// A request is a word and, for a setting, its key and value.
constexpr std::size_t largestRequest = 4096;

}  // namespace

EngineServer::EngineServer(Engine& monitor, std::filesystem::path path)
    : monitor_(monitor), path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.native().size() >= sizeof address.sun_path) {
        throw std::system_error(ENAMETOOLONG, std::system_category(), path_.string());
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.native().size());
    // The name carries our pid: whatever is there was left by a process that is gone. So are
    // the sockets beside it that nobody listens on any more.
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
    subscription_ = monitor_.subscribe([this] { published(); });
}

EngineServer::~EngineServer() {
    subscription_.reset();
    listening_.reset();
    while (!clients_.empty()) {
        drop(*clients_.back());
    }
    ::close(listener_);
    ::unlink(path_.c_str());
}

void EngineServer::accept() {
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
            const std::string busy = std::string(engine_protocol::busyAnswer) + "\n";
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

void EngineServer::read(Client& client) {
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

bool EngineServer::handle(Client& client, const std::string& line) {
    const auto now = steady_clock::now();
    if (now - client.second >= std::chrono::seconds(1)) {
        client.second = now;
        client.requests = 0;
    }
    if (++client.requests > requestsPerSecond || line.size() > largestRequest) {
        return false;
    }
    const json request = parseBoundedJSON(line, 4);
    const json* word =
        request.is_object() && request.contains("request") ? &request["request"] : nullptr;
    if (word == nullptr || !word->is_string()) {
        return false;
    }
    const std::string name = word->get<std::string>();
    const bool ready = (monitor_.snapshot() || monitor_.lastError()) && !monitor_.isRefreshing();
    if (name == "subscribe") {
        client.subscribed = true;
        return send(client, jsonText(monitor_.reading().message(monitor_.now())));
    }
    if (name == "reading") {
        if (ready || monitor_.demo()) {
            return send(client, jsonText(monitor_.reading().message(monitor_.now())));
        }
        client.awaiting = true;  // the first reading is on its way
        return send(client, engine_protocol::pendingAnswer);
    }
    if (name == "refresh") {
        monitor_.refresh();
        if (!monitor_.isRefreshing()) {
            return send(client, jsonText(monitor_.reading().message(monitor_.now())));
        }
        client.awaiting = true;
        return send(client, engine_protocol::pendingAnswer);
    }
    if (name == "config" && request.contains("key") && request["key"].is_string() &&
        request.contains("value") && request["value"].is_string()) {
        return send(client, configure(request["key"].get<std::string>(),
                                      request["value"].get<std::string>()));
    }
    return false;
}

std::string EngineServer::configure(const std::string& key, const std::string& value) {
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
        monitor_.preferences().reload();
    }
    return jsonText(answer);
}

void EngineServer::published() {
    if (clients_.empty()) {
        latest_.clear();  // the next subscriber starts afresh
        return;           // at rest, with nobody following, this costs nothing
    }
    const EngineReading& reading = monitor_.reading();
    const std::string message = jsonText(reading.message(monitor_.now()));
    const bool ready = (reading.snapshot || reading.error) && !reading.refreshing;
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

bool EngineServer::send(Client& client, const std::string& line) {
    if (!client.channel.send(line)) {
        return false;
    }
    client.writable->setEnabled(client.channel.hasQueuedOutput());
    return true;
}

void EngineServer::drop(const Client& client) {
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
