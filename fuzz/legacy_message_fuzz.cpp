// Feeds arbitrary bytes as a status text an older version stored, matched back against the
// message templates, and renders whatever key and arguments come out.

#include <quotalume/l10n/localized_message.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto message = quotalume::LocalizedMessage::fromLegacyText(
        std::string(reinterpret_cast<const char*>(data), size));
    (void)message.localized();
    return 0;
}
