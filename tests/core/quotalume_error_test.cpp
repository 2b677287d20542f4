#include <quotalume/json_decoding_error.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/webhook_delivery_error.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <system_error>

namespace quotalume {
namespace {

using Case = QuotalumeError::Case;

TEST(QuotalumeErrorTest, RpcCarriesMethodAndDecimalCode) {
    EXPECT_EQ(QuotalumeError::rpc("account/rateLimits/read", -32603).userMessage(),
              LocalizedMessage("error.rpc", {"account/rateLimits/read", "-32603"}));
    EXPECT_EQ(QuotalumeError::rpc("initialize", -1).userMessage().arguments[1], "-1");
    EXPECT_EQ(QuotalumeError::rpc("initialize", 1234567).userMessage().arguments[1], "1234567");
}

TEST(QuotalumeErrorTest, EqualityComparesCaseAndValues) {
    EXPECT_NE(QuotalumeError::rpc("m", 1), QuotalumeError::rpc("m", 2));
    EXPECT_NE(QuotalumeError::rpc("m", 1), QuotalumeError::rpc("n", 1));
    EXPECT_EQ(QuotalumeError::rpc("m", 1), QuotalumeError::rpc("m", 1));
    EXPECT_EQ(QuotalumeError(Case::timeout), QuotalumeError(Case::timeout));
    EXPECT_NE(QuotalumeError(Case::timeout), QuotalumeError(Case::serverExited));
    EXPECT_NE(QuotalumeError::webhook(LocalizedMessage("error.url")),
              QuotalumeError::webhook(LocalizedMessage("error.https")));
}

TEST(QuotalumeErrorTest, EveryCaseHasItsKey) {
    const std::pair<Case, const char*> keys[] = {
        {Case::executableMissing, "error.executable"}, {Case::invalidHome, "error.home"},
        {Case::notSignedIn, "error.login"},            {Case::unsupportedAccount, "error.auth_type"},
        {Case::timeout, "error.timeout"},              {Case::serverExited, "error.server_exit"},
        {Case::invalidResponse, "error.response"},     {Case::noLimits, "error.no_limits"},
        {Case::readOnlyViolation, "error.read_only"},  {Case::invalidThreadID, "error.thread_id"},
    };
    for (const auto& [errorCase, key] : keys) {
        QuotalumeError error(errorCase);
        EXPECT_EQ(error.userMessage(), LocalizedMessage(key));
        EXPECT_STREQ(error.what(), key);
    }
}

TEST(QuotalumeErrorTest, WebhookReturnsItsMessageUnchanged) {
    LocalizedMessage message("error.config_read", {"13"});
    EXPECT_EQ(QuotalumeError::webhook(message).userMessage(), message);
}

TEST(LocalizedMessageFromTest, MapsEachKindOfFailure) {
    EXPECT_EQ(LocalizedMessage::from(QuotalumeError(Case::timeout)), LocalizedMessage("error.timeout"));
    EXPECT_EQ(LocalizedMessage::from(std::system_error(4, std::system_category())),
              LocalizedMessage("error.system", {"4"}));
    LocalizedMessage carried("error.webhook_http", {"503"});
    EXPECT_EQ(LocalizedMessage::from(WebhookDeliveryError(carried, true)), carried);
    EXPECT_EQ(LocalizedMessage::from(JSONDecodingError(JSONDecodingError::Kind::keyNotFound, "x")),
              LocalizedMessage("error.system", {"4865"}));
    EXPECT_EQ(LocalizedMessage::from(JSONDecodingError(JSONDecodingError::Kind::typeMismatch, "x")),
              LocalizedMessage("error.system", {"4864"}));
}

TEST(LocalizedMessageFromTest, MapsJsonLibraryFailuresToPlatformCodes) {
    auto codeOf = [](auto&& operation) {
        try {
            operation();
        } catch (...) {
            return LocalizedMessage::from(std::current_exception()).arguments.at(0);
        }
        return std::string("no error");
    };
    EXPECT_EQ(codeOf([] { auto ignored = nlohmann::json::parse("{not json");
        (void)ignored; }), "3840");
    EXPECT_EQ(codeOf([] { (void)nlohmann::json::parse("[1]").get<std::string>(); }), "4864");
    EXPECT_EQ(codeOf([] { (void)nlohmann::json::object().at("missing"); }), "4865");
    EXPECT_EQ(codeOf([] { throw 42; }), "-1");
}

}  // namespace
}  // namespace quotalume
