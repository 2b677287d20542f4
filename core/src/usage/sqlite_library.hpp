#pragma once

#include <sqlite3.h>

namespace quotalume {

// The SQLite functions the usage timeline calls, from the system library.
struct SqliteApi {
    decltype(&::sqlite3_open_v2) open_v2;
    decltype(&::sqlite3_close_v2) close_v2;
    decltype(&::sqlite3_busy_timeout) busy_timeout;
    decltype(&::sqlite3_db_config) db_config;
    decltype(&::sqlite3_exec) exec;
    decltype(&::sqlite3_changes) changes;
    decltype(&::sqlite3_errcode) errcode;
    decltype(&::sqlite3_errmsg) errmsg;
    decltype(&::sqlite3_errstr) errstr;
    decltype(&::sqlite3_prepare_v2) prepare_v2;
    decltype(&::sqlite3_finalize) finalize;
    decltype(&::sqlite3_step) step;
    decltype(&::sqlite3_reset) reset;
    decltype(&::sqlite3_clear_bindings) clear_bindings;
    decltype(&::sqlite3_bind_int64) bind_int64;
    decltype(&::sqlite3_bind_double) bind_double;
    decltype(&::sqlite3_bind_text) bind_text;
    decltype(&::sqlite3_bind_null) bind_null;
    decltype(&::sqlite3_column_int64) column_int64;
    decltype(&::sqlite3_column_double) column_double;
    decltype(&::sqlite3_column_text) column_text;
    decltype(&::sqlite3_column_type) column_type;
    decltype(&::sqlite3_shutdown) shutdown;
};

// libsqlite3 loaded while anything holds it: the engine reads and writes its timeline once a
// reading, and between readings keeps none of the library's code or memory resident. Holds
// are counted; the last one shuts SQLite down and unloads it.
class SqliteLibrary {
public:
    // Loads it with the first hold; std::runtime_error when it cannot be loaded.
    SqliteLibrary();
    ~SqliteLibrary();
    SqliteLibrary(const SqliteLibrary&) = delete;
    SqliteLibrary& operator=(const SqliteLibrary&) = delete;
};

// The functions while a SqliteLibrary is held.
const SqliteApi& sqlite();

}  // namespace quotalume
