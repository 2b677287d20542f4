#include "core_ports.hpp"

#include "http_receiver.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>

namespace quotalume {
namespace {

// A main loop that other threads may post to; the test takes the work when it arrives.
class ThreadSafeLoop final : public MainLoop {
public:
    void post(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
        arrived_.notify_all();
    }
    std::unique_ptr<TimerHandle> startTimer(Duration, bool, std::function<void()>) override {
        return nullptr;
    }
    // Runs the next posted work; false when none came within the limit.
    bool runNext(std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, limit, [&] { return !posted_.empty(); })) {
            return false;
        }
        auto work = std::move(posted_.front());
        posted_.pop_front();
        lock.unlock();
        work();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> posted_;
};

TEST(CorePortsTest, CodexReadingsAndFailuresComeBackAsValuesOnTheLoop) {
    ThreadSafeLoop loop;
    CodexClientSource source(loop);
    test::FakeCodexHome home("serve");
    const struct {
        const char* name;
        std::string executable;
        bool succeeds;
    } rows[] = {{"a reading", home.executable(), true},
                {"a missing executable", home.str() + "/missing", false}};
    for (const auto& [name, executable, succeeds] : rows) {
        SCOPED_TRACE(name);
        std::optional<FetchResult> result;
        source.fetch({executable, home.str(), 10}, CodexClient::Depth::full,
                     [&](FetchResult value) { result = value; });
        EXPECT_FALSE(result) << "never inside the call";
        ASSERT_TRUE(loop.runNext());
        ASSERT_TRUE(result);
        if (succeeds) {
            EXPECT_TRUE(std::holds_alternative<UsageSnapshot>(*result));
        } else {
            EXPECT_EQ(std::get<LocalizedMessage>(*result), LocalizedMessage("error.executable"));
        }
    }
}

TEST(CorePortsTest, WebhookOutcomesCarryTheirRetryableFlag) {
    ThreadSafeLoop loop;
    WebhookSenderPort port(loop);
    test::HTTPReceiver receiver;
    for (const int status : {503, 400}) {  // the sender's verdicts: to retry, and refused
        receiver.answer(test::ReceiverAnswer::withStatus(status));
        std::optional<WebhookResult> result;
        port.send(ResetEvent::test(Date()), {receiver.url(), WebhookFormat::json, "", ""}, true,
                  [&](WebhookResult value) { result = value; });
        ASSERT_TRUE(loop.runNext());
        ASSERT_TRUE(result && *result) << status;
        EXPECT_EQ((*result)->message,
                  LocalizedMessage("error.webhook_http", {std::to_string(status)}));
        EXPECT_EQ((*result)->retryable, status == 503);
    }
}

// A port that goes while its work blocks (a Codex that never answers, a receiver that takes the
// request and never answers) cuts the work short, joins its thread, kills the child and answers
// nobody: the program that quits waits for none of them.
TEST(CorePortsTest, APortThatGoesCutsWhatRunsShortAndWaitsForItsThreads) {
    ThreadSafeLoop loop;
    test::FakeCodexHome home("ignore-term\nhang");
    test::HTTPReceiver receiver(test::ReceiverAnswer::of(test::ReceiverAnswer::Kind::neverAnswer));
    bool answered = false;
    const auto started = std::chrono::steady_clock::now();
    {
        CodexClientSource source(loop);
        WebhookSenderPort webhooks(loop);
        source.fetch({home.executable(), home.str(), 60}, CodexClient::Depth::light,
                     [&](FetchResult) { answered = true; });
        webhooks.send(ResetEvent::test(std::chrono::system_clock::now()),
                      {receiver.url(), WebhookFormat::json, "", ""}, true,
                      [&](WebhookResult) { answered = true; });
        ASSERT_TRUE(test::eventually([&] {
            return home.read("launch.json").find("\"pid\"") != std::string::npos &&
                   receiver.requests().size() == 1;
        }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const pid_t codex = home.launchInfo()["pid"].get<pid_t>();
    EXPECT_FALSE(test::processAlive(codex)) << "killed and reaped as its session went";
    EXPECT_FALSE(loop.runNext(std::chrono::seconds(1)));
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace quotalume
