#pragma once

#include "metric_counters.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/limit_state.hpp>
#include <quotalume/usage/usage_forecast.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

struct EngineAnswer;

// What every view says of a bucket beside Codex's (a model's limits).
struct BucketSummary {
    RateBucket bucket;
    std::optional<BlockedState> blocked;  // by its own limits
    bool pressing = false;                // a window running low, or blocked

    // "GPT-5.3-Codex-Spark: ⊘ 5H 0% · 7D 45% · 5-hour limit reached — resets 09:53"
    std::string line(Date now) const;
};

// What a view of the engine shows: the one value the engine publishes at each change, sent
// over its socket to other processes, and rendered by the tray, the dashboard and every
// command-line form, so each shows the same.
struct EngineReading {
    std::optional<UsageSnapshot> snapshot;
    bool stale = false;
    bool demo = false;
    bool refreshing = false;
    std::optional<LocalizedMessage> error;
    std::vector<LocalizedMessage> warnings;
    MenuBarScope scope = MenuBarScope::both;
    std::string source = "codex";                    // "engine" once passed on by a running engine
    std::map<QuotaWindow, UsageForecast> forecasts;  // the windows with enough readings
    // What the engine counted of the account, for the metrics; none where nothing counts (a
    // demonstration) or nothing was saved.
    std::optional<MetricCounters> counters;
    // With several sources: the source's label, the label of an earlier source that reads the
    // same account (this one then shows no figures of its own), and the other sources' readings
    // after the first's.
    std::string label;
    std::optional<std::string> sameAs;
    std::vector<EngineReading> accounts;

    // Each source's forecasts of its snapshot's windows from the timeline kept in
    // `dataDirectory`, read beside the engine (or without one); none when it cannot be read.
    void forecastFrom(const std::filesystem::path& dataDirectory, Date now);
    // How long an engine may take to take up a request; one that is busy is asked again for
    // as long.
    static constexpr std::chrono::milliseconds patience{2000};
    // Asks over the engine's socket for its reading (after a refresh it makes now, when
    // `fresh`), waiting for a reading it has on its way until `deadline`. Blocks.
    static EngineAnswer ask(const std::filesystem::path& dataDirectory, bool fresh,
                            std::chrono::steady_clock::time_point deadline);
    // The reading the engine last saved in `dataDirectory` (state.json), for a view whose
    // engine is too busy to answer; nothing when there is none.
    static std::optional<EngineReading> saved(const std::filesystem::path& dataDirectory, Date now);
    // The counts the engine saved in `dataDirectory` for each source of this reading, taken
    // without it; those it holds already are kept.
    void countedFrom(const std::filesystem::path& dataDirectory);

    // Every source's reading, the first's first; this one alone with one source.
    std::vector<const EngineReading*> sources() const;
    // The name the source goes by: its label, or `firstLabel` for the first (or only) one.
    std::string_view labelOr(std::string_view firstLabel) const {
        return label.empty() ? firstLabel : label;
    }
    // The source a view shows: the one with this label (the one whose account it shares),
    // "closest" for the one closest to running out, the first for an empty or unknown one.
    const EngineReading& account(std::string_view chosen) const;
    // The source with exactly this label, or the one whose account it shares; none when no
    // source has it (with one source, none has a label).
    const EngineReading* labelled(std::string_view chosen) const;
    // The least any window of the Codex bucket has left (0 while blocked); 101 without figures.
    double leastLeft() const;

    // One source's line among several: "Work: 5H 8% · 7D 40%", with what went wrong, or the
    // source whose account it shares.
    std::string sourceLine() const;
    // Every source's line, one each: the tray's tooltip with several sources.
    std::string sourceLines() const;

    // "status.connected", "status.stale", "status.offline", …
    const char* statusKey() const;
    // While a read runs: "status.first_reading" until anything was read, then
    // "status.refreshing".
    const char* refreshingKey() const;
    // Codex could not reach its servers: the figures shown are the last ones, not a fault.
    bool offline() const { return error && error->key == "error.offline"; }
    // The tray's text: the windows of the chosen scope, "! " before stale figures; with `left`,
    // each figure says it is the share left (the tooltip's wording).
    std::string title(
        MenuBarPresentation::Figures figures = MenuBarPresentation::Figures::bare) const;

    // Why Codex takes no ordinary usage now, if it does not.
    std::optional<BlockedState> blocked() const;
    // Why Codex takes nothing of this bucket now: the account's state for the Codex bucket, the
    // bucket's own limits for another.
    std::optional<BlockedState> bucketBlocked(const RateBucket& bucket) const;
    // The Codex bucket's credits, if it reports them.
    std::optional<CreditsSnapshot> credits() const;
    // The buckets beside Codex's, in the answer's order.
    std::vector<BucketSummary> otherBuckets() const;
    // The Codex bucket's windows a view shows, shortest first.
    std::vector<QuotaWindow> visibleWindows() const;
    // The record's "blocked": null, or its reason, Codex's word and when it ends.
    nlohmann::json blockedJSON() const;
    static nlohmann::json blockedJSON(const std::optional<BlockedState>& state);
    // A bucket's windows as the record has them, shortest first.
    nlohmann::json windowsJSON(const RateBucket& bucket, Date now) const;
    // The version-1 record; countdowns as they read at `now`.
    nlohmann::json record(Date now) const;
    // The record with what else a view needs under "view"; what the engine sends.
    nlohmann::json message(Date now) const;
    // Throws JSONDecodingError when `message` is not one.
    static EngineReading fromMessage(const nlohmann::json& message);
    static EngineReading fromOneMessage(const nlohmann::json& message);

    friend bool operator==(const EngineReading&, const EngineReading&) = default;
};

// What asking the engine that holds the lock on a data folder came to.
struct EngineAnswer {
    enum class Outcome {
        noEngine,  // none runs (or none we can understand): read Codex
        reading,   // `reading` is its answer
        busy,      // it runs but serves too many views: show what it saved, never Codex
        silent,    // it took no request within EngineReading::patience: stopped or hung
    };
    Outcome outcome = Outcome::noEngine;
    std::optional<EngineReading> reading;
    long long pid = 0;  // the engine's process, when one runs
};

}  // namespace quotalume
