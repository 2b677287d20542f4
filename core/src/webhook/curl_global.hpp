#pragma once

#include <curl/curl.h>

namespace quotalume {

// libcurl, loaded when a webhook is first checked or sent rather than at start: a tray app that
// never sends one never maps it and the dozen libraries it brings, some 4 MB resident all day.
struct Libcurl {
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_perform) easy_perform;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
    decltype(&::curl_url) url;
    decltype(&::curl_url_set) url_set;
    decltype(&::curl_url_get) url_get;
    decltype(&::curl_url_cleanup) url_cleanup;
    decltype(&::curl_free) free;
};

// Loads the library by its soname and finds every function; throws std::runtime_error naming
// what is missing.
Libcurl loadLibcurl(const char* soname);

// The process's libcurl, loaded and set up once, whichever thread gets here first. Throws
// std::runtime_error when it cannot be loaded or initialised, each time it is asked.
const Libcurl& libcurl();

}  // namespace quotalume
