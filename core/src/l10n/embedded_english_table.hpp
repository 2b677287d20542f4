#pragma once

#include <string_view>

namespace quotalume {

// The English strings file, compiled in: the program speaks English even when its tables
// cannot be found on disk.
std::string_view embeddedEnglishTable();

}  // namespace quotalume
