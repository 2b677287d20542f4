// What the monitor state costs beyond its bytes: loading and saving a full history against
// reading the file, parsing it, and replacing it with the same bytes. Beside it, the metrics the
// engine renders at every change while they are offered, against the message it sends a view.

#include "engine_reading.hpp"
#include "metrics_exposition.hpp"
#include "monitor_state.hpp"

#include <quotalume/support/private_file.hpp>

#include "test_support.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using test::TempDir;

// A full history of realistic records, a snapshot and the detector it left behind.
MonitorState fullState() {
    const Date start = dateFromReferenceSeconds(794045700.123456);
    const std::string account = UsageSnapshot::fingerprint("account");
    RateBucket codex{"codex",
                     "Codex",
                     RateWindow{37.5, 300, 1772370000.5},
                     RateWindow{12.25, 10080, 1772900000.25},
                     "plus",
                     CreditsSnapshot{true, false, "12.50"}};
    MonitorState state;
    for (int i = 0; i < 2; ++i) {
        state.snapshot = UsageSnapshot{start + std::chrono::minutes(i), account, {codex}};
        state.detector.observe(*state.snapshot);
    }
    for (std::size_t i = 0; i < MonitorState::maximumRecords; ++i) {
        ResetEvent event = ResetEvent::test(start - std::chrono::hours(5 * i));
        state.records.push_back(
            EventRecord{{"notification.waiting", LocalizedMessage("webhook.retrying", {"2"}),
                         UsageSnapshot::fingerprint(event.id), 2,
                         event.observedAt + std::chrono::seconds(30), true, true},
                        event});
    }
    return state;
}

struct Fixture {
    TempDir dir;
    StateStore store{dir.path() / "Quotalume"};
    std::string bytes;

    Fixture() {
        store.save(fullState());
        bytes = *readSmallFile(store.url(), 4 << 20);
    }
};

void BM_StateLoad(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fixture.store.load());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fixture.bytes.size()));
}
BENCHMARK(BM_StateLoad)->Unit(benchmark::kMicrosecond);

void BM_ReadSameBytes(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        benchmark::DoNotOptimize(readSmallFile(fixture.store.url(), 4 << 20));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fixture.bytes.size()));
}
BENCHMARK(BM_ReadSameBytes)->Unit(benchmark::kMicrosecond);

// The JSON library's own floor: parsing the same text into a document, nothing decoded.
void BM_ParseSameBytes(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        benchmark::DoNotOptimize(nlohmann::json::parse(fixture.bytes));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fixture.bytes.size()));
}
BENCHMARK(BM_ParseSameBytes)->Unit(benchmark::kMicrosecond);

void BM_StateSave(benchmark::State& state) {
    Fixture fixture;
    const MonitorState full = fixture.store.load().state;
    for (auto _ : state) {
        fixture.store.save(full);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fixture.bytes.size()));
}
BENCHMARK(BM_StateSave)->Unit(benchmark::kMicrosecond);

void BM_ReplaceSameBytes(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) {
        replaceFileAtomically(fixture.store.url(), fixture.bytes, ".state-bench.tmp");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fixture.bytes.size()));
}
BENCHMARK(BM_ReplaceSameBytes)->Unit(benchmark::kMicrosecond);

// The most a reading holds: eight seats, each with sixteen buckets of two windows, forecasts and
// every counter.
EngineReading fullReading() {
    const Date now = dateFromReferenceSeconds(794045700.0);
    EngineReading first;
    for (int seat = 0; seat < 8; ++seat) {
        EngineReading& reading = seat == 0 ? first : first.accounts.emplace_back();
        reading.label = "Seat " + std::to_string(seat);
        reading.snapshot = UsageSnapshot{now, UsageSnapshot::fingerprint(reading.label), {}};
        for (int bucket = 0; bucket < 16; ++bucket) {
            reading.snapshot->buckets.push_back(RateBucket{
                bucket == 0 ? "codex" : "codex_model_" + std::to_string(bucket), "Model",
                RateWindow{37.5, 300, 1772370000.0}, RateWindow{12.25, 10080, 1772900000.0}});
        }
        reading.forecasts[QuotaWindow::fiveHour].runsOutAt = now + std::chrono::hours(1);
        MetricCounters& counted = reading.counters.emplace();
        counted.readings = {5000, 12};
        for (const RateBucket& bucket : reading.snapshot->buckets) {
            counted.countReset(bucket.id(), QuotaWindow::fiveHour);
        }
        counted.countWarning(WarningReason::belowLevel);
    }
    return first;
}

void BM_MetricsExposition(benchmark::State& state) {
    const EngineReading reading = fullReading();
    for (auto _ : state) {
        benchmark::DoNotOptimize(metricsExposition(reading, "Default"));
    }
}
BENCHMARK(BM_MetricsExposition)->Unit(benchmark::kMicrosecond);

void BM_ReadingMessage(benchmark::State& state) {
    const EngineReading reading = fullReading();
    const Date now = reading.snapshot->observedAt;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reading.message(now).dump());
    }
}
BENCHMARK(BM_ReadingMessage)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quotalume

BENCHMARK_MAIN();
