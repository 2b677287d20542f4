// What a Codex session costs beyond the child process it runs, and what guarding against a
// flooding child costs beyond reading the same bytes.

#include <quotalume/codex/rpc_session.hpp>
#include <quotalume/support/child_process.hpp>
#include <quotalume/support/quotalume_error.hpp>

#include "test_support.hpp"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

namespace quotalume {
namespace {

using test::FakeCodexHome;

ChildProcess::Options fakeChild(const FakeCodexHome& home) {
    return {.executable = FakeCodexHome::executable(),
            .arguments = {"app-server", "--listen", "stdio://"},
            .environment = {"CODEX_HOME=" + home.str()},
            .workingDirectory = home.str()};
}

void BM_SpawnAndReap(benchmark::State& state) {
    FakeCodexHome home("serve\n");
    for (auto _ : state) {
        ChildProcess child(fakeChild(home));
        child.closeInput();
        child.waitForExit(std::chrono::seconds(10));
    }
}
BENCHMARK(BM_SpawnAndReap)->Unit(benchmark::kMicrosecond);

void BM_SessionRoundTrip(benchmark::State& state) {
    FakeCodexHome home("serve\n");
    for (auto _ : state) {
        RPCSession session(home.executable(), home.str(), 10);
        benchmark::DoNotOptimize(session.request("initialize"));
        session.close();
    }
}
BENCHMARK(BM_SessionRoundTrip)->Unit(benchmark::kMicrosecond);

constexpr const char* floodScript = "read\nflood 4194305\n";

void BM_Read4MiBFromPipe(benchmark::State& state) {
    FakeCodexHome home(floodScript);
    for (auto _ : state) {
        ChildProcess child(fakeChild(home));
        (void)!::write(child.input(), "go\n", 3);
        child.closeInput();
        char chunk[8192];
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(child.output(), chunk, sizeof chunk)) > 0;) {
            total += static_cast<std::size_t>(n);
        }
        child.waitForExit(std::chrono::seconds(10));
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * 4194305);
}
BENCHMARK(BM_Read4MiBFromPipe)->Unit(benchmark::kMillisecond);

void BM_Reject4MiBLine(benchmark::State& state) {
    FakeCodexHome home(floodScript);
    for (auto _ : state) {
        RPCSession session(home.executable(), home.str(), 20);
        try {
            session.request("initialize");
            state.SkipWithError("the flood was accepted");
        } catch (const QuotalumeError& error) {
            if (error.errorCase() != QuotalumeError::Case::invalidResponse) {
                state.SkipWithError(error.what());
            }
        }
        session.close();
    }
    state.SetBytesProcessed(state.iterations() * 4194305);
}
BENCHMARK(BM_Reject4MiBLine)->Unit(benchmark::kMillisecond);

// A line of 4 MiB of "[" and one of 4 MiB of "{}," are skipped like any line that is not
// JSON, then the answer is read. The peak resident size shows what the hostile lines cost
// beyond their own bytes.
void BM_SkipHostileNesting(benchmark::State& state) {
    std::string wide = "[";
    while (wide.size() < RPCSession::maximumBufferedBytes - 8) {
        wide += "{},";
    }
    wide += "{}]";
    FakeCodexHome home("read\nsend " + std::string(RPCSession::maximumBufferedBytes - 1, '[') +
                       "\nsend " + wide + "\nsend {\"id\":1,\"result\":{}}\n");
    for (auto _ : state) {
        RPCSession session(home.executable(), home.str(), 20);
        benchmark::DoNotOptimize(session.request("initialize"));
        session.close();
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.SetBytesProcessed(state.iterations() * 2 * 4194305);
}
BENCHMARK(BM_SkipHostileNesting)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quotalume

BENCHMARK_MAIN();
