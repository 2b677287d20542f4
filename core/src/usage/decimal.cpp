#include <quotalume/usage/decimal.hpp>

#include <algorithm>

namespace quotalume {
namespace {

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<Decimal> Decimal::parse(std::string_view text) {
    auto dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (!allDigits(whole) || (dot != std::string_view::npos && !allDigits(fraction))) {
        return std::nullopt;
    }
    whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
    auto last = fraction.find_last_not_of('0');
    fraction = last == std::string_view::npos ? std::string_view() : fraction.substr(0, last + 1);
    std::string canonical = whole.empty() ? "0" : std::string(whole);
    if (!fraction.empty()) {
        canonical += '.';
        canonical += fraction;
    }
    return Decimal(std::move(canonical));
}

}  // namespace quotalume
