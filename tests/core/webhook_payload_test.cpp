#include "webhook_fixtures.hpp"

#include <quotalume/webhook_payload.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <system_error>

namespace quotalume {
namespace {

using testing::sampleEvent;
using testing::sampleTime;

WebhookConfiguration configurationFor(WebhookFormat format, std::string secret = "") {
    return {"https://example.com/hook", format, "", std::move(secret)};
}

class WebhookPayloadTest : public ::testing::Test {
protected:
    testing::InterfaceLanguage english;
};

TEST_F(WebhookPayloadTest, RealResetWithoutResetTimesLeavesTheDatesOut) {
    ResetEvent event = sampleEvent();
    event.window = QuotaWindow::weekly;
    event.reason = ResetReason::newWindow;
    event.previousUsedPercent = 40.25;
    event.remainingPercent = 97.5;
    event.previousResetAt.reset();
    event.nextResetAt.reset();
    EXPECT_EQ(
        WebhookPayload(event, false).encoded(),
        R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.limit.reset",)"
        R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
        R"("message":"Codex limit reset\nYour Codex limit has reset. The full quota is available again.\nWeekly limit",)"
        R"("observed_at":"2026-03-01T08:15:00Z","previous_used_percent":40.25,)"
        R"("reason":"new_window","remaining_percent":97.5,"schema_version":1,)"
        R"("window":"weekly","window_duration_mins":10080})");
}

TEST_F(WebhookPayloadTest, SlashesAreEscapedInEveryBodyButJSON) {
    WebhookPayload payload(sampleEvent(), true);
    payload.message = "https://status.example/a \"quoted\" back\\slash tab\t bell\x07 é 中";
    const std::string expected =
        R"(https://status.example/a \"quoted\" back\\slash tab\t bell\u0007 é 中)";
    std::string escaped;
    for (char c : expected) {
        escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    EXPECT_NE(payload.encoded().find("\"message\":\"" + expected + "\""), std::string::npos);
    EXPECT_EQ(webhookBody(payload, configurationFor(WebhookFormat::slack), sampleTime()),
              "{\"text\":\"" + escaped + "\"}");
    EXPECT_EQ(webhookBody(payload, configurationFor(WebhookFormat::wecom), sampleTime()),
              "{\"msgtype\":\"text\",\"text\":{\"content\":\"" + escaped + "\"}}");
}

TEST_F(WebhookPayloadTest, NumbersTakeTheShortestExactForm) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {85, "85"},      {100, "100"}, {0, "0"},
        {97.5, "97.5"},  {0.1, "0.1"}, {100.0 / 3, "33.333333333333336"},
        {0.0001, "0.0001"}, {-0.5, "-0.5"}, {1e-7, "1e-07"}, {2e21, "2e+21"},
    };
    for (const auto& c : cases) {
        WebhookPayload payload(sampleEvent(), true);
        payload.remainingPercent = c.value;
        EXPECT_NE(payload.encoded().find(std::string("\"remaining_percent\":") + c.text + ","),
                  std::string::npos)
            << c.text;
    }
}

TEST_F(WebhookPayloadTest, UnwritableValuesFailInsteadOfSendingBrokenJSON) {
    WebhookPayload notANumber(sampleEvent(), true);
    notANumber.previousUsedPercent = std::numeric_limits<double>::quiet_NaN();
    try {
        notANumber.encoded();
        FAIL() << "NaN was written";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EDOM);
    }

    WebhookPayload notUTF8(sampleEvent(), true);
    notUTF8.message = "cut \xE4\xB8";
    for (WebhookFormat format : allWebhookFormats) {
        try {
            webhookBody(notUTF8, configurationFor(format, "secret"), sampleTime());
            FAIL() << rawValue(format) << " wrote text that is not UTF-8";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), EILSEQ) << rawValue(format);
        }
    }
}

TEST_F(WebhookPayloadTest, OnlyFeishuPutsTheSecretToUseInTheBody) {
    WebhookPayload payload(sampleEvent(), true);
    payload.message = "m";
    EXPECT_EQ(webhookBody(payload, configurationFor(WebhookFormat::feishu), sampleTime()),
              R"({"content":{"text":"m"},"msg_type":"text"})");
    // Whole seconds, truncated, written as a string.
    std::string signedBody = webhookBody(payload, configurationFor(WebhookFormat::feishu, "s"),
                                         sampleTime() + std::chrono::milliseconds(999));
    EXPECT_NE(signedBody.find(R"("timestamp":"1772352900")"), std::string::npos) << signedBody;
    EXPECT_NE(signedBody.find(R"("sign":")"), std::string::npos) << signedBody;

    for (WebhookFormat format :
         {WebhookFormat::slack, WebhookFormat::discord, WebhookFormat::wecom}) {
        EXPECT_EQ(webhookBody(payload, configurationFor(format, "secret"), sampleTime()),
                  webhookBody(payload, configurationFor(format), sampleTime()))
            << rawValue(format);
    }
}

}  // namespace
}  // namespace quotalume
