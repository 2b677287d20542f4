#include "curl_global.hpp"

#include <curl/curl.h>

#include <mutex>
#include <stdexcept>

namespace quotalume {

void ensureCurlInitialized() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    // Never cleaned up: other threads may still be sending while the process exits.
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (result != CURLE_OK) {
        throw std::runtime_error("libcurl could not be initialised");
    }
}

}  // namespace quotalume
