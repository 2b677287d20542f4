// What the monitor state costs beyond its bytes: loading and saving a full history against
// reading the file, parsing it, and replacing it with the same bytes.

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

}  // namespace
}  // namespace quotalume

BENCHMARK_MAIN();
