#pragma once

#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/reset/reset_event.hpp>

#include <string>
#include <variant>

namespace quotalume {

// What the engine announces by notification and webhook: a reset, or a warning.
using Announcement = std::variant<ResetEvent, LimitWarning>;

// The id a receiver tells repeats by, and a notification replaces its own by.
inline const std::string& announcementId(const Announcement& announcement) {
    return std::visit([](const auto& what) -> const std::string& { return what.id; }, announcement);
}

}  // namespace quotalume
