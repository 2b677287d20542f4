#pragma once

#include <quotalume/preferences/preferences_store.hpp>

#include <string>
#include <string_view>

namespace quotalume {

// Where the engine offers its reading to Prometheus, each off while empty: a file for
// node_exporter's textfile collector, and an address to serve GET /metrics at.
struct MetricsPreferences {
    static constexpr std::string_view textfileKey = "metrics.textfile";
    static constexpr std::string_view listenKey = "metrics.listen";

    std::string textfile;  // an absolute path ending in ".prom"
    std::string listen;    // "127.0.0.1:9464", as MetricsAddress reads it

    bool offered() const { return !textfile.empty() || !listen.empty(); }

    static MetricsPreferences load(const PreferencesStore& store);
    void save(PreferencesStore& store) const;

    // The path as stored, "~/" expanded and trimmed, or why it cannot be one (English): an
    // absolute path in UTF-8 whose file name ends in ".prom", which is all node_exporter reads.
    static std::string checkedTextfile(std::string_view value);
    // The address in its canonical form, or std::invalid_argument naming what is taken.
    static std::string checkedListen(std::string_view value);

    friend bool operator==(const MetricsPreferences&, const MetricsPreferences&) = default;
};

}  // namespace quotalume
