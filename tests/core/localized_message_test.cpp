#include "test_support.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>

#include <gtest/gtest.h>

#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;
using test::failureOf;
using Case = QuotalumeError::Case;

TEST(LocalizedMessageTest, EncodesBothMembersAndReadsOptionalArgumentsAndLegacyText) {
    EXPECT_EQ(json(LocalizedMessage("quota.empty")).dump(),
              R"({"arguments":[],"key":"quota.empty"})");
    const std::pair<const char*, LocalizedMessage> cases[] = {
        {R"({"key":"error.timeout"})", "error.timeout"},
        {R"({"key":"error.timeout","arguments":null})", "error.timeout"},
        {R"({"key":"x","arguments":["a","{0}"],"extra":1})", LocalizedMessage("x", {"a", "{0}"})},
        {R"("some old text")", "some old text"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(json::parse(text).get<LocalizedMessage>(), expected) << text;
    }
}

TEST(LocalizedMessageTest, RejectsMalformedObjectsWithTheirCodes) {
    const std::pair<const char*, int> cases[] = {
        {R"({"arguments":[]})", 4865},
        {R"({"key":null})", 4865},
        {R"({"key":7})", 4864},
        {R"({"key":"k","arguments":"a"})", 4864},
        {R"({"key":"k","arguments":[1]})", 4864},
        {"[]", 4864},
    };
    for (const auto& [text, code] : cases) {
        EXPECT_EQ(test::decodingErrorOf([&] { (void)json::parse(text).get<LocalizedMessage>(); }),
                  code)
            << text;
    }
}

// what() reads a table of its own, which must stay in step with userMessage().
TEST(QuotalumeErrorTest, WhatNamesTheKeyOfItsMessage) {
    for (int c = static_cast<int>(Case::executableMissing);
         c <= static_cast<int>(Case::invalidThreadID); ++c) {
        QuotalumeError error(static_cast<Case>(c));
        EXPECT_EQ(error.what(), error.userMessage().key);
    }
}

TEST(LocalizedMessageFromTest, MapsEachKindOfFailure) {
    LocalizedMessage carried("error.webhook_http", {"503"});
    auto system = [](const char* code) { return LocalizedMessage("error.system", {code}); };
    const std::tuple<const char*, std::function<void()>, LocalizedMessage> cases[] = {
        {"ours", [] { throw QuotalumeError(Case::timeout); }, "error.timeout"},
        {"delivery", [&] { throw WebhookDeliveryError(carried, true); }, carried},
        {"errno", [] { throw std::system_error(4, std::system_category()); }, system("4")},
        // The JSON library's own failures get the platform's codes.
        {"not JSON", [] { (void)json::parse("{not json").is_null(); }, system("3840")},
        {"wrong type", [] { (void)json::parse("[1]").get<std::string>(); }, system("4864")},
        {"absent", [] { (void)json::object().at("missing"); }, system("4865")},
        {"anything else", [] { throw 42; }, system("-1")},
    };
    for (const auto& [name, operation, expected] : cases) {
        EXPECT_EQ(failureOf(operation), expected) << name;
    }
}

// A failure that names its member says which, while the stored record keeps the key and code
// an older build reads: "System error (code 4864)" there, the member here.
TEST(LocalizedMessageFromTest, ADecodingFailureNamesItsMember) {
    using Kind = JSONDecodingError::Kind;
    const struct {
        const char* name;
        JSONDecodingError error;
        std::vector<std::string> arguments;
        const char* text;
    } rows[] = {
        {"wrong type",
         JSONDecodingError(Kind::typeMismatch, "x", "usedPercent", "number"),
         {"4864", "usedPercent", "number"},
         "`usedPercent` is not a number (code 4864)."},
        {"nested and missing",
         JSONDecodingError(Kind::keyNotFound, "x", "hasCredits", "missing").within("credits"),
         {"4865", "credits.hasCredits", "missing"},
         "`credits.hasCredits` is missing (code 4865)."},
        {"an entry of a list",
         JSONDecodingError(Kind::typeMismatch, "x", {}, "object").within("buckets[1]"),
         {"4864", "buckets[1]", "object"},
         "`buckets[1]` is not an object (code 4864)."},
        {"a path from outside, made safe",
         JSONDecodingError(Kind::dataCorrupted, "x", "a\nb" + std::string(300, 'c'), "invalid"),
         {"4864", "a?b" + std::string(117, 'c'), "invalid"},
         nullptr},
        {"no member named",
         JSONDecodingError(Kind::typeMismatch, "x"),
         {"4864"},
         "System error (code 4864)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const LocalizedMessage message = LocalizedMessage::from(row.error);
        EXPECT_EQ(message, LocalizedMessage("error.system", row.arguments));
        EXPECT_EQ(json(message)["key"], "error.system");
        if (row.text != nullptr) {
            EXPECT_EQ(message.localized(), row.text);
        }
    }
}

}  // namespace
}  // namespace quotalume
