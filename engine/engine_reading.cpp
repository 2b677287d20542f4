#include "engine_reading.hpp"

#include "engine.hpp"
#include "timeline_keeper.hpp"

#include "support/json_coding.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/coordination/local_protocol.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/quota_text.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/usage/limit_state.hpp>
#include <quotalume/usage/usage_timeline.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

namespace quotalume {
namespace {

using nlohmann::json;

json windowJSON(QuotaWindow which, const RateWindow& window, Date now,
                const std::optional<UsageForecast>& forecast) {
    const std::optional<Date> reset = window.resetDate();
    json out = {{"id", recordId(which)},
                {"minutes", minutes(which)},
                {"used_percent", nullptr},
                {"left_percent", nullptr},
                {"resets_at", nullptr},
                {"resets_at_unix", nullptr},
                {"resets_in", L10n::countdown(reset, now)},
                {"pace_points", nullptr},
                {"forecast", nullptr}};
    if (auto used = window.validUsedPercent()) {
        out["used_percent"] = *used;
        out["left_percent"] = *window.remainingPercent();
        if (reset) {
            // Whole points: the pace is a hint, not a measurement.
            out["pace_points"] = std::round(
                UsageForecast::pacePoints(*used, *reset, minutes(which), now).value_or(0));
        }
    }
    if (reset) {
        out["resets_at"] = iso8601(*reset);
        out["resets_at_unix"] = static_cast<std::int64_t>(std::floor(unixSeconds(*reset)));
    }
    if (forecast) {
        out["forecast"] = {
            {"runs_out_at", forecast->runsOutAt ? json(iso8601(*forecast->runsOutAt)) : json()},
            {"lasts_until_reset", forecast->lastsUntilReset}};
    }
    return out;
}

json creditsJSON(const CreditsSnapshot& credits) {
    const std::optional<Decimal> balance = credits.balanceValue();
    json out = {{"has_credits", credits.hasCredits},
                {"unlimited", credits.unlimited},
                // The canonical digits read as a JSON number keep every one of them.
                {"balance", balance ? json::parse(balance->text(), nullptr, false) : json(nullptr)},
                {"text", credits.displayText()}};
    if (out["balance"].is_discarded()) {
        out["balance"] = nullptr;  // more digits than a JSON number holds: only the text says it
    }
    return out;
}

// What /proc says of process `pid`: its state letter and the processor time it has had.
struct Pulse {
    char state = '?';
    unsigned long long ticks = 0;
};

Pulse pulseOf(long long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    Pulse pulse;
    const std::size_t name = text.rfind(')');
    if (name == std::string::npos || name + 2 >= text.size()) {
        return pulse;
    }
    pulse.state = text[name + 2];
    // After the state: ppid, pgrp, session, tty, tpgid, flags, minflt, cminflt, majflt,
    // cmajflt, then utime and stime.
    std::istringstream fields(text.substr(name + 3));
    std::string skipped;
    unsigned long long user = 0, system = 0;
    for (int i = 0; i < 10; ++i) {
        fields >> skipped;
    }
    if (fields >> user >> system) {
        pulse.ticks = user + system;
    }
    return pulse;
}

// Whether an engine that has not answered yet is at work (running, ready to run, or given
// processor time since `last`) rather than stopped or stuck.
bool atWork(long long pid, Pulse& last) {
    const Pulse now = pulseOf(pid);
    const bool working = now.state == 'R' || now.state == 'D' || now.ticks > last.ticks;
    last = now;
    return working && now.state != 'T' && now.state != 't' && now.state != 'Z';
}

}  // namespace

void EngineReading::forecastFrom(const std::filesystem::path& dataDirectory, Date now) {
    std::vector<EngineReading*> shown;
    const auto keep = [&](EngineReading& each) {
        if (each.snapshot && each.snapshot->codexBucket()) {
            shown.push_back(&each);
        }
    };
    keep(*this);
    for (EngineReading& other : accounts) {
        keep(other);
    }
    if (shown.empty() || !std::filesystem::exists(dataDirectory / UsageTimeline::fileName)) {
        return;
    }
    // Opened once for every source: each account's readings are kept apart inside.
    UsageTimeline timeline(dataDirectory, {.busyMilliseconds = 100, .readOnly = true});
    for (EngineReading* each : shown) {
        each->forecasts = TimelineKeeper::forecastsOf(timeline, *each->snapshot, now);
    }
}

std::vector<const EngineReading*> EngineReading::sources() const {
    std::vector<const EngineReading*> all{this};
    for (const EngineReading& other : accounts) {
        all.push_back(&other);
    }
    return all;
}

const EngineReading& EngineReading::account(std::string_view chosen) const {
    const std::vector<const EngineReading*> all = sources();
    if (asciiLowercased(trimmed(chosen)) == "closest") {
        // The first of equals: the order the user gave the sources.
        return **std::min_element(all.begin(), all.end(), [](const auto* a, const auto* b) {
            return a->leastLeft() < b->leastLeft();
        });
    }
    const EngineReading* found = labelled(chosen);
    return found == nullptr ? *this : *found;
}

const EngineReading* EngineReading::labelled(std::string_view chosen) const {
    const std::vector<const EngineReading*> all = sources();
    const auto with = [&](std::string_view label) -> const EngineReading* {
        const auto found = std::find_if(all.begin(), all.end(), [&](const EngineReading* each) {
            return !each->label.empty() && each->label == label;
        });
        return found == all.end() ? nullptr : *found;
    };
    const EngineReading* found = with(trimmed(chosen));
    return found != nullptr && found->sameAs ? with(*found->sameAs) : found;
}

double EngineReading::leastLeft() const {
    const std::optional<RateBucket> bucket = snapshot ? snapshot->codexBucket() : std::nullopt;
    if (!bucket) {
        return 101;
    }
    if (blocked()) {
        return 0;
    }
    double least = 101;
    for (QuotaWindow which : bucket->windows()) {
        if (const auto used = bucket->window(which)->validUsedPercent()) {
            least = std::min(least, 100 - std::clamp(*used, 0.0, 100.0));
        }
    }
    return least;
}

std::string EngineReading::sourceLine() const {
    std::string text = sameAs     ? L10n::render("account.same_as", {*sameAs})
                       : snapshot ? title(MenuBarPresentation::Figures::left)
                                  : L10n::text(statusKey());
    if (error) {
        text += " \u2014 " + error->localized();
    }
    return accountHeadline(label.empty() ? std::nullopt : std::optional(label), std::move(text));
}

std::string EngineReading::sourceLines() const {
    std::string lines;
    for (const EngineReading* each : sources()) {
        lines += (lines.empty() ? "" : "\n") + each->sourceLine();
    }
    return lines;
}

const char* EngineReading::refreshingKey() const {
    return snapshot ? "status.refreshing" : "status.first_reading";
}

const char* EngineReading::statusKey() const {
    return demo         ? "status.demo"
           : refreshing ? refreshingKey()
           : offline()  ? "status.offline"
           : error      ? "status.error"
           : stale      ? "status.stale"
           : !snapshot  ? "status.connecting"
                        : "status.connected";
}

std::string EngineReading::title(MenuBarPresentation::Figures figures) const {
    return MenuBarPresentation::title(snapshot ? snapshot->codexBucket() : std::nullopt, stale,
                                      scope, blocked().has_value(), figures);
}

json EngineReading::record(Date now) const {
    const std::optional<RateBucket> bucket = snapshot ? snapshot->codexBucket() : std::nullopt;
    json limits = json::array();
    for (const RateBucket& each : snapshot ? snapshot->buckets : std::vector<RateBucket>()) {
        limits.push_back({{"id", each.id()},
                          {"name", each.title()},
                          {"windows", windowsJSON(each, now)},
                          {"blocked", blockedJSON(bucketBlocked(each))}});
    }
    json out = {
        {"schema", 1},
        {"observed_at", snapshot ? json(iso8601(snapshot->observedAt)) : json(nullptr)},
        {"source", source},
        {"plan", bucket && bucket->planType ? json(*bucket->planType) : json(nullptr)},
        {"stale", stale},
        {"windows", bucket ? windowsJSON(*bucket, now) : json::array()},
        {"credits", bucket && bucket->credits ? creditsJSON(*bucket->credits) : json(nullptr)},
        {"error", error ? localizedJSON(*error) : json(nullptr)},
        {"blocked", blockedJSON()},
        {"limits", std::move(limits)}};
    // Only with several sources: one source's record stays as it always was.
    if (!label.empty()) {
        out["label"] = label;
    }
    if (sameAs) {
        out["same_as"] = *sameAs;
    }
    return out;
}

json EngineReading::windowsJSON(const RateBucket& bucket, Date now) const {
    json windows = json::array();
    const bool codex = bucket.id() == "codex";
    for (QuotaWindow which : bucket.windows()) {
        const auto forecast = codex ? forecasts.find(which) : forecasts.end();
        windows.push_back(windowJSON(
            which, *bucket.window(which), now,
            forecast == forecasts.end() ? std::nullopt : std::optional(forecast->second)));
    }
    return windows;
}

std::string BucketSummary::line(Date now) const {
    std::string figures =
        MenuBarPresentation::title(bucket, false, MenuBarScope::both, blocked.has_value());
    if (blocked) {
        figures += " \u00b7 " + blocked->text(now);
    }
    return L10n::render("limits.bucket_line", {bucket.title(), figures});
}

std::vector<BucketSummary> EngineReading::otherBuckets() const {
    std::vector<BucketSummary> found;
    for (const RateBucket& bucket : snapshot ? snapshot->buckets : std::vector<RateBucket>()) {
        if (bucket.id() == "codex") {
            continue;
        }
        BucketSummary summary{bucket, bucketBlocked(bucket)};
        summary.pressing = summary.blocked.has_value();
        for (QuotaWindow which : bucket.windows()) {
            summary.pressing =
                summary.pressing || remainingLevel(*bucket.window(which)) != RemainingLevel::none;
        }
        found.push_back(std::move(summary));
    }
    return found;
}

std::optional<BlockedState> EngineReading::bucketBlocked(const RateBucket& bucket) const {
    return snapshot ? BlockedState::of(bucket, *snapshot) : std::nullopt;
}

std::optional<BlockedState> EngineReading::blocked() const {
    return snapshot ? BlockedState::of(*snapshot) : std::nullopt;
}

std::optional<CreditsSnapshot> EngineReading::credits() const {
    const std::optional<RateBucket> bucket = snapshot ? snapshot->codexBucket() : std::nullopt;
    return bucket ? bucket->credits : std::nullopt;
}

std::vector<QuotaWindow> EngineReading::visibleWindows() const {
    return MenuBarPresentation::visibleWindows(snapshot ? snapshot->codexBucket() : std::nullopt);
}

json EngineReading::blockedJSON() const {
    return blockedJSON(blocked());
}

json EngineReading::blockedJSON(const std::optional<BlockedState>& state) {
    if (!state) {
        return nullptr;
    }
    return {{"reason", state->reason},
            {"detail", state->detail ? json(*state->detail) : json(nullptr)},
            {"until", state->until ? json(iso8601(*state->until)) : json(nullptr)}};
}

json EngineReading::message(Date now) const {
    json out = record(now);
    out["view"] = {{"snapshot", snapshot ? snapshot->toJSON(DateCoding::iso8601) : json(nullptr)},
                   {"demo", demo},
                   {"refreshing", refreshing},
                   {"warnings", warnings},
                   {"scope", rawValue(scope)}};
    if (counters) {
        out["view"]["counters"] = *counters;
    }
    if (!accounts.empty()) {
        out["view"]["accounts"] = json::array();
        for (const EngineReading& other : accounts) {
            out["view"]["accounts"].push_back(other.message(now));
        }
    }
    return out;
}

EngineAnswer EngineReading::ask(const std::filesystem::path& dataDirectory, bool fresh,
                                std::chrono::steady_clock::time_point deadline) {
    using Outcome = EngineAnswer::Outcome;
    using std::chrono::steady_clock;
    const std::optional<EngineHolder> holder = EngineLock::holder(dataDirectory);
    if (!holder || holder->socket.empty()) {
        return {};
    }
    EngineAnswer answer{Outcome::noEngine, std::nullopt, holder->pid};
    const auto busyUntil = steady_clock::now() + patience;
    for (;;) {
        bool full = false;
        auto channel = EngineChannel::connect(holder->socket, full);
        if (!channel && full && steady_clock::now() < busyUntil) {
            continue;  // there, but with a queue of connections full: as busy as "busy" says
        }
        if (!channel) {
            // Nobody listens there (the engine is gone), or it stayed too full to let us in.
            answer.outcome = full ? Outcome::busy : Outcome::noEngine;
            return answer;
        }
        const auto taken = std::min(deadline, steady_clock::now() + patience);
        // An engine that turns us away ("busy") may have hung up before our request reached
        // it: its answer is read all the same.
        if (channel->send(local_protocol::request(fresh ? local_protocol::refresh
                                                        : local_protocol::reading))) {
            channel->flushBy(taken);
        }
        Pulse pulse = pulseOf(holder->pid);
        std::optional<std::string> line = channel->awaitLine(taken);
        // An engine that runs, but slowly (a loaded machine), is waited for; only one that is
        // stopped or stuck is given up on.
        while (!line && !channel->ended() && steady_clock::now() < deadline &&
               atWork(holder->pid, pulse)) {
            line = channel->awaitLine(
                std::min(deadline, steady_clock::now() + std::chrono::milliseconds(250)));
        }
        if (!line) {
            // One that hung up on us is gone, or going: Codex will answer.
            answer.outcome = channel->ended() ? Outcome::noEngine : Outcome::silent;
            return answer;
        }
        const json message = parseBoundedJSON(*line);
        const std::string said = message.is_object() && message.value("answer", json()).is_string()
                                     ? message["answer"].get<std::string>()
                                     : std::string();
        if (said == local_protocol::busy) {
            if (steady_clock::now() + std::chrono::milliseconds(100) >= busyUntil) {
                answer.outcome = Outcome::busy;
                return answer;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        if (said == local_protocol::pending) {
            line = channel->awaitLine(deadline);
            if (!line) {
                answer.outcome = channel->ended() ? Outcome::noEngine : Outcome::silent;
                return answer;
            }
        }
        try {
            answer.reading = fromMessage(parseBoundedJSON(*line));
            answer.outcome = Outcome::reading;
        } catch (const JSONDecodingError&) {
            // An engine we cannot understand: Codex itself will answer.
        }
        return answer;
    }
}

std::optional<EngineReading> EngineReading::saved(const std::filesystem::path& dataDirectory,
                                                  Date now) {
    LoadedState loaded = StateStore(dataDirectory).load();
    if (loaded.unreadable || !loaded.state.snapshot) {
        return std::nullopt;
    }
    EngineReading reading;
    reading.snapshot = std::move(loaded.state.snapshot);
    reading.counters = std::move(loaded.state.counters);
    Settings settings;
    AccountSources sources;
    try {
        settings = Settings::load(*PreferencesStore::standard());
        sources = AccountSources::load(*PreferencesStore::standard());
    } catch (const std::exception&) {
        // No preferences to read: the default interval, one source.
    }
    reading.stale = now - reading.snapshot->observedAt > Engine::staleAfter(settings);
    reading.source = "engine";
    if (sources.several()) {
        reading.label = sources.firstLabel;
        for (const AccountSource& other : sources.others) {
            EngineReading& saved = reading.accounts.emplace_back();
            saved.label = other.label;
            saved.source = "engine";
            for (AccountState& account : loaded.accounts) {
                if (account.label == other.label && account.state.snapshot) {
                    saved.snapshot = std::move(account.state.snapshot);
                    saved.counters = std::move(account.state.counters);
                    saved.stale = now - saved.snapshot->observedAt > Engine::staleAfter(settings);
                }
            }
        }
    }
    return reading;
}

void EngineReading::countedFrom(const std::filesystem::path& dataDirectory) {
    LoadedState loaded = StateStore(dataDirectory).load();
    if (loaded.unreadable) {
        return;
    }
    if (!counters) {
        counters = std::move(loaded.state.counters);
    }
    for (EngineReading& other : accounts) {
        for (AccountState& account : loaded.accounts) {
            if (!other.counters && account.label == other.label) {
                other.counters = std::move(account.state.counters);
            }
        }
        if (!other.counters) {
            other.counters.emplace();  // nothing counted yet
        }
    }
}

EngineReading EngineReading::fromMessage(const json& message) {
    EngineReading reading = fromOneMessage(message);
    const json& view = message["view"];
    if (const auto list = view.find("accounts"); list != view.end() && list->is_array()) {
        if (list->size() + 1 > AccountSources::maximum) {
            throw JSONDecodingError(JSONDecodingError::Kind::dataCorrupted, "accounts: too many");
        }
        for (const json& other : *list) {
            reading.accounts.push_back(fromOneMessage(other));
        }
    }
    return reading;
}

EngineReading EngineReading::fromOneMessage(const json& message) {
    using namespace coding;
    const json& view = object(required(object(message, "reading"), "view"), "view");
    EngineReading reading;
    if (const json* label = member(message, "label")) {
        reading.label = asString(*label, "label");
    }
    if (const json* same = member(message, "same_as")) {
        reading.sameAs = asString(*same, "same_as");
    }
    if (const json* snapshot = member(view, "snapshot")) {
        reading.snapshot = UsageSnapshot::fromJSON(*snapshot, DateCoding::iso8601);
    }
    reading.stale = asBool(required(message, "stale"), "stale");
    reading.demo = asBool(required(view, "demo"), "demo");
    reading.refreshing = asBool(required(view, "refreshing"), "refreshing");
    try {
        if (const json* error = member(message, "error")) {
            reading.error = error->get<LocalizedMessage>();
        }
        reading.warnings = required(view, "warnings").get<std::vector<LocalizedMessage>>();
    } catch (const json::exception& failure) {
        throw JSONDecodingError(Kind::typeMismatch, failure.what());
    }
    if (const json* counted = member(view, "counters")) {
        try {
            reading.counters = counted->get<MetricCounters>();
        } catch (const JSONDecodingError&) {
            // An engine's counts we cannot read are no counts.
        }
    }
    const std::string scope = asString(required(view, "scope"), "scope");
    for (MenuBarScope known : allMenuBarScopes) {
        if (scope == rawValue(known)) {
            reading.scope = known;
        }
    }
    for (const json& window : message.value("windows", json::array())) {
        const json* forecast = window.is_object() ? member(window, "forecast") : nullptr;
        const auto which = window.is_object() && window.value("minutes", json()).is_number_integer()
                               ? quotaWindowFromMinutes(window["minutes"].get<std::int64_t>())
                               : std::nullopt;
        if (forecast == nullptr || !which) {
            continue;
        }
        UsageForecast read;
        read.lastsUntilReset = asBool(required(object(*forecast, "forecast"), "lasts_until_reset"),
                                      "lasts_until_reset");
        if (const json* runsOut = member(*forecast, "runs_out_at")) {
            read.runsOutAt = parseISO8601(asString(*runsOut, "runs_out_at"));
            if (!read.runsOutAt) {
                throw JSONDecodingError(Kind::dataCorrupted, "runs_out_at: not a date");
            }
        }
        reading.forecasts[*which] = read;
    }
    reading.source = "engine";
    return reading;
}

}  // namespace quotalume
