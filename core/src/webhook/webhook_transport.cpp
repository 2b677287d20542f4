#include <quotalume/webhook/webhook_transport.hpp>

#include <quotalume/support/cancellation.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>

#include "curl_global.hpp"

#include <memory>
#include <stdexcept>

namespace quotalume {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { libcurl().easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { libcurl().slist_free_all(list); }
};

struct ResponseSink {
    std::string body;
    bool cut = false;
};

// Gives up once neither direction has moved a byte for the idle period. libcurl's own
// low-speed check averages over several seconds and so would wait up to five seconds longer.
struct IdleWatch {
    std::chrono::steady_clock::duration limit;
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
    curl_off_t received = 0;
    curl_off_t sent = 0;
};

int checkIdle(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    if (Cancellation::requested()) {
        return 1;  // the program quits: the delivery stays owed
    }
    auto* watch = static_cast<IdleWatch*>(context);
    auto now = std::chrono::steady_clock::now();
    if (received != watch->received || sent != watch->sent) {
        watch->received = received;
        watch->sent = sent;
        watch->lastActivity = now;
        return 0;
    }
    return now - watch->lastActivity >= watch->limit ? 1 : 0;
}

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<ResponseSink*>(context);
    std::size_t length = size * count;
    if (sink->body.size() + length > CurlWebhookTransport::bodyLimit) {
        sink->body.append(data, CurlWebhookTransport::bodyLimit - sink->body.size());
        sink->cut = true;
        return CURL_WRITEFUNC_ERROR;
    }
    sink->body.append(data, length);
    return length;
}

template <typename Value>
void set(CURL* handle, CURLoption option, Value value) {
    if (CURLcode result = libcurl().easy_setopt(handle, option, value); result != CURLE_OK) {
        throw std::runtime_error(libcurl().easy_strerror(result));
    }
}

}  // namespace

WebhookResponse CurlWebhookTransport::perform(const WebhookRequest& request) {
    libcurl();  // loaded now, or the reason it cannot be is thrown
    std::unique_ptr<CURL, EasyDeleter> handle(libcurl().easy_init());
    if (!handle) {
        throw std::runtime_error("no libcurl handle");
    }
    CURL* curl = handle.get();

    std::unique_ptr<curl_slist, ListDeleter> headers;
    auto append = [&](const std::string& line) {
        curl_slist* list = libcurl().slist_append(headers.get(), line.c_str());
        if (list == nullptr) {
            throw std::bad_alloc();
        }
        headers.release();
        headers.reset(list);
    };
    for (const auto& [name, value] : request.headers) {
        // "Name:" would tell libcurl to drop the header; "Name;" sends it empty.
        append(value.empty() ? name + ";" : name + ": " + value);
    }
    // libcurl would otherwise hold larger bodies back waiting for "100 Continue".
    append("Expect:");

    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout);
    const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(totalTimeout);
    ResponseSink sink;
    set(curl, CURLOPT_URL, request.url.c_str());
    set(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set(curl, CURLOPT_NOSIGNAL, 1L);
    // Plain http is only allowed to this machine; a proxy from the environment would carry the
    // credentials across the network in clear text. https still goes through a proxy, tunnelled.
    set(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    set(curl, CURLOPT_FOLLOWLOCATION, 0L);
    set(curl, CURLOPT_POST, 1L);
    if (request.method != "POST") {
        set(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    set(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    set(curl, CURLOPT_POSTFIELDS, request.body.data());
    set(curl, CURLOPT_HTTPHEADER, headers.get());
    set(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.count()));
    // libcurl calls the progress function at least once a second, data or not.
    IdleWatch idleWatch{request.timeout};
    set(curl, CURLOPT_NOPROGRESS, 0L);
    set(curl, CURLOPT_XFERINFOFUNCTION, &checkIdle);
    set(curl, CURLOPT_XFERINFODATA, &idleWatch);
    set(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(total.count()));
    set(curl, CURLOPT_WRITEFUNCTION, &receive);
    set(curl, CURLOPT_WRITEDATA, &sink);

    CURLcode result = libcurl().easy_perform(curl);
    if (result == CURLE_PEER_FAILED_VERIFICATION) {
        // Retried like any failure to connect: a certificate may be renewed in the meantime.
        throw WebhookDeliveryError(LocalizedMessage("error.webhook_tls"), true);
    }
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && sink.cut)) {
        throw std::runtime_error(libcurl().easy_strerror(result));
    }
    long status = 0;
    if (libcurl().easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        status = 0;
    }
    WebhookResponse response;
    if (status > 0) {
        response.statusCode = static_cast<int>(status);
    }
    response.body = std::move(sink.body);
    return response;
}

}  // namespace quotalume
