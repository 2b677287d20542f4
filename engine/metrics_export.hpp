#pragma once

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/metrics_preferences.hpp>
#include <quotalume/support/private_file.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quotalume {

class MetricsEndpoint;

// The engine's metrics room: offers the exposition of each reading to Prometheus as the
// preferences ask, written to node_exporter's textfile and served at the scrape address.
// Neither may hold up a reading or a delivery: a file that cannot be written and an address
// that cannot be served are warnings, and the endpoint serves from a thread of its own.
class MetricsExport {
public:
    explicit MetricsExport(FileOperations operations = FileOperations::system());
    ~MetricsExport();
    MetricsExport(const MetricsExport&) = delete;
    MetricsExport& operator=(const MetricsExport&) = delete;

    // What to offer from now on (nothing for a process that is not the engine). The endpoint
    // starts, moves or stops; a new file is written at the next offer.
    void configure(const MetricsPreferences& wanted);
    bool active() const { return wanted_.offered(); }
    // The exposition as it stands: served at once, and written when it differs from the last
    // text tried, so a file that cannot be written is tried again at the next change only.
    void offer(const std::string& text);
    // The file not written, the address not served.
    std::vector<LocalizedMessage> warnings() const;
    // The port served, once serving (the one chosen for port 0 in tests).
    std::optional<std::uint16_t> servedPort() const;

private:
    FileOperations operations_;
    MetricsPreferences wanted_;
    std::unique_ptr<MetricsEndpoint> endpoint_;
    std::string offered_;  // the text last offered
    bool tried_ = false;   // whether `offered_` went to the file, or failed to
    std::optional<LocalizedMessage> textfileWarning_;
    std::optional<LocalizedMessage> listenWarning_;
};

}  // namespace quotalume
