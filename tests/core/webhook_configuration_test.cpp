#include "test_support.hpp"

#include <quotalume/webhook/webhook_configuration.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

TEST(WebhookConfigurationTest, ValidatedURLAcceptsOrRefusesWithTheFirstFailingCheck) {
    const struct {
        std::string url;
        const char* outcome;  // the address returned, or the error key
        std::string token = "";
    } cases[] = {
        // Accepted, trimmed; query and port kept.
        {"  https://example.com/hook \n", "https://example.com/hook"},
        {"\u2003https://example.com/hook\u2028", "https://example.com/hook"},
        {"https://example.com:8443/hook?team=a&x=1", "https://example.com:8443/hook?team=a&x=1"},
        {"HTTPS://example.com/hook", "https://example.com/hook"},
        {"http://localhost:8080/hook", "http://localhost:8080/hook"},
        {"http://LOCALHOST/hook", "http://LOCALHOST/hook"},
        {"http://127.0.0.1/hook", "http://127.0.0.1/hook"},
        {"http://[::1]:9000/hook", "http://[::1]:9000/hook"},
        {"https://example.com/hook", "https://example.com/hook", "token with spaces"},
        // Not an address with a host.
        {"", "error.url"},
        {"example.com/hook", "error.url"},
        {"https:///hook", "error.url"},
        {"https:/example.com/hook", "error.url"},
        {"https://exa mple.com/hook", "error.url"},
        {"https://example.com/ho\x01ok", "error.url"},
        {"https://example.com/hook\x7f", "error.url"},
        // Credentials and fragments.
        {"https://user@example.com/hook", "error.url"},
        {"https://@example.com/hook", "error.url"},
        {"https://example.com/hook#", "error.url"},
        // Schemes; loopback in another spelling is still not one of the names typed.
        {"http://example.com/hook", "error.https"},
        {"http://localhost.example.com/hook", "error.https"},
        {"http://127.1/hook", "error.https"},
        {"ftp://example.com/hook", "error.https"},
        // Tokens that would split the Authorization header.
        {"https://example.com/hook", "error.token", "abc\ndef"},
        {"https://example.com/hook", "error.token", "a\vb"},
        {"https://example.com/hook", "error.token", "a\u0085b"},
        {"https://example.com/hook", "error.token", "a\u2029b"},
        // The first failing check decides.
        {"http://example.com/hook", "error.https", "abc\ndef"},
        {"ftp://user@example.com/#", "error.url", "abc\ndef"},
        // A NUL that would cut the text short.
        {"https://example.com/hook", "error.token", std::string("abc\0def", 7)},
        {std::string("https://example.com/hook\0.evil", 30), "error.url"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.url + "' with token '" + c.token + "'");
        WebhookConfiguration configuration{c.url, WebhookFormat::json, c.token, "secret"};
        std::string address;
        auto failure = test::failureOf([&] { address = configuration.validatedURL(); });
        EXPECT_EQ(address.empty() ? failure.key : address, c.outcome);
    }
}

TEST(WebhookConfigurationTest, FingerprintCoversFormatAndURLAsStoredButNoCredentials) {
    auto fingerprint = [](std::string url, WebhookFormat format, std::string credential) {
        return WebhookConfiguration{url, format, credential, credential}.fingerprint();
    };
    const std::string plain = fingerprint("https://example.com/hook", WebhookFormat::json, "");
    EXPECT_EQ(plain, "e03d8cbc9f5d4b63bd70f81e08779640485eda6d8be575e18ca827426161e94d");
    EXPECT_EQ(fingerprint("https://example.com/hook", WebhookFormat::json, "token"), plain);
    EXPECT_NE(fingerprint("https://example.com/hook", WebhookFormat::slack, ""), plain);
    EXPECT_NE(fingerprint(" https://example.com/hook", WebhookFormat::json, ""), plain);
}

}  // namespace
}  // namespace quotalume
