#include "test_support.hpp"

#include <quotalume/webhook_configuration.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

struct URLCase {
    const char* url;
    const char* outcome;  // the address returned, or the error key
    const char* token = "";
};

void PrintTo(const URLCase& c, std::ostream* out) {
    *out << "'" << c.url << "'";
}

const URLCase urlCases[] = {
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
};

class ValidatedURLTest : public ::testing::TestWithParam<URLCase> {};

TEST_P(ValidatedURLTest, AcceptsOrRefusesWithTheFirstFailingCheck) {
    const URLCase& c = GetParam();
    WebhookConfiguration configuration{c.url, WebhookFormat::json, c.token, "secret"};
    std::string address;
    auto failure = test::failureOf([&] { address = configuration.validatedURL(); });
    EXPECT_EQ(address.empty() ? failure.key : address, c.outcome);
}

INSTANTIATE_TEST_SUITE_P(WebhookConfiguration, ValidatedURLTest, ::testing::ValuesIn(urlCases));

TEST(WebhookConfigurationTest, RefusesANulThatWouldCutTheTextShort) {
    const std::string hook = "https://example.com/hook";
    WebhookConfiguration token{hook, WebhookFormat::json, std::string("abc\0def", 7), ""};
    EXPECT_EQ(test::failureOf([&] { token.validatedURL(); }), "error.token");
    WebhookConfiguration url{hook + std::string(1, '\0') + ".evil", WebhookFormat::json, "", ""};
    EXPECT_EQ(test::failureOf([&] { url.validatedURL(); }), "error.url");
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
