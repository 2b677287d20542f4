#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

// A non-negative base-10 number kept digit for digit, never rounded through binary floating
// point: "12.50" and "12.5" are the same value, and so are "007" and "7".
class Decimal {
public:
    // Accepts one or more ASCII digits, optionally a dot and one or more digits; nothing else.
    static std::optional<Decimal> parse(std::string_view text);

    // Canonical text: no leading zeros before the point, no trailing zeros after it.
    const std::string& text() const { return text_; }
    bool isZero() const { return text_ == "0"; }

    friend bool operator==(const Decimal&, const Decimal&) = default;

private:
    explicit Decimal(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace quotalume
