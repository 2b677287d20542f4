#include "metrics_export.hpp"

#include "metrics_endpoint.hpp"

#include <quotalume/metrics/metrics_address.hpp>
#include <quotalume/support/uuid.hpp>

#include <exception>
#include <filesystem>

namespace quotalume {

MetricsExport::MetricsExport(FileOperations operations) : operations_(std::move(operations)) {}

MetricsExport::~MetricsExport() = default;

void MetricsExport::configure(const MetricsPreferences& wanted) {
    if (wanted.listen != wanted_.listen) {
        endpoint_.reset();  // the old address first: the new one may be the same port
        listenWarning_.reset();
        if (!wanted.listen.empty()) {
            try {
                endpoint_ = std::make_unique<MetricsEndpoint>(MetricsAddress::parse(wanted.listen));
                endpoint_->publish(offered_);
            } catch (const std::exception&) {
                listenWarning_ = LocalizedMessage("metrics.listen_failed", {wanted.listen});
            }
        }
    }
    if (wanted.textfile != wanted_.textfile) {
        tried_ = false;
        textfileWarning_.reset();
    }
    wanted_ = wanted;
}

void MetricsExport::offer(const std::string& text) {
    if (text != offered_) {
        offered_ = text;
        tried_ = false;
        if (endpoint_) {
            endpoint_->publish(text);
        }
    }
    if (tried_ || wanted_.textfile.empty()) {
        return;
    }
    tried_ = true;
    const std::filesystem::path path = wanted_.textfile;
    try {
        // node_exporter reads only names ending in ".prom": the temporary is never one of them.
        replaceFileAtomically(path, text, "." + path.filename().string() + "." + randomUUID(),
                              operations_, SharedFile{});
        textfileWarning_.reset();
    } catch (const std::exception&) {
        textfileWarning_ = LocalizedMessage("metrics.textfile_failed", {wanted_.textfile});
    }
}

std::vector<LocalizedMessage> MetricsExport::warnings() const {
    std::vector<LocalizedMessage> standing;
    for (const auto* warning : {&textfileWarning_, &listenWarning_}) {
        if (*warning) {
            standing.push_back(**warning);
        }
    }
    return standing;
}

std::optional<std::uint16_t> MetricsExport::servedPort() const {
    return endpoint_ ? std::optional(endpoint_->port()) : std::nullopt;
}

}  // namespace quotalume
