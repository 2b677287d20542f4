#pragma once

#include <quotalume/metrics/metrics_address.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace quotalume {

// Serves the last published exposition at GET /metrics (HEAD too) on a thread of its own, so
// the engine's work never waits on a client. Other paths answer 404, other methods 405. Before
// the first publish the body is empty: a scrape still succeeds (Prometheus's `up` reports the
// engine reachable) and simply holds no series yet.
class MetricsEndpoint {
public:
    // Listens at once. Throws std::system_error naming the address when it cannot (in use, not
    // an address of this machine, a privileged port).
    explicit MetricsEndpoint(const MetricsAddress& address);
    // Closes the socket and every connection, and joins the serving thread.
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // The text served from now on. Thread-safe and never blocked by a client: a scrape in
    // flight keeps the text it started with.
    void publish(std::string text);
    // The bound port: the one asked for, or the one chosen for port 0.
    std::uint16_t port() const;

private:
    struct Served;
    std::unique_ptr<Served> served_;
};

}  // namespace quotalume
