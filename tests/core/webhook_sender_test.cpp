#include "http_receiver.hpp"
#include "test_support.hpp"
#include "tls_server.hpp"
#include "webhook/curl_global.hpp"

#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/version.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>
#include <quotalume/webhook/webhook_payload.hpp>
#include <quotalume/webhook/webhook_request_builder.hpp>
#include <quotalume/webhook/webhook_sender.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace quotalume {
namespace {

using test::HTTPReceiver;
using test::ReceiverAnswer;
using enum WebhookFormat;

// Transports that fail as a real HTTP stack never does.
struct NotHTTP : WebhookTransport {
    WebhookResponse perform(const WebhookRequest&) override { return {}; }
};
struct ThrowingWithTheToken : WebhookTransport {
    WebhookResponse perform(const WebhookRequest& request) override {
        throw std::runtime_error("failed for " + *request.header("Authorization"));
    }
};

class WebhookSenderTest : public ::testing::Test {
protected:
    WebhookConfiguration configuration(WebhookFormat format, std::string token = "",
                                       std::string secret = "") const {
        return {receiver.url(), format, std::move(token), std::move(secret)};
    }

    // "delivered", the failure and whether it is retried, or the key of an error before sending.
    static std::string deliver(
        const WebhookConfiguration& configuration,
        std::shared_ptr<WebhookTransport> transport = std::make_shared<CurlWebhookTransport>()) {
        try {
            WebhookSender sender(std::move(transport), test::sampleDeliveryTime);
            sender.send(test::sampleEvent(), configuration, true);
        } catch (const WebhookDeliveryError& error) {
            return ::testing::PrintToString(error.message()) +
                   (error.retryable() ? " retryable" : " final");
        } catch (const QuotalumeError& error) {
            return error.userMessage().key;
        }
        return "delivered";
    }

    test::InterfaceLanguage english;
    HTTPReceiver receiver{ReceiverAnswer::withStatus(200, R"({"code":0})")};
};

// The body is the payload's for the moment of sending; credentials travel only where they belong,
// never through a proxy to this machine.
TEST_F(WebhookSenderTest, EveryFormatSendsItsBodyWithCredentialHeadersOnlyWhereTheyBelong) {
    HTTPReceiver proxy;
    test::ScopedEnvironment http("http_proxy", proxy.url());
    test::ScopedEnvironment all("ALL_PROXY", proxy.url());
    const std::tuple<WebhookFormat, const char*, const char*> cases[] = {
        {json, "token", ""},          {json, "", "secret"},          {slack, "token", "secret"},
        {discord, "token", "secret"}, {feishu, "token", "s3cr3t/+"}, {wecom, "", "secret"},
    };
    for (const auto& [format, token, secret] : cases) {
        SCOPED_TRACE(std::string(rawValue(format)) + " token=" + token + " secret=" + secret);
        const WebhookConfiguration sent = configuration(format, token, secret);
        ASSERT_EQ(deliver(sent), "delivered");
        const auto request = receiver.requests().back();
        EXPECT_EQ(request.method + " " + request.target, "POST /hook");
        EXPECT_EQ(request.body, webhookBody(WebhookPayload(test::sampleEvent(), true), sent,
                                            test::sampleDeliveryTime()));
        EXPECT_EQ(request.header("Authorization").has_value(), *token != '\0');
        const bool signedJSON = format == json && *secret != '\0';
        EXPECT_EQ(request.header("X-Quotalume-Timestamp").has_value(), signedJSON);
        EXPECT_EQ(request.header("X-Quotalume-Signature").has_value(), signedJSON);
    }
    EXPECT_EQ(receiver.requests().size(), std::size(cases));
    EXPECT_TRUE(proxy.requests().empty());
}

TEST_F(WebhookSenderTest, SignedJSONRequestCarriesItsHeadersInOrderAndAVerifiableSignature) {
    ASSERT_EQ(deliver(configuration(json, "tok en", "s3cret")), "delivered");
    const auto request = receiver.requests().at(0);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Content-Type", "application/json; charset=utf-8"},
        {"User-Agent", std::string("Quotalume/") + quotalumeVersion},
        {"Idempotency-Key", "0F8FAD5B-D9CB-469F-A165-70867728950E"},
        {"X-Quotalume-Event-ID", "0F8FAD5B-D9CB-469F-A165-70867728950E"},
        {"Authorization", "Bearer tok en"},
        {"X-Quotalume-Timestamp", "1772352907"},
        {"X-Quotalume-Signature",
         "sha256=" + test::hmacSHA256Hex("s3cret", "1772352907." + request.body)},
    };
    // Everything but what libcurl adds itself: no Expect, no Cookie, nothing unasked for.
    auto sent = request.headers;
    for (const char* added : {"Host", "Accept", "Content-Length"}) {
        std::erase_if(sent, [&](const auto& header) { return header.first == added; });
    }
    EXPECT_EQ(sent, expected);

    // A line break in a value would inject a header of its own: the builder refuses it.
    ResetEvent forged = test::sampleEvent();
    forged.id = "A\r\nX-Injected: 1";
    EXPECT_EQ(test::errnoOf([&] {
                  WebhookRequestBuilder::build(forged, configuration(json), false,
                                               test::sampleTime());
              }),
              EINVAL);
}

TEST_F(WebhookSenderTest, TheAnswerDecidesDeliveryAndRetrying) {
    const std::string deepAnswer =
        "{\"errcode\":0,\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::string hugeAnswer =
        R"({"errcode":0,"padding":")" + std::string(2 << 20, 'x') + "\"}";
    const std::tuple<WebhookFormat, int, const char*, const char*> cases[] = {
        // Only bots put a verdict in the body.
        {json, 204, "", "delivered"},
        {slack, 204, "", "delivered"},
        {feishu, 204, "", "error.bot_response final"},
        // The first integral result code among code, errcode and StatusCode decides.
        {feishu, 200, R"({"code":0,"msg":"success"})", "delivered"},
        {feishu, 200, R"({"code":19021,"msg":"sign fail"})", "error.bot_rejected 19021 final"},
        {wecom, 200, R"({"code":"bad","errcode":0})", "delivered"},
        {feishu, 200, R"({"StatusCode":0,"StatusMessage":"success"})", "delivered"},
        {feishu, 200, R"({"code":1.5,"errcode":-1})", "error.bot_rejected -1 final"},
        {feishu, 200, R"({"code":0.0})", "delivered"},
        {feishu, 200, R"({"code":null,"errcode":"0","StatusCode":true})",
         "error.bot_response final"},
        {wecom, 200, R"({"errcode":0)", "error.bot_response final"},
        {wecom, 200, deepAnswer.c_str(), "error.bot_response final"},
        // Two megabytes: cut at the limit, which a bot verdict can never need.
        {slack, 200, hugeAnswer.c_str(), "delivered"},
        {wecom, 200, hugeAnswer.c_str(), "error.bot_response final"},
        // A status outside 2xx decides before any verdict; a redirect is not followed.
        {feishu, 429, R"({"code":0})", "error.webhook_http 429 retryable"},
        {feishu, 400, R"({"code":0})", "error.webhook_http 400 final"},
        {feishu, 302, R"({"code":0})", "error.webhook_http 302 final"},
    };
    for (const auto& [format, status, body, outcome] : cases) {
        ReceiverAnswer answer = ReceiverAnswer::withStatus(status, body);
        answer.headers = {{"Location", receiver.url("/elsewhere")}, {"Set-Cookie", "a=b"}};
        receiver.answer(answer);
        EXPECT_EQ(deliver(configuration(format)), outcome)
            << status << " " << std::string_view(body).substr(0, 60);
    }
    auto requests = receiver.requests();
    EXPECT_EQ(requests.size(), std::size(cases));
    for (const auto& request : requests) {
        EXPECT_EQ(request.target, "/hook");
        EXPECT_EQ(request.header("Cookie"), std::nullopt);
    }
    // Slow but in time: still judged.
    receiver.answer({.body = R"({"errcode":0})", .delay = std::chrono::milliseconds(1200)});
    EXPECT_EQ(deliver(configuration(wecom)), "delivered");
}

TEST_F(WebhookSenderTest, UnreachableOrSilentReceiversAreRetryableNetworkFailuresInTime) {
    WebhookConfiguration refused = configuration(json);
    refused.url = "http://127.0.0.1:" + std::to_string(HTTPReceiver::refusedPort()) + "/hook";
    EXPECT_EQ(deliver(refused), "error.webhook_network retryable");
    receiver.answer(ReceiverAnswer::of(ReceiverAnswer::Kind::closeAtOnce));
    EXPECT_EQ(deliver(configuration(json)), "error.webhook_network retryable");

    // Named for what it is, and still retried: the certificate may be renewed meanwhile.
    test::UntrustedTLSServer untrusted;
    WebhookConfiguration selfSigned = configuration(json);
    selfSigned.url = untrusted.url();
    EXPECT_EQ(deliver(selfSigned), "error.webhook_tls retryable");

    receiver.answer(ReceiverAnswer::of(ReceiverAnswer::Kind::neverAnswer));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(deliver(configuration(json)), "error.webhook_network retryable");
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(17));
}

TEST_F(WebhookSenderTest, TransportFailuresNeverCarryTheirOwnDescription) {
    auto withToken = configuration(json, "the-token");
    EXPECT_EQ(deliver(withToken, std::make_shared<NotHTTP>()), "error.webhook_response retryable");
    EXPECT_EQ(deliver(withToken, std::make_shared<ThrowingWithTheToken>()),
              "error.webhook_network retryable");
    // An address that fails validation never reaches the transport.
    withToken.url += "#";
    EXPECT_EQ(deliver(withToken, std::make_shared<ThrowingWithTheToken>()), "error.url");
}

// libcurl is loaded only when a webhook is first used; a system without it says so.
TEST(LibcurlTest, LoadedByItsSonameOrTheReasonIsGiven) {
    EXPECT_NE(loadLibcurl("libcurl.so.4").easy_perform, nullptr);
    EXPECT_THAT([] { (void)loadLibcurl("libquotalume-absent.so.0"); },
                ::testing::ThrowsMessage<std::runtime_error>(
                    ::testing::HasSubstr("libquotalume-absent.so.0")));
}

}  // namespace
}  // namespace quotalume
