#include "http_receiver.hpp"
#include "test_support.hpp"
#include "webhook_fixtures.hpp"

#include <quotalume/quotalume_error.hpp>
#include <quotalume/webhook_delivery_error.hpp>
#include <quotalume/webhook_sender.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace quotalume {
namespace {

using testing::HTTPReceiver;
using testing::ReceiverAnswer;

constexpr const char* testMessage =
    "Test message from Quotalume: your webhook is set up correctly.";

struct Failure {
    std::string key;
    std::vector<std::string> arguments;
    bool retryable;
};

// 2026-03-01T08:15:07.4Z: the delivery time every signature in these tests uses.
Date deliveryTime() {
    return testing::sampleTime() + std::chrono::milliseconds(7400);
}

class WebhookSenderTest : public ::testing::Test {
protected:
    WebhookConfiguration configuration(WebhookFormat format, std::string token = "",
                                       std::string secret = "") const {
        return {receiver.url(), format, std::move(token), std::move(secret)};
    }

    // nullopt when delivered.
    std::optional<Failure> deliver(const WebhookConfiguration& configuration) const {
        WebhookSender sender(std::make_shared<CurlWebhookTransport>(), deliveryTime);
        try {
            sender.send(testing::sampleEvent(), configuration, true);
        } catch (const WebhookDeliveryError& error) {
            return Failure{error.message().key, error.message().arguments, error.retryable()};
        }
        return std::nullopt;
    }

    testing::InterfaceLanguage english;
    HTTPReceiver receiver;
};

TEST_F(WebhookSenderTest, EveryFormatArrivesByteForByte) {
    const std::string m = testMessage;
    const struct {
        WebhookFormat format;
        const char* secret;
        std::string body;
    } cases[] = {
        {WebhookFormat::json, "",
         R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.webhook.test",)"
         R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E","message":")" +
             m +
             R"(",)"
             R"("next_reset_at":"2026-03-01T13:15:00Z","observed_at":"2026-03-01T08:15:00Z",)"
             R"("previous_reset_at":"2026-03-01T08:15:00Z","previous_used_percent":85,)"
             R"("reason":"restored_to_full","remaining_percent":100,"schema_version":1,)"
             R"("window":"five_hour","window_duration_mins":300})"},
        {WebhookFormat::slack, "", R"({"text":")" + m + R"("})"},
        {WebhookFormat::discord, "",
         R"({"allowed_mentions":{"parse":[]},"content":")" + m + R"("})"},
        // sign = Base64(HMAC-SHA256(key "1772352907\ns3cr3t/+", empty message)), "/" escaped.
        {WebhookFormat::feishu, "s3cr3t/+",
         R"({"content":{"text":")" + m +
             R"("},"msg_type":"text",)"
             R"("sign":"oQgEdr\/HpJFg5qne6ukXXykjxCDZRWmqYXMLo5+8YhU=","timestamp":"1772352907"})"},
        {WebhookFormat::wecom, "", R"({"msgtype":"text","text":{"content":")" + m + R"("}})"},
    };
    receiver.answer(ReceiverAnswer::withStatus(200, R"({"code":0})"));
    for (const auto& c : cases) {
        SCOPED_TRACE(rawValue(c.format));
        EXPECT_EQ(deliver(configuration(c.format, "", c.secret)).has_value(), false);
    }
    auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(rawValue(cases[i].format));
        EXPECT_EQ(requests[i].method, "POST");
        EXPECT_EQ(requests[i].target, "/hook");
        EXPECT_EQ(requests[i].body, cases[i].body);
    }
}

TEST_F(WebhookSenderTest, SignedJSONRequestCarriesItsHeadersInOrderAndAVerifiableSignature) {
    ASSERT_FALSE(deliver(configuration(WebhookFormat::json, "tok en", "s3cret")));
    auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];

    const std::vector<std::string> ours = {"Content-Type",         "User-Agent",
                                           "Idempotency-Key",      "X-Quotalume-Event-ID",
                                           "Authorization",        "X-Quotalume-Timestamp",
                                           "X-Quotalume-Signature"};
    std::vector<std::string> sent;
    for (const auto& name : request.headerNames()) {
        if (std::find(ours.begin(), ours.end(), name) != ours.end()) {
            sent.push_back(name);
        }
    }
    EXPECT_EQ(sent, ours);
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.header("User-Agent"), "Quotalume/1.0.0");
    EXPECT_EQ(request.header("Idempotency-Key"), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(request.header("X-Quotalume-Event-ID"), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(request.header("Authorization"), "Bearer tok en");
    EXPECT_EQ(request.header("Expect"), std::nullopt);
    EXPECT_EQ(request.header("Cookie"), std::nullopt);
    EXPECT_EQ(request.header("X-Quotalume-Timestamp"), "1772352907");
    EXPECT_EQ(request.header("X-Quotalume-Signature"),
              "sha256=" + testing::hmacSHA256Hex("s3cret", "1772352907." + request.body));
}

TEST_F(WebhookSenderTest, CredentialHeadersOnlyWhereTheyBelong) {
    receiver.answer(ReceiverAnswer::withStatus(200, R"({"errcode":0})"));
    const struct {
        WebhookFormat format;
        const char* token;
        const char* secret;
        bool authorization;
        bool signature;
    } cases[] = {
        {WebhookFormat::json, "", "", false, false},
        {WebhookFormat::json, "", "secret", false, true},
        {WebhookFormat::json, "token", "", true, false},
        {WebhookFormat::slack, "token", "secret", true, false},
        {WebhookFormat::discord, "token", "secret", true, false},
        {WebhookFormat::feishu, "token", "secret", true, false},
        {WebhookFormat::wecom, "token", "secret", true, false},
        {WebhookFormat::wecom, "", "", false, false},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(deliver(configuration(c.format, c.token, c.secret))) << rawValue(c.format);
    }
    auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(std::string(rawValue(c.format)) + " token=" + c.token + " secret=" + c.secret);
        EXPECT_EQ(requests[i].header("Authorization").has_value(), c.authorization);
        EXPECT_EQ(requests[i].header("X-Quotalume-Timestamp").has_value(), c.signature);
        EXPECT_EQ(requests[i].header("X-Quotalume-Signature").has_value(), c.signature);
    }
}

TEST_F(WebhookSenderTest, EmptyAnswerIsEnoughOnlyForFormatsWithoutABotVerdict) {
    receiver.answer(ReceiverAnswer::withStatus(204));
    for (WebhookFormat format :
         {WebhookFormat::json, WebhookFormat::slack, WebhookFormat::discord}) {
        EXPECT_FALSE(deliver(configuration(format))) << rawValue(format);
    }
    for (WebhookFormat format : {WebhookFormat::feishu, WebhookFormat::wecom}) {
        auto failure = deliver(configuration(format));
        ASSERT_TRUE(failure) << rawValue(format);
        EXPECT_EQ(failure->key, "error.bot_response");
        EXPECT_FALSE(failure->retryable);
    }
}

TEST_F(WebhookSenderTest, BotResultCodes) {
    const struct {
        WebhookFormat format;
        const char* body;
        const char* key;  // nullptr: delivered
        const char* code;
    } cases[] = {
        {WebhookFormat::feishu, R"({"code":0,"msg":"success"})", nullptr, nullptr},
        {WebhookFormat::feishu, R"({"code":19021,"msg":"sign match fail"})", "error.bot_rejected",
         "19021"},
        {WebhookFormat::wecom, R"({"errcode":0,"errmsg":"ok"})", nullptr, nullptr},
        {WebhookFormat::wecom, R"({"errcode":93000})", "error.bot_rejected", "93000"},
        {WebhookFormat::wecom, R"({"code":"bad","errcode":0})", nullptr, nullptr},
        {WebhookFormat::feishu, R"({"StatusCode":0,"StatusMessage":"success"})", nullptr, nullptr},
        {WebhookFormat::feishu, R"({"code":1.5,"errcode":-1})", "error.bot_rejected", "-1"},
        {WebhookFormat::feishu, R"({"code":0.0})", nullptr, nullptr},
        {WebhookFormat::feishu, R"({"code":null,"errcode":"0","StatusCode":true})",
         "error.bot_response", nullptr},
        {WebhookFormat::feishu, R"({"msg":"ok"})", "error.bot_response", nullptr},
        {WebhookFormat::wecom, R"([{"errcode":0}])", "error.bot_response", nullptr},
        {WebhookFormat::wecom, R"({"errcode":0)", "error.bot_response", nullptr},
        {WebhookFormat::feishu, "ok", "error.bot_response", nullptr},
        // Formats without a verdict never read the body.
        {WebhookFormat::json, "not json", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        receiver.answer(ReceiverAnswer::withStatus(200, c.body));
        auto failure = deliver(configuration(c.format));
        if (c.key == nullptr) {
            EXPECT_FALSE(failure) << failure->key;
            continue;
        }
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->key, c.key);
        EXPECT_EQ(failure->arguments,
                  c.code ? std::vector<std::string>{c.code} : std::vector<std::string>{});
        EXPECT_FALSE(failure->retryable);
    }
}

TEST_F(WebhookSenderTest, StatusClassesDecideRetrying) {
    const struct {
        int status;
        bool retryable;
    } cases[] = {{429, true},  {500, true},  {503, true},  {400, false}, {401, false},
                 {404, false}, {410, false}, {302, false}, {308, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        ReceiverAnswer answer = ReceiverAnswer::withStatus(c.status, "{\"code\":0}");
        answer.headers = {{"Location", receiver.url("/elsewhere")}, {"Set-Cookie", "a=b"}};
        receiver.answer(answer);
        auto failure = deliver(configuration(WebhookFormat::feishu, "the-token"));
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->key, "error.webhook_http");
        EXPECT_EQ(failure->arguments, std::vector<std::string>{std::to_string(c.status)});
        EXPECT_EQ(failure->retryable, c.retryable);
    }
    // No redirect was followed and no cookie came back.
    for (const auto& request : receiver.requests()) {
        EXPECT_EQ(request.target, "/hook");
        EXPECT_EQ(request.header("Cookie"), std::nullopt);
    }
    EXPECT_EQ(receiver.requests().size(), 9u);
}

TEST_F(WebhookSenderTest, CredentialsForThisMachineNeverGoThroughAProxy) {
    HTTPReceiver proxy;
    testing::ScopedEnvironment http("http_proxy", proxy.url());
    testing::ScopedEnvironment all("ALL_PROXY", proxy.url());
    EXPECT_FALSE(deliver(configuration(WebhookFormat::json, "the-token", "the-secret")));
    EXPECT_EQ(receiver.requests().size(), 1u);
    EXPECT_TRUE(proxy.requests().empty());
}

TEST_F(WebhookSenderTest, UnreachableReceiversAreRetryableNetworkFailures) {
    receiver.answer(ReceiverAnswer::of(ReceiverAnswer::Kind::closeAtOnce));
    auto closed = deliver(configuration(WebhookFormat::json));

    WebhookConfiguration refused = configuration(WebhookFormat::json);
    refused.url = "http://127.0.0.1:" + std::to_string(HTTPReceiver::refusedPort()) + "/hook";
    auto refusal = deliver(refused);

    for (const auto& failure : {closed, refusal}) {
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->key, "error.webhook_network");
        EXPECT_TRUE(failure->arguments.empty());
        EXPECT_TRUE(failure->retryable);
    }
}

TEST_F(WebhookSenderTest, SilentReceiverTimesOutWithinTheBound) {
    receiver.answer(ReceiverAnswer::of(ReceiverAnswer::Kind::neverAnswer));
    auto start = std::chrono::steady_clock::now();
    auto failure = deliver(configuration(WebhookFormat::json));
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->key, "error.webhook_network");
    EXPECT_TRUE(failure->retryable);
    EXPECT_LE(elapsed, std::chrono::seconds(17));
}

TEST_F(WebhookSenderTest, SlowButTimelyAndOversizedAnswersAreStillJudged) {
    ReceiverAnswer slow = ReceiverAnswer::withStatus(200, R"({"errcode":0})");
    slow.delay = std::chrono::milliseconds(1200);
    receiver.answer(slow);
    EXPECT_FALSE(deliver(configuration(WebhookFormat::wecom)));

    // Two megabytes: cut at the limit, which a bot verdict can never need.
    receiver.answer(ReceiverAnswer::withStatus(
        200, R"({"errcode":0,"padding":")" + std::string(2 << 20, 'x') + "\"}"));
    EXPECT_FALSE(deliver(configuration(WebhookFormat::slack)));
    auto failure = deliver(configuration(WebhookFormat::wecom));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->key, "error.bot_response");
}

TEST_F(WebhookSenderTest, InvalidAddressFailsBeforeTheNetwork) {
    WebhookConfiguration withFragment = configuration(WebhookFormat::json);
    withFragment.url = receiver.url("/hook#");
    WebhookSender sender(std::make_shared<CurlWebhookTransport>(), deliveryTime);
    EXPECT_EQ(
        testing::webhookErrorKey([&] { sender.send(testing::sampleEvent(), withFragment, true); }),
        "error.url");
    EXPECT_TRUE(receiver.requests().empty());
}

// A transport that answers as told, to reach what a real HTTP stack never produces.
class ScriptedTransport : public WebhookTransport {
public:
    explicit ScriptedTransport(std::function<WebhookResponse(const WebhookRequest&)> script)
        : script_(std::move(script)) {}
    WebhookResponse perform(const WebhookRequest& request) override { return script_(request); }

private:
    std::function<WebhookResponse(const WebhookRequest&)> script_;
};

TEST_F(WebhookSenderTest, TransportFailuresNeverCarryTheirOwnDescription) {
    const auto config = configuration(WebhookFormat::json, "the-token");
    auto outcome = [&](std::function<WebhookResponse(const WebhookRequest&)> script) {
        WebhookSender sender(std::make_shared<ScriptedTransport>(std::move(script)), deliveryTime);
        try {
            sender.send(testing::sampleEvent(), config, false);
        } catch (const WebhookDeliveryError& error) {
            return Failure{error.message().key, error.message().arguments, error.retryable()};
        }
        return Failure{"delivered", {}, false};
    };

    auto notHTTP = outcome([](const WebhookRequest&) { return WebhookResponse{}; });
    EXPECT_EQ(notHTTP.key, "error.webhook_response");
    EXPECT_TRUE(notHTTP.retryable);

    auto thrown = outcome([](const WebhookRequest& request) -> WebhookResponse {
        throw std::runtime_error("failed for " + *request.header("Authorization"));
    });
    EXPECT_EQ(thrown.key, "error.webhook_network");
    EXPECT_TRUE(thrown.arguments.empty());
    EXPECT_TRUE(thrown.retryable);
}

}  // namespace
}  // namespace quotalume
