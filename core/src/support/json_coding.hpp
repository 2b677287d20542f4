#pragma once

// Typed reading of JSON records: exact keys, unknown keys ignored, null reads as absent, and
// every mismatch a JSONDecodingError whose kind gives the platform code users see.

#include <quotalume/support/date.hpp>
#include <quotalume/support/json_decoding_error.hpp>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume::coding {

using nlohmann::json;
using Kind = JSONDecodingError::Kind;

// What a failure says a member should have been: "number" for "expected a number", "missing"
// for a member that is not there, "invalid" for a value of the right type that cannot be used.
inline std::string expectation(Kind kind, std::string_view what) {
    if (kind == Kind::keyNotFound || kind == Kind::valueNotFound) {
        return "missing";
    }
    for (std::string_view article : {"expected a ", "expected an "}) {
        if (kind == Kind::typeMismatch && what.starts_with(article)) {
            return std::string(what.substr(article.size()));
        }
    }
    return "invalid";
}

[[noreturn]] inline void fail(Kind kind, const std::string& key, const char* what) {
    throw JSONDecodingError(kind, "\"" + key + "\": " + what, key, expectation(kind, what));
}

// `what` names the record for the detail; the value itself is at fault, so no member is named
// until the record that holds it adds its key.
inline const json& object(const json& value, const char* what) {
    if (!value.is_object()) {
        throw JSONDecodingError(Kind::typeMismatch, std::string(what) + ": expected an object", {},
                                "object");
    }
    return value;
}

// Decodes a record held under `key` (or at an index, "[2]"), naming the path of any failure.
template <typename Record>
Record nested(const json& value, const std::string& key) {
    try {
        return value.get<Record>();
    } catch (const JSONDecodingError& error) {
        throw error.within(key);
    }
}

// The member, or null when missing or null.
inline const json* member(const json& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

inline const json& required(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) {
        fail(Kind::keyNotFound, key, "missing");
    }
    if (found->is_null()) {
        fail(Kind::valueNotFound, key, "null");
    }
    return *found;
}

inline std::string asString(const json& value, const char* key) {
    if (!value.is_string()) {
        fail(Kind::typeMismatch, key, "expected a string");
    }
    return value.get<std::string>();
}

inline bool asBool(const json& value, const char* key) {
    if (!value.is_boolean()) {
        fail(Kind::typeMismatch, key, "expected a boolean");
    }
    return value.get<bool>();
}

inline double asDouble(const json& value, const char* key) {
    if (!value.is_number()) {
        fail(Kind::typeMismatch, key, "expected a number");
    }
    return value.get<double>();
}

// The value of an integral JSON number that fits 64 bits; 300.0 counts as 300, 300.5 does not.
inline std::optional<std::int64_t> integral(const json& value) {
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        double number = value.get<double>();
        if (number >= -9223372036854775808.0 && number < 9223372036854775808.0 &&
            number == static_cast<double>(static_cast<std::int64_t>(number))) {
            return static_cast<std::int64_t>(number);
        }
    }
    return std::nullopt;
}

inline std::int64_t asInt64(const json& value, const char* key) {
    if (!value.is_number()) {
        fail(Kind::typeMismatch, key, "expected an integer");
    }
    if (auto number = integral(value)) {
        return *number;
    }
    fail(Kind::dataCorrupted, key, "not an integer that fits 64 bits");
}

// Stored times: seconds since 2001-01-01 UTC as a JSON number.
inline Date asReferenceDate(const json& value, const char* key) {
    return dateFromReferenceSeconds(asDouble(value, key));
}

template <typename Read>
auto optional(const json& object, const char* key, Read read)
    -> std::optional<decltype(read(object, key))> {
    if (const json* value = member(object, key)) {
        return read(*value, key);
    }
    return std::nullopt;
}

inline std::optional<std::string> optionalString(const json& o, const char* key) {
    return optional(o, key, asString);
}
inline std::optional<double> optionalDouble(const json& o, const char* key) {
    return optional(o, key, asDouble);
}
inline std::optional<std::int64_t> optionalInt64(const json& o, const char* key) {
    return optional(o, key, asInt64);
}

template <typename Record>
std::optional<Record> optionalRecord(const json& object, const char* key) {
    if (const json* value = member(object, key)) {
        return nested<Record>(*value, key);
    }
    return std::nullopt;
}

template <typename Record>
std::vector<Record> requiredList(const json& object, const char* key) {
    const json& list = required(object, key);
    if (!list.is_array()) {
        fail(Kind::typeMismatch, key, "expected an array");
    }
    std::vector<Record> records;
    records.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        records.push_back(
            nested<Record>(list[i], std::string(key) + "[" + std::to_string(i) + "]"));
    }
    return records;
}

template <typename T>
void put(json& object, const char* key, const std::optional<T>& value) {
    if (value) {
        object[key] = *value;
    }
}

}  // namespace quotalume::coding
