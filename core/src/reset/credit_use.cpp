#include <quotalume/reset/limit_warning.hpp>

#include <quotalume/support/text.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <charconv>

namespace quotalume {

using namespace coding;

std::vector<CreditUse> CreditUse::spent(const ResetCreditsSummary& before,
                                        const ResetCreditsSummary& after, Date at) {
    std::vector<CreditUse> uses;
    if (after.availableCount >= before.availableCount) {
        return uses;
    }
    for (const ResetCredit& credit : before.credits) {
        const std::optional<Date> expiry = credit.expiryDate();
        if (credit.status != "available" || (expiry && *expiry <= at + std::chrono::minutes(1))) {
            continue;
        }
        const auto now =
            std::find_if(after.credits.begin(), after.credits.end(),
                         [&](const ResetCredit& each) { return each.id == credit.id; });
        if (now == after.credits.end() || now->status == "redeeming" || now->status == "redeemed") {
            uses.push_back({credit.id, credit.title, at});
        }
    }
    return uses;
}

void to_json(json& out, const CreditUse& use) {
    out = {{"id", use.id}, {"seenAt", referenceSeconds(use.seenAt)}};
    put(out, "title", use.title);
    if (!use.used.empty()) {
        json& used = out["used"] = json::object();
        for (const auto& [length, share] : use.used) {
            used[std::to_string(length)] = share;
        }
    }
}

void from_json(const json& in, CreditUse& use) {
    object(in, "credit use");
    CreditUse read{asString(required(in, "id"), "id"), optionalString(in, "title"),
                   asReferenceDate(required(in, "seenAt"), "seenAt")};
    // Shown in notifications and chat messages: bounded and plain, as Codex's own are read.
    for (const std::string* text : {&read.id, read.title ? &*read.title : nullptr}) {
        if (text != nullptr &&
            (text->size() > CreditUse::longestText || hasControlCharacter(*text))) {
            fail(Kind::dataCorrupted, "id", "not a credit's");
        }
    }
    if (const json* used = member(in, "used")) {
        if (!used->is_object() || used->size() > CreditUse::maximumWindows) {
            fail(Kind::dataCorrupted, "used", "not the windows' shares");
        }
        for (const auto& [length, share] : used->items()) {
            std::int64_t minutes = 0;
            const auto [end, error] =
                std::from_chars(length.data(), length.data() + length.size(), minutes);
            if (error != std::errc() || end != length.data() + length.size() ||
                !share.is_number()) {
                fail(Kind::dataCorrupted, "used", "not the windows' shares");
            }
            read.used.emplace(minutes, share.get<double>());
        }
    }
    use = std::move(read);
}

}  // namespace quotalume
