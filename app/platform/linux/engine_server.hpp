#pragma once

#include <quotalume/coordination/engine_channel.hpp>

#include <QSocketNotifier>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quotalume {

class Subscription;
class Engine;

// The engine's socket: serves processes of the same user (the peer is checked on every
// connection) one JSON request per line: "subscribe" (the reading now and at every change),
// "reading" (the latest one, or the first once there is one), "refresh" (the reading after a
// refresh now) and "config" (a preference changed by name, as `quotalume-cli config set` does,
// and taken up at once). Requests are bounded in size and rate; a client that floods us or
// stops reading is dropped.
class EngineServer {
public:
    // Listens at `path` (a stale socket there is replaced) until destroyed, then removes it.
    // Throws std::system_error.
    EngineServer(Engine& monitor, std::filesystem::path path);
    ~EngineServer();
    EngineServer(const EngineServer&) = delete;
    EngineServer& operator=(const EngineServer&) = delete;

    static constexpr std::size_t largestClientCount = 32;
    static constexpr int requestsPerSecond = 10;

private:
    struct Client {
        explicit Client(int fd) : channel(fd) {}
        EngineChannel channel;
        std::unique_ptr<QSocketNotifier> readable;
        std::unique_ptr<QSocketNotifier> writable;
        bool subscribed = false;
        bool awaiting = false;  // a reading is owed once one is there and no refresh runs
        bool doomed = false;    // fell behind: dropped once the request in hand is done
        std::chrono::steady_clock::time_point second;
        int requests = 0;
    };

    void accept();
    void read(Client& client);
    bool handle(Client& client, const std::string& line);
    std::string configure(const std::string& key, const std::string& value);
    void published();
    bool send(Client& client, const std::string& line);
    void drop(const Client& client);

    Engine& monitor_;
    std::filesystem::path path_;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> listening_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::unique_ptr<Subscription> subscription_;
    std::string latest_;  // the message subscribers last got
};

}  // namespace quotalume
