// Feeds arbitrary bytes as a translation table: any text may be refused, none may crash.

#include "l10n/strings_file.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)quotalume::parseStringsFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
