#include "test_support.hpp"

#include <quotalume/quotalume_error.hpp>
#include <quotalume/rpc_session.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quotalume {
namespace {

using nlohmann::json;
using test::failureOf;
using test::FakeCodexHome;
using Case = QuotalumeError::Case;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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
    { RPCSession session(home.executable(), home.str(), 10); }
    ::close(stray);
    auto info = home.launchInfo();
    EXPECT_EQ(info["argv"], json({home.executable(), "app-server", "--listen", "stdio://"}));
    EXPECT_EQ(info["descriptors"], json({0, 1, 2}));
    EXPECT_EQ(info["stderr"], "/dev/null");
    EXPECT_EQ(info["cwd"], home.str());

    const json& environment = info["environment"];
    auto entries = [&](const std::string& prefix) {
        std::vector<std::string> found;
        std::copy_if(
            environment.begin(), environment.end(), std::back_inserter(found),
            [&](const json& entry) { return entry.get<std::string>().starts_with(prefix); });
        return found;
    };
    std::string directory = std::filesystem::path(home.executable()).parent_path().string();
    EXPECT_EQ(entries("PATH="),
              std::vector<std::string>{"PATH=" + directory + ":/usr/bin:/bin:/usr/sbin:/sbin"});
    EXPECT_EQ(entries("CODEX_HOME="), std::vector<std::string>{"CODEX_HOME=" + home.str()});
    EXPECT_EQ(entries("RUST_LOG="), std::vector<std::string>{"RUST_LOG=error"});

    test::ScopedEnvironment path("PATH", "/opt/tools:/usr/bin");
    RPCSession(home.executable(), home.str(), 10).close();
    const json inherited = home.launchInfo()["environment"];
    EXPECT_NE(std::find(inherited.begin(), inherited.end(),
                        json("PATH=" + directory + ":/opt/tools:/usr/bin")),
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
    RPCSession session(home.executable(), home.str(), 10);
    EXPECT_EQ(session.request("initialize")["n"], 1);
    EXPECT_EQ(session.request("initialize")["n"], 2);
    // Answer 3 is already buffered: the fake sends nothing more, so a pipe read would wait.
    auto start = Clock::now();
    EXPECT_EQ(session.request("initialize")["n"], 3);
    EXPECT_LT(secondsSince(start), 5.0)
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
    {
        RPCSession session(home.executable(), home.str(), 10);
        EXPECT_EQ(session.request("initialize"), json({{"ok", true}}));
    }
    auto messages = home.receivedMessages();
    ASSERT_EQ(messages.size(), 4u);
    const json ids[] = {"srv-1", 7, nullptr};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            messages[i + 1],
            json({{"id", ids[i]},
                  {"error",
                   {{"code", -32601}, {"message", "This client only reads usage limits."}}}}));
    }
}

struct AnswerCase {
    const char* answer;
    std::optional<Case> failure;
    std::int64_t code = 0;
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.answer;
}

class RPCSessionAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(RPCSessionAnswerTest, ClassifiesTheAnswer) {
    const auto& c = GetParam();
    FakeCodexHome home(std::string("read\nsend ") + c.answer + "\n");
    RPCSession session(home.executable(), home.str(), 10);
    try {
        json result = session.request("account/rateLimits/read");
        EXPECT_FALSE(c.failure) << c.answer << " gave " << result.dump();
    } catch (const QuotalumeError& error) {
        ASSERT_TRUE(c.failure) << c.answer << " failed with " << error.what();
        EXPECT_EQ(error.errorCase(), *c.failure) << c.answer;
        if (error.errorCase() == Case::rpc) {
            EXPECT_EQ(error, QuotalumeError::rpc("account/rateLimits/read", c.code)) << c.answer;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RPCSessionAnswerTest,
    ::testing::Values(
        AnswerCase{R"({"id":1,"result":{}})", std::nullopt},
        AnswerCase{R"({"id":1.0,"result":{}})", std::nullopt},
        AnswerCase{R"({"id":1,"error":{"code":-32603,"message":"boom"}})", Case::rpc, -32603},
        AnswerCase{R"({"id":1,"error":{"message":"no code"}})", Case::rpc, -1},
        AnswerCase{R"({"id":1,"error":{"code":"12"}})", Case::rpc, -1},
        AnswerCase{R"({"id":1,"error":{"code":2.5}})", Case::rpc, -1},
        AnswerCase{R"({"id":1,"error":{"code":3.0}})", Case::rpc, 3},
        AnswerCase{R"({"id":1,"error":"not an object","result":{"x":1}})", std::nullopt},
        AnswerCase{R"({"id":1,"error":{},"result":{"x":1}})", Case::rpc, -1},
        AnswerCase{R"({"id":1,"result":null})", Case::invalidResponse},
        AnswerCase{R"({"id":1,"result":[1]})", Case::invalidResponse},
        AnswerCase{R"({"id":1})", Case::invalidResponse},
        // Our answer, broken by bytes that are not UTF-8, has still arrived.
        AnswerCase{"{\"id\":1,\"result\":{\"x\":\"\xff\"}}", Case::invalidResponse},
        AnswerCase{"{\"id\":7,\"result\":\"\xc3\"}\\n{\"id\":1,\"result\":{}}", std::nullopt}));

TEST(RPCSessionTest, ChildThatExitsEarlyIsServerExitedNotTimeout) {
    FakeCodexHome home("read\nexit 1\n");
    RPCSession session(home.executable(), home.str(), 30);
    auto start = Clock::now();
    EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.server_exit");
    EXPECT_LT(secondsSince(start), 5.0);
    // Writing to a child that has gone is serverExited too.
    EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.server_exit");
}

TEST(RPCSessionTest, ChildThatClosedItsInputGivesEpipeWithoutKillingUs) {
    FakeCodexHome home("close-input\nsleep 5000\n");
    RPCSession session(home.executable(), home.str(), 10);
    // Writes succeed until the child has closed its end; then they fail with EPIPE.
    std::optional<std::system_error> failure;
    EXPECT_TRUE(test::eventually([&] {
        try {
            session.send({{"method", "initialized"}});
            return false;
        } catch (const std::system_error& error) {
            failure = error;
            return true;
        }
    }));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code().value(), EPIPE);
    EXPECT_EQ(LocalizedMessage::from(*failure), LocalizedMessage("error.system", {"32"}));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(RPCSessionTest, SilentChildTimesOutAtTheDeadline) {
    FakeCodexHome home("sleep 5000\n");
    auto start = Clock::now();
    RPCSession session(home.executable(), home.str(), 1.5);
    EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.timeout");
    double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LT(elapsed, 1.5 + 0.9) << "the last poll slice should be cut to the time left";
}

TEST(RPCSessionTest, TimeoutsBelowOneSecondStillGiveOneSecond) {
    for (double timeout : {-5.0, std::nan("")}) {
        FakeCodexHome home("sleep 5000\n");
        auto start = Clock::now();
        RPCSession session(home.executable(), home.str(), timeout);
        EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.timeout");
        EXPECT_GE(secondsSince(start), 1.0) << timeout;
        EXPECT_LT(secondsSince(start), 3.0) << timeout;
    }
    FakeCodexHome slow("read\nsleep 600\nsend {\"id\":1,\"result\":{}}\n");
    RPCSession session(slow.executable(), slow.str(), 0);
    EXPECT_EQ(session.request("initialize"), json::object());
}

TEST(RPCSessionTest, PolicyRefusalsWriteNothing) {
    FakeCodexHome home("read\n");
    {
        RPCSession session(home.executable(), home.str(), 10);
        EXPECT_EQ(failureOf([&] {
                      session.request("thread/list", {{"useStateDbOnly", false}});
                  }),
                  "error.read_only");
        EXPECT_EQ(failureOf([&] {
                      session.send({{"method", "turn/start"}, {"params", json::object()}});
                  }),
                  "error.read_only");
        // A "params" that is not an object counts as absent.
        EXPECT_EQ(failureOf([&] {
                      session.send({{"method", "account/read"}, {"params", "x"}});
                  }),
                  "error.read_only");
        // Replies carry no "method" and are never checked.
        session.send({{"id", 5}, {"result", json::object()}});
    }
    EXPECT_EQ(home.receivedLines(), std::vector<std::string>{R"({"id":5,"result":{}})"});
}

TEST(RPCSessionTest, BoundsUnreadOutputAtFourMebibytes) {
    // A line of exactly 4 MiB with its line feed is still read...
    const std::string prefix = R"({"id":1,"result":{"p":")";
    const std::string suffix = R"("}})";
    std::string padding(RPCSession::maximumBufferedBytes - 1 - prefix.size() - suffix.size(), 'x');
    FakeCodexHome exact("read\nsend " + prefix + padding + suffix + "\n");
    {
        RPCSession session(exact.executable(), exact.str(), 20);
        EXPECT_EQ(session.request("initialize")["p"].get_ref<const std::string&>().size(),
                  padding.size());
    }
    // ...one byte more is not, with or without a line feed after it.
    FakeCodexHome over("read\nsend " + prefix + padding + "x" + suffix + "\n");
    RPCSession overSession(over.executable(), over.str(), 20);
    EXPECT_EQ(failureOf([&] { overSession.request("initialize"); }), "error.response");

    FakeCodexHome flood("read\nflood 4194305\n");
    RPCSession floodSession(flood.executable(), flood.str(), 20);
    EXPECT_EQ(failureOf([&] { floodSession.request("initialize"); }), "error.response");
}

TEST(RPCSessionTest, ChildThatNeverReadsCannotBlockUsPastTheDeadline) {
    // Thousands of server requests whose replies fill the child's unread input pipe.
    std::string script;
    for (int i = 0; i < 3000; ++i) {
        script += "send {\"id\":" + std::to_string(i + 100) + ",\"method\":\"ask\"}\n";
    }
    script += "sleep 5000\n";
    FakeCodexHome home(script);
    auto start = Clock::now();
    RPCSession session(home.executable(), home.str(), 1);
    EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.timeout");
    EXPECT_LT(secondsSince(start), 3.0);
}

TEST(RPCSessionTest, CloseIsIdempotentAndReapsTheChild) {
    FakeCodexHome home("serve\n");
    RPCSession session(home.executable(), home.str(), 10);
    session.request("initialize");
    auto start = Clock::now();
    session.close();
    EXPECT_LT(secondsSince(start), 0.5) << "a child that exits on end of input needs no signal";
    session.close();
    EXPECT_FALSE(test::hasChildren());
    EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.server_exit");
}

TEST(RPCSessionTest, CloseTerminatesThenKills) {
    FakeCodexHome polite("hang\n");
    auto start = Clock::now();
    RPCSession(polite.executable(), polite.str(), 10).close();
    EXPECT_GE(secondsSince(start), 0.5);
    EXPECT_LT(secondsSince(start), 1.0) << "SIGTERM should have ended it";

    FakeCodexHome stubborn("ignore-term\nhang\n");
    start = Clock::now();
    { RPCSession session(stubborn.executable(), stubborn.str(), 10); }  // closed by destruction
    EXPECT_GE(secondsSince(start), 1.0);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_FALSE(test::hasChildren());
}

TEST(RPCSessionTest, HostileNestingIsSkippedLikeAnyLineThatIsNotJSON) {
    // A server request whose id nests 60,000 arrays deep (refusing it would echo the id), and
    // a 4 MiB line of brackets; neither may crash us or be answered.
    const std::string deepID = std::string(60000, '[') + std::string(60000, ']');
    const std::string brackets(RPCSession::maximumBufferedBytes - 1, '[');
    // And a wide one: a million empty objects would cost the parser some hundred megabytes.
    std::string wide = "[";
    while (wide.size() < RPCSession::maximumBufferedBytes - 8) {
        wide += "{},";
    }
    wide += "{}]";
    FakeCodexHome home("read\nsend {\"id\":" + deepID + ",\"method\":\"ask\"}\nsend " + brackets +
                       "\nsend " + wide + "\nsend {\"id\":1,\"result\":{\"ok\":true}}\n");
    {
        RPCSession session(home.executable(), home.str(), 30);
        EXPECT_EQ(session.request("initialize"), json({{"ok", true}}));
    }
    EXPECT_EQ(home.receivedLines().size(), 1u) << "nothing but our request was written";
}

TEST(RPCSessionTest, TheChildsEndEndsTheSessionAndItsWholeGroup) {
    // A grandchild holds the pipe open: the child's exit, not end of file, ends the wait.
    FakeCodexHome exiting("holder\nread\nexit 1\n");
    FakeCodexHome serving("holder\nserve\n");
    // One that goes on writing once the child has gone.
    FakeCodexHome chattering("chatter\nread\nexit 1\n");
    for (FakeCodexHome* home : {&exiting, &serving, &chattering}) {
        auto start = Clock::now();
        {
            RPCSession session(home->executable(), home->str(), 30);
            if (home != &serving) {
                EXPECT_EQ(failureOf([&] { session.request("initialize"); }), "error.server_exit");
            } else {
                session.request("initialize");
            }
        }
        EXPECT_LT(secondsSince(start), 5.0);
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
    auto notExecutable = dir.write("codex", "#!/bin/sh\n");
    const std::pair<std::string, int> cases[] = {
        {(dir.path() / "missing").string(), ENOENT},
        {notExecutable.string(), EACCES},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(failureOf([&] { RPCSession(path, dir.str(), 5); }),
                  LocalizedMessage("error.system", {std::to_string(expected)}))
            << path;
    }
}

TEST(RPCSessionTest, LeavesNoZombieOrDescriptorAfterManySessions) {
    FakeCodexHome serving("serve\n");
    FakeCodexHome exiting("read\nexit 3\n");
    FakeCodexHome junk("read\nsend {\"id\":1,\"result\":[]}\n");
    const int descriptorsBefore = test::openDescriptorCount();
    const std::function<void()> sessions[] = {
        [&] {
            RPCSession session(serving.executable(), serving.str(), 10);
            session.request("initialize");
            session.send({{"method", "initialized"}});
            session.request("account/read", {{"refreshToken", false}});
        },
        [&] { RPCSession(exiting.executable(), exiting.str(), 10).request("initialize"); },
        [&] { RPCSession(junk.executable(), junk.str(), 10).request("initialize"); },
        [&] { RPCSession("/nonexistent/codex", serving.str(), 10); },
    };
    for (int i = 0; i < 300; ++i) {
        try {
            sessions[i % 4]();
        } catch (const std::exception&) {
        }
    }
    EXPECT_EQ(test::openDescriptorCount(), descriptorsBefore);
    EXPECT_FALSE(test::hasChildren());
}

}  // namespace
}  // namespace quotalume
