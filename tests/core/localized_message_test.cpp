#include <quotalume/json_decoding_error.hpp>
#include <quotalume/localized_message.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using nlohmann::json;

TEST(LocalizedMessageTest, LiteralEqualsKeyWithoutArguments) {
    LocalizedMessage literal = "quota.empty";
    EXPECT_EQ(literal, LocalizedMessage("quota.empty"));
    EXPECT_NE(literal, LocalizedMessage("quota.empty", {"1"}));
    EXPECT_NE(literal, LocalizedMessage("quota.low"));
}

TEST(LocalizedMessageTest, EncodesBothMembersAlways) {
    EXPECT_EQ(json(LocalizedMessage("quota.empty")).dump(), R"({"arguments":[],"key":"quota.empty"})");
    EXPECT_EQ(json(LocalizedMessage("error.rpc", {"m", "-1"})),
              json::parse(R"({"key":"error.rpc","arguments":["m","-1"]})"));
}

TEST(LocalizedMessageTest, ReadsObjectsWithOptionalArguments) {
    EXPECT_EQ(json::parse(R"({"key":"error.timeout"})").get<LocalizedMessage>(),
              LocalizedMessage("error.timeout"));
    EXPECT_EQ(json::parse(R"({"key":"error.timeout","arguments":null})").get<LocalizedMessage>(),
              LocalizedMessage("error.timeout"));
    EXPECT_EQ(json::parse(R"({"key":"x","arguments":["a","{0}"],"extra":1})").get<LocalizedMessage>(),
              LocalizedMessage("x", {"a", "{0}"}));
    auto roundTrip = LocalizedMessage("reset.title", {"Codex", "5h"});
    EXPECT_EQ(json(roundTrip).get<LocalizedMessage>(), roundTrip);
}

TEST(LocalizedMessageTest, ReadsBareStringsAsLegacyText) {
    EXPECT_EQ(json("some old text").get<LocalizedMessage>().key, "some old text");
}

TEST(LocalizedMessageTest, RejectsMalformedObjectsWithTheirCodes) {
    auto codeOf = [](const char* text) {
        try {
            (void)json::parse(text).get<LocalizedMessage>();
        } catch (const JSONDecodingError& error) {
            return error.code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf(R"({"arguments":[]})"), 4865);
    EXPECT_EQ(codeOf(R"({"key":null})"), 4865);
    EXPECT_EQ(codeOf(R"({"key":7})"), 4864);
    EXPECT_EQ(codeOf(R"({"key":"k","arguments":"a"})"), 4864);
    EXPECT_EQ(codeOf(R"({"key":"k","arguments":[1]})"), 4864);
    EXPECT_EQ(codeOf("[]"), 4864);
    EXPECT_EQ(codeOf("12"), 4864);
}

}  // namespace
}  // namespace quotalume
