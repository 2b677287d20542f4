#pragma once

#include "command_line.hpp"
#include "monitor_state.hpp"

#include <quotalume/preferences/account_sources.hpp>
#include <quotalume/preferences/settings.hpp>

#include <cstddef>
#include <optional>
#include <string>

namespace quotalume::cli {

// The sources as saved in Quotalume's settings; the first alone when nothing can be read.
struct SavedSources {
    Settings settings;
    AccountSources sources;

    static SavedSources load();
    // Throws UsageError naming the labels when `label` is none of them ("closest" too when
    // `closest` is taken).
    void check(const std::string& label, bool closest) const;
};

// --account LABEL of history and usage: which saved source they mean, the first without it.
struct AccountOption {
    std::size_t index = 0;
    std::string label;
    bool given = false;
    bool several = false;  // sources saved beside the first

    static AccountOption read(Arguments& arguments);
    // The account's history as the engine saved it; none before its source was first read.
    const MonitorState* state(const LoadedState& loaded) const;
};

}  // namespace quotalume::cli
