#include "test_support.hpp"

#include <quotalume/webhook/webhook_payload.hpp>

#include <gtest/gtest.h>

#include <limits>

namespace quotalume {
namespace {

using enum WebhookFormat;

TEST(WebhookPayloadTest, AResetLeavesOutTheDatesItLacksAndNamesAnotherBucket) {
    test::InterfaceLanguage english;
    ResetEvent event = test::sampleEvent();
    event.window = QuotaWindow::weekly;
    event.reason = ResetReason::newWindow;
    event.previousResetAt.reset();
    event.nextResetAt.reset();
    EXPECT_EQ(WebhookPayload(event, false).encoded(),
              R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.limit.reset",)"
              R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
              R"("message":"Codex limit reset\nYour Codex limit has reset. )"
              R"(The full quota is available again.\nWeekly limit",)"
              R"("observed_at":"2026-03-01T08:15:00Z","previous_used_percent":85,)"
              R"("reason":"new_window","remaining_percent":100,"schema_version":1,)"
              R"("window":"weekly","window_duration_mins":10080})");

    // Another bucket's reset names the bucket in its message; the Codex bucket's above does not.
    event = test::sampleEvent();
    event.bucketId = "codex_bengalfox";
    event.bucketName = "GPT-5.3-Codex-Spark";
    const std::string encoded = WebhookPayload(event, false).encoded();
    EXPECT_NE(encoded.find(R"("bucket_id":"codex_bengalfox","bucket_name":"GPT-5.3-Codex-Spark",)"),
              std::string::npos)
        << encoded;
    EXPECT_NE(encoded.find(R"(available again.\nGPT-5.3-Codex-Spark: 5-hour limit",)"),
              std::string::npos)
        << encoded;
}

// Only `json` leaves "/" unescaped; only Feishu adds to a bot's message: with a secret, its sign.
TEST(WebhookPayloadTest, EveryFormatsBytesWithItsEscapesAndFeishusSignature) {
    WebhookPayload payload(test::sampleEvent(), true);
    payload.message = "https://status.example/a \"quoted\" back\\slash tab\t bell\x07 é 中";
    const std::string rest = R"( \"quoted\" back\\slash tab\t bell\u0007 é 中")";
    const std::string m = R"("https:\/\/status.example\/a)" + rest;
    const std::tuple<WebhookFormat, const char*, std::string> cases[] = {
        {json, "s3cr3t/+",
         R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.webhook.test",)"
         R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
         R"("message":"https://status.example/a)" +
             rest +
             R"(,"next_reset_at":"2026-03-01T13:15:00Z","observed_at":"2026-03-01T08:15:00Z",)"
             R"("previous_reset_at":"2026-03-01T08:15:00Z","previous_used_percent":85,)"
             R"("reason":"restored_to_full","remaining_percent":100,"schema_version":1,)"
             R"("window":"five_hour","window_duration_mins":300})"},
        {slack, "s3cr3t/+", R"({"text":)" + m + "}"},
        {discord, "s3cr3t/+", R"({"allowed_mentions":{"parse":[]},"content":)" + m + "}"},
        {feishu, "", R"({"content":{"text":)" + m + R"(},"msg_type":"text"})"},
        // sign = Base64(HMAC-SHA256(key "1772352907\ns3cr3t/+", empty message)), "/" escaped.
        {feishu, "s3cr3t/+",
         R"({"content":{"text":)" + m +
             R"(},"msg_type":"text","sign":"oQgEdr\/HpJFg5qne6ukXXykjxCDZRWmqYXMLo5+8YhU=",)"
             R"("timestamp":"1772352907"})"},
        {wecom, "s3cr3t/+", R"({"msgtype":"text","text":{"content":)" + m + "}}"},
    };
    for (const auto& [format, secret, body] : cases) {
        SCOPED_TRACE(std::string(rawValue(format)) + " secret=" + secret);
        EXPECT_EQ(webhookBody(payload, {"https://x.example/hook", format, "token", secret},
                              test::sampleDeliveryTime()),
                  body);
    }
}

TEST(WebhookPayloadTest, NumbersTakeTheShortestExactFormAndUnwritableValuesFail) {
    WebhookPayload payload(test::sampleEvent(), true);
    // Unwritable values fail rather than turn into broken JSON.
    payload.remainingPercent = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(test::errnoOf([&] { payload.encoded(); }), EDOM);
    const std::pair<double, std::string> numbers[] = {
        {85, "85"},         {97.5, "97.5"}, {100.0 / 3, "33.333333333333336"},
        {0.0001, "0.0001"}, {-0.5, "-0.5"}, {1e-7, "1e-07"},
        {2e21, "2e+21"}};
    for (const auto& [value, text] : numbers) {
        payload.remainingPercent = value;
        EXPECT_NE(payload.encoded().find("\"remaining_percent\":" + text + ","), std::string::npos)
            << text;
    }
    payload.message = "cut \xE4\xB8";
    for (WebhookFormat format : allWebhookFormats) {
        WebhookConfiguration signing{"https://x.example/hook", format, "", "secret"};
        auto write = [&] { webhookBody(payload, signing, test::sampleTime()); };
        EXPECT_EQ(test::errnoOf(write), EILSEQ) << rawValue(format);
    }
}

}  // namespace
}  // namespace quotalume
