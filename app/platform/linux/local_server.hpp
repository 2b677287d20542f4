#pragma once

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/local_protocol.hpp>

#include <QSocketNotifier>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quotalume {

class Subscription;
class Engine;

// The process's one local socket: serves processes of the same user (the peer is checked on
// every connection) the requests of local_protocol.hpp, a line each. Views' requests are the
// engine's to answer once one is attached (until then they hear "busy"); a second launch of the
// tray app goes to `launched`, when the process takes launches. Requests are bounded in size and
// rate; a client that floods us or stops reading is dropped.
class LocalServer {
public:
    using Launched = std::function<void(const local_protocol::LaunchRequest&)>;

    // Listens at `path` (whatever is there is replaced: the caller holds what makes it ours)
    // until destroyed, then removes it. Throws std::system_error.
    explicit LocalServer(std::filesystem::path path, Launched launched = nullptr);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // The engine that answers views from now on, and the end of that before it goes.
    void attach(Engine& engine);
    void forgetEngine();

    const std::filesystem::path& path() const { return path_; }

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
    bool answerView(Client& client, const local_protocol::Request& request);
    std::string configure(const std::string& key, const std::string& value);
    void published();
    bool send(Client& client, std::string_view line);
    void drop(const Client& client);

    std::filesystem::path path_;
    Launched launched_;
    Engine* engine_ = nullptr;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> listening_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::unique_ptr<Subscription> subscription_;
    std::string latest_;  // the message subscribers last got
};

}  // namespace quotalume
