#include "curl_global.hpp"

#include <dlfcn.h>

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace quotalume {

Libcurl loadLibcurl(const char* soname) {
    // Never closed: other threads may still be sending while the process exits.
    void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        throw std::runtime_error(std::string("libcurl could not be loaded: ") + ::dlerror());
    }
    Libcurl functions{};
    const auto find = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
        if (function == nullptr) {
            throw std::runtime_error(std::string("libcurl lacks ") + name);
        }
    };
    find(functions.global_init, "curl_global_init");
    find(functions.easy_init, "curl_easy_init");
    find(functions.easy_setopt, "curl_easy_setopt");
    find(functions.easy_perform, "curl_easy_perform");
    find(functions.easy_getinfo, "curl_easy_getinfo");
    find(functions.easy_cleanup, "curl_easy_cleanup");
    find(functions.easy_strerror, "curl_easy_strerror");
    find(functions.slist_append, "curl_slist_append");
    find(functions.slist_free_all, "curl_slist_free_all");
    find(functions.url, "curl_url");
    find(functions.url_set, "curl_url_set");
    find(functions.url_get, "curl_url_get");
    find(functions.url_cleanup, "curl_url_cleanup");
    find(functions.free, "curl_free");
    return functions;
}

const Libcurl& libcurl() {
    static std::once_flag once;
    static std::optional<Libcurl> loaded;
    static std::string failure;
    std::call_once(once, [] {
        try {
            Libcurl functions = loadLibcurl("libcurl.so.4");
            // Never cleaned up, for the same reason.
            if (functions.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
                throw std::runtime_error("libcurl could not be initialised");
            }
            loaded = functions;
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
    });
    if (!loaded) {
        throw std::runtime_error(failure);
    }
    return *loaded;
}

}  // namespace quotalume
