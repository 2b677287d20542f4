#include "sqlite_library.hpp"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>
#include <string>

namespace quotalume {
namespace {

std::mutex mutex;
int holds = 0;
void* library = nullptr;
bool ours = false;  // loaded by us, not already there for someone else
SqliteApi api{};

void load() {
    if (void* present = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        ::dlclose(present);
        ours = false;
    } else {
        ours = true;
    }
    library = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        throw std::runtime_error(std::string("libsqlite3 could not be loaded: ") + ::dlerror());
    }
    const auto find = [](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
        if (function == nullptr) {
            ::dlclose(library);
            library = nullptr;
            throw std::runtime_error(std::string("libsqlite3 lacks ") + name);
        }
    };
    find(api.open_v2, "sqlite3_open_v2");
    find(api.close_v2, "sqlite3_close_v2");
    find(api.busy_timeout, "sqlite3_busy_timeout");
    find(api.db_config, "sqlite3_db_config");
    find(api.exec, "sqlite3_exec");
    find(api.changes, "sqlite3_changes");
    find(api.errcode, "sqlite3_errcode");
    find(api.errmsg, "sqlite3_errmsg");
    find(api.errstr, "sqlite3_errstr");
    find(api.prepare_v2, "sqlite3_prepare_v2");
    find(api.finalize, "sqlite3_finalize");
    find(api.step, "sqlite3_step");
    find(api.reset, "sqlite3_reset");
    find(api.clear_bindings, "sqlite3_clear_bindings");
    find(api.bind_int64, "sqlite3_bind_int64");
    find(api.bind_double, "sqlite3_bind_double");
    find(api.bind_text, "sqlite3_bind_text");
    find(api.bind_null, "sqlite3_bind_null");
    find(api.column_int64, "sqlite3_column_int64");
    find(api.column_double, "sqlite3_column_double");
    find(api.column_text, "sqlite3_column_text");
    find(api.column_type, "sqlite3_column_type");
    find(api.shutdown, "sqlite3_shutdown");
}

}  // namespace

SqliteLibrary::SqliteLibrary() {
    std::lock_guard lock(mutex);
    if (holds == 0) {
        load();
    }
    ++holds;
}

SqliteLibrary::~SqliteLibrary() {
    std::lock_guard lock(mutex);
    if (--holds == 0) {
        // Shut down only what nobody else in the process uses.
        if (ours) {
            api.shutdown();
        }
        ::dlclose(library);
        library = nullptr;
    }
}

const SqliteApi& sqlite() {
    return api;
}

}  // namespace quotalume
