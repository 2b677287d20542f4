#include "test_support.hpp"

#include <quotalume/codex/rpc_session.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quotalume {
namespace {

using nlohmann::json;
using test::failureOf;
using test::FakeCodexHome;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

RPCSession openSession(const FakeCodexHome& home, double timeout = 10) {
    return RPCSession(home.executable(), home.str(), timeout);
}

TEST(RPCSessionTest, StartsTheChildWithItsArgumentsEnvironmentAndNothingElse) {
    FakeCodexHome home("");
    test::TempDir userHome;
    // A home folder that does not exist must not matter: the child works in the Codex home.
    test::ScopedEnvironment homeVariable("HOME", userHome.str() + "/gone");
    // Without a PATH of our own the child gets the usual system one after codex's folder.
    test::ScopedEnvironment noPath("PATH", nullptr);
    // A descriptor opened without close-on-exec must not reach the child.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    openSession(home).close();
    ::close(stray);
    auto info = home.launchInfo();
    EXPECT_EQ(info["argv"], json({home.executable(), "app-server", "--listen", "stdio://"}));
    EXPECT_EQ(info["descriptors"], json({0, 1, 2}));
    EXPECT_EQ(info["stderr"], "/dev/null");
    EXPECT_EQ(info["cwd"], home.str());
    std::vector<std::string> ours;
    for (const std::string entry : info["environment"]) {
        if (entry.starts_with("PATH=") || entry.starts_with("CODEX_HOME=") ||
            entry.starts_with("RUST_LOG=")) {
            ours.push_back(entry);
        }
    }
    std::ranges::sort(ours);
    const std::string directory = std::filesystem::path(home.executable()).parent_path().string();
    EXPECT_EQ(ours, (std::vector<std::string>{
                        "CODEX_HOME=" + home.str(),
                        "PATH=" + directory + ":/usr/bin:/bin:/usr/sbin:/sbin", "RUST_LOG=error"}));

    test::ScopedEnvironment path("PATH", "/opt/tools:/usr/bin");
    openSession(home).close();
    const json inherited = home.launchInfo()["environment"];
    EXPECT_NE(std::ranges::find(inherited, json("PATH=" + directory + ":/opt/tools:/usr/bin")),
              inherited.end());
}

TEST(RPCSessionTest, ReassemblesSplitAnswersAndServesMergedOnesFromTheBuffer) {
    FakeCodexHome home(
        "read\n"
        "part {\"id\":1,\"res\n"
        "sleep 30\n"
        "part ult\":{\"n\"\n"
        "sleep 30\n"
        "send :1}}\n"
        "read\n"
        "send {\"id\":2,\"result\":{\"n\":2}}\\n{\"id\":3,\"result\":{\"n\":3}}\n"
        "sleep 300\n");
    RPCSession session = openSession(home);
    EXPECT_EQ(session.request("initialize")["n"], 1);
    EXPECT_EQ(session.request("initialize")["n"], 2);
    // Answer 3 is already buffered: the fake sends nothing more, so a pipe read would wait.
    auto begin = Clock::now();
    EXPECT_EQ(session.request("initialize")["n"], 3);
    EXPECT_LT(secondsSince(begin), 5.0)
        << "served from the buffer, not a read that waits for the deadline";
}

TEST(RPCSessionTest, SkipsJunkAndNotificationsAndRefusesServerRequests) {
    FakeCodexHome home(
        "read\n"
        "send 2026-12-06T10:00:00Z INFO starting app server\n"
        "send [1,2,3]\n"
        "send {\"method\":\"account/updated\",\"params\":{}}\n"
        "send "
        "{\"id\":\"srv-1\",\"method\":\"item/commandExecution/requestApproval\",\"params\":{}}\n"
        "send {\"id\":7,\"method\":\"applyPatchApproval\"}\n"
        "send {\"id\":null,\"method\":\"odd\"}\n"
        "send {\"id\":\"1\",\"result\":{\"wrong\":\"string id\"}}\n"
        "send {\"id\":99,\"result\":{\"wrong\":\"other id\"}}\n"
        "send {\"result\":{\"wrong\":\"no id\"}}\n"
        "send {\"id\":1.5,\"result\":{\"wrong\":\"fraction\"}}\n"
        "send {\"id\":1,\"result\":{\"ok\":true}}\n");
    EXPECT_EQ(openSession(home).request("initialize"), json({{"ok", true}}));
    auto messages = home.receivedMessages();
    ASSERT_EQ(messages.size(), 4u);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(messages[i]["error"],
                  json({{"code", -32601}, {"message", "This client only reads usage limits."}}));
        EXPECT_EQ(messages[i]["id"], json::array({"srv-1", 7, nullptr})[i - 1]);
    }
}

struct RequestCase {
    const char* name;
    std::string script;
    LocalizedMessage outcome;
    double timeout = 10;
    double atLeast = 0;
    double below = 5;
};

void PrintTo(const RequestCase& c, std::ostream* out) {
    *out << c.name;
}

std::string answer(const std::string& line) {
    return "read\nsend " + line + "\n";
}

LocalizedMessage rpcError(int code, const std::string& said = "") {
    return said.empty()
               ? LocalizedMessage("error.rpc", {"initialize", std::to_string(code)})
               : LocalizedMessage("error.rpc_said", {"initialize", std::to_string(code), said});
}

// An answer of 4 MiB with its line feed, or of one byte more.
std::string answerOfFourMebibytes(bool oneByteMore) {
    const std::string prefix = R"({"id":1,"result":{"p":")", suffix = "\"}}";
    const std::size_t padding =
        RPCSession::maximumBufferedBytes - 1 - prefix.size() - suffix.size() + oneByteMore;
    return answer(prefix + std::string(padding, 'x') + suffix);
}

// 4 MiB of brackets, a million {}: log text to us, skipped without a crash.
std::string hostileLines() {
    std::string wide = "[";
    while (wide.size() < RPCSession::maximumBufferedBytes - 8) {
        wide += "{},";
    }
    return "read\nsend " + std::string(RPCSession::maximumBufferedBytes - 1, '[') + "\nsend " +
           wide + "{}]\nsend {\"id\":1,\"result\":{}}\n";
}

// Thousands of server requests whose refusals fill the input pipe of a child that never reads.
std::string unreadRequests() {
    std::string script;
    for (int i = 0; i < 3000; ++i) {
        script += "send {\"id\":" + std::to_string(i + 100) + ",\"method\":\"ask\"}\n";
    }
    return script + "sleep 5000\n";
}

class RPCSessionRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RPCSessionRequestTest, EndsAsItShouldInTime) {
    const auto& c = GetParam();
    FakeCodexHome home(c.script);
    const int descriptors = test::openDescriptorCount();
    const auto begin = Clock::now();
    {
        RPCSession session = openSession(home, c.timeout);
        EXPECT_EQ(failureOf([&] { session.request("initialize"); }), c.outcome);
        const double elapsed = secondsSince(begin);
        EXPECT_GE(elapsed, c.atLeast);
        EXPECT_LT(elapsed, c.below);
        if (c.outcome == "error.server_exit") {  // writing to a child that has gone, too
            EXPECT_EQ(failureOf([&] { session.request("initialize"); }), c.outcome);
        }
    }
    EXPECT_LE(home.receivedLines().size(), 1u) << "something but our request was written";
    // However it ended, the child is reaped and nothing of it stays open.
    EXPECT_FALSE(test::hasChildren());
    EXPECT_EQ(test::openDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RPCSessionRequestTest,
    ::testing::Values(
        RequestCase{"fractionalID", answer(R"({"id":1.0,"result":{}})"), "no failure"},
        RequestCase{"errorWithoutCode", answer(R"({"id":1,"error":{"message":"no code"}})"),
                    rpcError(-1, "no code")},
        RequestCase{"codeAsText", answer(R"({"id":1,"error":{"code":"12"}})"), rpcError(-1)},
        RequestCase{"fractionalCode", answer(R"({"id":1,"error":{"code":2.5}})"), rpcError(-1)},
        RequestCase{"integralCode", answer(R"({"id":1,"error":{"code":3.0}})"), rpcError(3)},
        RequestCase{"errorNotAnObject",
                    answer(R"({"id":1,"error":"not an object","result":{"x":1}})"), "no failure"},
        RequestCase{"emptyError", answer(R"({"id":1,"error":{},"result":{"x":1}})"), rpcError(-1)},
        RequestCase{"nullResult", answer(R"({"id":1,"result":null})"), "error.response"},
        RequestCase{"arrayResult", answer(R"({"id":1,"result":[1]})"), "error.response"},
        RequestCase{"noResult", answer(R"({"id":1})"), "error.response"},
        // Our answer, broken by bytes that are not UTF-8, has still arrived.
        RequestCase{"notUTF8", answer("{\"id\":1,\"result\":{\"x\":\"\xff\"}}"), "error.response"},
        RequestCase{"anotherNotUTF8",
                    answer("{\"id\":7,\"result\":\"\xc3\"}\\n{\"id\":1,\"result\":{}}"),
                    "no failure"},
        RequestCase{"exitsEarly", "read\nexit 1\n", "error.server_exit", 30},
        // The last poll slice is cut to the time left.
        RequestCase{"silent", "sleep 5000\n", "error.timeout", 1.5, 1.5, 2.4},
        // Timeouts below one second still give one second.
        RequestCase{"negativeTimeout", "sleep 5000\n", "error.timeout", -5, 1, 3},
        RequestCase{"nanTimeout", "sleep 5000\n", "error.timeout", std::nan(""), 1, 3},
        RequestCase{"zeroTimeout", "read\nsleep 600\nsend {\"id\":1,\"result\":{}}\n", "no failure",
                    0},
        RequestCase{"neverReads", unreadRequests(), "error.timeout", 1, 0, 3},
        RequestCase{"exactlyFourMebibytes", answerOfFourMebibytes(false), "no failure", 20},
        RequestCase{"fourMebibytesAndAByte", answerOfFourMebibytes(true), "error.response", 20},
        RequestCase{"floodWithoutLineFeed", "read\nflood 4194305\n", "error.response", 20},
        RequestCase{"hostileNesting", hostileLines(), "no failure", 30, 0, 30},
        // A line that opens an object and cannot be read may have been the answer: the session
        // ends at once rather than wait out its deadline.
        RequestCase{"nanResult", answer(R"({"id":1,"result":NAN})"), "error.unreadable_answer", 20,
                    0, 5},
        RequestCase{"numberPastADouble", answer(R"({"id":1,"result":{"x":1e309}})"),
                    "error.unreadable_answer", 20, 0, 5},
        RequestCase{"nestedPastTheBound",
                    answer("{\"id\":" + std::string(50000, '[') + std::string(50000, ']') + "}"),
                    "error.unreadable_answer", 20, 0, 5},
        RequestCase{"cutShort", answer(R"(  {"id":1,"result":{)"), "error.unreadable_answer", 20, 0,
                    5},
        RequestCase{"logTextIsSkipped",
                    "read\nsend INFO {not json}\nsend [1,\nsend {\"id\":1,\"result\":{}}\n",
                    "no failure"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RPCSessionTest, ChildThatClosedItsInputGivesEpipeWithoutKillingUs) {
    FakeCodexHome home("close-input\nsleep 5000\n");
    RPCSession session = openSession(home);
    int error = 0;
    EXPECT_TRUE(test::eventually([&] {
        error = test::errnoOf([&] { session.send({{"method", "initialized"}}); });
        return error != 0;
    }));
    EXPECT_EQ(error, EPIPE);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(RPCSessionTest, PolicyRefusalsWriteNothing) {
    FakeCodexHome home("read\n");
    {
        RPCSession session = openSession(home);
        EXPECT_EQ(failureOf([&] {
                      session.request("thread/list", {{"useStateDbOnly", false}});
                  }),
                  "error.read_only");
        EXPECT_EQ(failureOf([&] { session.send({{"method", "turn/start"}}); }), "error.read_only");
        // Replies carry no "method" and are never checked.
        session.send({{"id", 5}, {"result", json::object()}});
    }
    EXPECT_EQ(home.receivedLines(), std::vector<std::string>{R"({"id":5,"result":{}})"});
}

// A child ending at EOF gets no signal, else SIGTERM after 0.5 s and SIGKILL 0.5 s later.
TEST(RPCSessionTest, CloseTerminatesThenKills) {
    const struct {
        const char* script;
        double atLeast, below;
    } children[] = {{"serve\n", 0, 0.5}, {"hang\n", 0.5, 1.0}, {"ignore-term\nhang\n", 1.0, 3.0}};
    for (const auto& child : children) {
        SCOPED_TRACE(child.script);
        FakeCodexHome home(child.script);
        RPCSession session = openSession(home);
        if (child.atLeast == 0) {
            session.request("initialize");  // started, so only its ending is timed
        }
        const auto begin = Clock::now();
        session.close();
        EXPECT_GE(secondsSince(begin), child.atLeast);
        EXPECT_LT(secondsSince(begin), child.below);
        session.close();
        EXPECT_FALSE(test::hasChildren());
        EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.server_exit");
    }
}

TEST(RPCSessionTest, TheChildsEndEndsTheSessionAndItsWholeGroup) {
    // A grandchild holds the pipe open: the child's exit, not end of file, ends the wait.
    FakeCodexHome exiting("holder\nread\nexit 1\n");
    FakeCodexHome serving("holder\nserve\n");
    // One that goes on writing once the child has gone.
    FakeCodexHome chattering("chatter\nread\nexit 1\n");
    for (FakeCodexHome* home : {&exiting, &serving, &chattering}) {
        auto begin = Clock::now();
        EXPECT_EQ(failureOf([&] { openSession(*home, 30).request("initialize"); }),
                  home == &serving ? "no failure" : "error.server_exit");
        EXPECT_LT(secondsSince(begin), 5.0);
        const pid_t holder = std::stoi(home->read("holder.pid"));
        EXPECT_TRUE(test::eventually([&] { return !test::processAlive(holder); }))
            << "the grandchild outlived the session";
    }
}

TEST(RPCSessionTest, TheChildEndsWithTheThreadThatStartedIt) {
    FakeCodexHome home("hang\n");
    std::unique_ptr<RPCSession> orphan;
    std::thread([&] {
        orphan = std::make_unique<RPCSession>(home.executable(), home.str(), 30);
    }).join();
    // The kernel kills it; it waits unreaped for its session to be closed.
    siginfo_t ended{};
    EXPECT_TRUE(test::eventually([&] {
        return ::waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid != 0;
    }));
    EXPECT_EQ(ended.si_code, CLD_KILLED);
    EXPECT_EQ(ended.si_status, SIGKILL);
    orphan.reset();
    EXPECT_FALSE(test::hasChildren());
}

TEST(RPCSessionTest, LaunchFailurePassesTheSystemErrorThrough) {
    test::TempDir dir;
    const auto notExecutable = dir.write("codex", "#!/bin/sh\n");
    const int descriptors = test::openDescriptorCount();
    EXPECT_EQ(test::errnoOf([&] { RPCSession(dir.str() + "/missing", dir.str(), 5); }), ENOENT);
    EXPECT_EQ(test::errnoOf([&] { RPCSession(notExecutable, dir.str(), 5); }), EACCES);
    EXPECT_EQ(test::openDescriptorCount(), descriptors);
    EXPECT_FALSE(test::hasChildren());
}

}  // namespace
}  // namespace quotalume
