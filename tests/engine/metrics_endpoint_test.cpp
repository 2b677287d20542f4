#include "metrics_endpoint.hpp"

#include "scrape_client.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quotalume {
namespace {

using namespace std::chrono_literals;
using MetricsClock = std::chrono::steady_clock;

using test::parseScrapeReply;
using test::scrape;
using test::scrapeRequest;
using test::ScrapeSocket;

constexpr const char* expositionType = "text/plain; version=0.0.4; charset=utf-8";
const std::string scrapeText =
    "# HELP quotalume_stale 1 while the last reading is old.\n# TYPE quotalume_stale gauge\n"
    "quotalume_stale{account=\"work\"} 0\nquotalume_stale{account=\"home\"} 1\n";

class MetricsEndpointTest : public testing::Test {
protected:
    MetricsEndpointTest() { endpoint_->publish(scrapeText); }
    std::uint16_t port() const { return endpoint_->port(); }

    std::unique_ptr<MetricsEndpoint> endpoint_ =
        std::make_unique<MetricsEndpoint>(MetricsAddress{"127.0.0.1", 0});
};

TEST_F(MetricsEndpointTest, AnswersEachRequestAsAScraperOrABrowserExpects) {
    const std::string oversized =
        "GET /metrics HTTP/1.1\r\nHost: localhost\r\nX-Filler: " + std::string(64 * 1024, 'a') +
        "\r\n\r\n";
    const struct {
        const char* name;
        std::string request;
        int status;  // 0: any error status, or closed
        std::string body;
        std::string allow;
    } rows[] = {
        {"GET", scrapeRequest("GET", "/metrics"), 200, scrapeText, ""},
        {"HEAD", scrapeRequest("HEAD", "/metrics"), 200, "", ""},
        {"a query string", scrapeRequest("GET", "/metrics?x=1"), 200, scrapeText, ""},
        {"another path", scrapeRequest("GET", "/other"), 404, "", ""},
        {"a longer path", scrapeRequest("GET", "/metrics/x"), 404, "", ""},
        {"POST with a body",
         "POST /metrics HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\n\r\na=123", 405, "",
         "GET, HEAD"},
        {"DELETE", scrapeRequest("DELETE", "/metrics"), 405, "", "GET, HEAD"},
        {"a request over the memory limit", oversized, 0, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply = scrape(port(), row.request);
        if (row.status == 0) {
            EXPECT_TRUE(reply.status == 0 || reply.status >= 400) << reply.status;
            continue;
        }
        EXPECT_EQ(reply.status, row.status);
        EXPECT_TRUE(reply.complete(std::string(row.name) == "HEAD"));
        if (row.status == 200) {
            EXPECT_EQ(reply.header("content-type"), expositionType);
            EXPECT_EQ(reply.body, row.body);
            EXPECT_EQ(reply.header("content-length"), std::to_string(scrapeText.size()));
        }
        EXPECT_EQ(reply.header("allow"), row.allow);
    }
    EXPECT_EQ(scrape(port()).body, scrapeText) << "still serving";
}

TEST_F(MetricsEndpointTest, ACrowdOfClientsIsServedOrClosedNeverHung) {
    std::vector<std::unique_ptr<ScrapeSocket>> crowd;
    for (int i = 0; i < 200; ++i) {
        crowd.push_back(std::make_unique<ScrapeSocket>(port()));
    }
    for (auto& client : crowd) {
        client->send(scrapeRequest("GET", "/metrics"));
    }
    int served = 0;
    for (auto& client : crowd) {
        bool timedOut = false;
        const auto raw = client->readAll(&timedOut);
        const auto reply = parseScrapeReply(raw);
        EXPECT_FALSE(timedOut);
        EXPECT_TRUE(raw.empty() || (reply.status == 200 && reply.complete())) << raw.size();
        served += reply.status == 200 && reply.body == scrapeText;
    }
    EXPECT_GE(served, 64);
    crowd.clear();
    EXPECT_EQ(scrape(port()).status, 200);
}

TEST_F(MetricsEndpointTest, ClientsThatStallNeverHoldUpPublishingScrapesOrStopping) {
    // More than the socket buffers of both ends hold: Linux grows a send buffer to 4 MiB.
    const std::string large(8 << 20, '#');
    endpoint_->publish(large);
    // One never reads a body larger than its socket's buffers, one stops mid request line, one
    // goes away with the body unread (a send into a reset connection must not raise SIGPIPE).
    ScrapeSocket neverReads(port(), "127.0.0.1", 4096);
    neverReads.send(scrapeRequest("GET", "/metrics"));
    ScrapeSocket halfRequest(port());
    halfRequest.send("GET /metr");
    {
        ScrapeSocket leaves(port());
        leaves.send(scrapeRequest("GET", "/metrics"));
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(200ms);

    auto started = MetricsClock::now();
    endpoint_->publish(large + "\n");
    EXPECT_LT(MetricsClock::now() - started, 1s) << "publish waited on a client";
    const auto reply = scrape(port());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), large.size() + 1);

    const auto freed = port();
    started = MetricsClock::now();
    endpoint_.reset();
    EXPECT_LT(MetricsClock::now() - started, 3s) << "stopping waited on a client";
    EXPECT_NO_THROW(MetricsEndpoint(MetricsAddress{"127.0.0.1", freed}))
        << "the port is free again";
}

TEST_F(MetricsEndpointTest, PublishingWhileScrapesRunServesWholeTextsNeverOlderOnes) {
    const std::string prefix = "quotalume_test_generation ";
    endpoint_->publish(prefix + "0\n");
    // Stopped and joined however the test ends.
    const std::jthread publisher([&](std::stop_token stop) {
        for (int generation = 1; !stop.stop_requested(); ++generation) {
            endpoint_->publish(prefix + std::to_string(generation) + "\n");
        }
    });
    int seen = 0;
    for (int i = 0; i < 50; ++i) {
        const auto reply = scrape(port());
        ASSERT_TRUE(reply.complete() && reply.body.rfind(prefix, 0) == 0) << reply.body;
        const int generation = std::stoi(reply.body.substr(prefix.size()));
        EXPECT_GE(generation, seen);
        seen = generation;
    }
}

TEST(MetricsEndpointListenTest, ListensWhereAskedAndSaysWhyItCannot) {
    const MetricsEndpoint busy(MetricsAddress{"127.0.0.1", 0});
    const auto busyText = "127.0.0.1:" + std::to_string(busy.port());
    const struct {
        const char* name;
        MetricsAddress address;
        std::string refusal;  // empty: listens
    } rows[] = {
        {"IPv6 loopback", {"::1", 0}, ""},
        {"a port in use", {"127.0.0.1", busy.port()}, busyText + " (the port is in use)"},
        {"not this machine's address", {"192.0.2.1", 0}, "(not an address of this machine)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            MetricsEndpoint endpoint(row.address);
            endpoint.publish(scrapeText);
            EXPECT_EQ(row.refusal, "");
            EXPECT_EQ(
                scrape(endpoint.port(), scrapeRequest("GET", "/metrics"), row.address.host).body,
                scrapeText);
        } catch (const std::system_error& error) {
            EXPECT_NE(row.refusal, "");
            EXPECT_NE(std::string(error.what()).find(row.refusal), std::string::npos)
                << error.what();
        }
    }
}

TEST(MetricsAddressTest, AcceptsNumericAddressesWithAPortAndRefusesTheRest) {
    const struct {
        const char* name;
        std::string value;
        std::string text;  // empty: refused
        bool loopback;
    } rows[] = {
        {"a port alone", "9464", "127.0.0.1:9464", true},
        {"IPv4 loopback", "127.0.0.1:9464", "127.0.0.1:9464", true},
        {"localhost", "localhost:1", "127.0.0.1:1", true},
        {"IPv6 loopback", "[::1]:9464", "[::1]:9464", true},
        {"IPv6 written out", "[0:0:0:0:0:0:0:1]:65535", "[::1]:65535", true},
        {"every IPv4 address", "0.0.0.0:9464", "0.0.0.0:9464", false},
        {"every IPv6 address", "[::]:9464", "[::]:9464", false},
        {"a LAN address", "192.168.1.5:9464", "192.168.1.5:9464", false},
        {"no port", "127.0.0.1", "", false},
        {"an empty port", "127.0.0.1:", "", false},
        {"port 0", "127.0.0.1:0", "", false},
        {"port 65536", "65536", "", false},
        {"a signed port", "+9464", "", false},
        {"letters in the port", "94a4", "", false},
        {"an unclosed bracket", "[::1:9464", "", false},
        {"IPv6 without brackets", "::1:9464", "", false},
        {"a zone", "[fe80::1%eth0]:9464", "", false},
        {"a host name", "example.com:9464", "", false},
        {"an empty host", ":9464", "", false},
        {"white space", " 9464", "", false},
        {"a very long value", std::string(100000, '9'), "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            const auto address = MetricsAddress::parse(row.value);
            EXPECT_EQ(address.text(), row.text);
            EXPECT_EQ(address.loopback(), row.loopback);
            EXPECT_EQ(MetricsAddress::parse(address.text()).text(), row.text);
        } catch (const std::invalid_argument& error) {
            const std::string what = error.what();
            EXPECT_EQ(row.text, "") << what;
            EXPECT_NE(what.find("127.0.0.1:9464"), std::string::npos) << what;
            EXPECT_LT(what.size(), 300u);
        }
    }
}

}  // namespace
}  // namespace quotalume
