#include <quotalume/reset/reset_event.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/support/uuid.hpp>

#include "../support/json_coding.hpp"

#include <cctype>

namespace quotalume {

using namespace coding;

const char* rawValue(ResetReason reason) {
    return reason == ResetReason::newWindow ? "new_window" : "restored_to_full";
}

std::optional<ResetReason> resetReasonFromRaw(std::string_view raw) {
    if (raw == "new_window") {
        return ResetReason::newWindow;
    }
    if (raw == "restored_to_full") {
        return ResetReason::restoredToFull;
    }
    return std::nullopt;
}

std::string announcedName(const std::string& bucketId, const std::string& bucketName,
                          std::optional<QuotaWindow> window) {
    if (bucketId == "codex") {
        return window ? quotalume::title(*window) : std::string();
    }
    return window ? L10n::render("limits.bucket_line", {bucketName, quotalume::title(*window)})
                  : bucketName;
}

std::string ResetEvent::title() const {
    return L10n::render("reset.title", {bucketName, quotalume::title(window)});
}

std::string accountHeadline(const std::optional<std::string>& label, std::string headline) {
    return label ? L10n::render("account.headline", {*label, headline}) : headline;
}

std::string ResetEvent::notificationTitle() const {
    return accountHeadline(accountLabel, L10n::render("reset.headline"));
}

std::string ResetEvent::message() const {
    return L10n::render("reset.full");
}

ResetEvent ResetEvent::test(Date now) {
    return ResetEvent{randomUUID(),
                      now,
                      "codex",
                      "Codex",
                      QuotaWindow::fiveHour,
                      85.0,
                      100.0,
                      now,
                      now + std::chrono::seconds(18000),
                      ResetReason::restoredToFull};
}

void to_json(json& out, const ResetEvent& event) {
    out = {{"id", event.id},
           {"observedAt", referenceSeconds(event.observedAt)},
           {"bucketId", event.bucketId},
           {"bucketName", event.bucketName},
           {"window", minutes(event.window)},
           {"previousUsedPercent", event.previousUsedPercent},
           {"remainingPercent", event.remainingPercent},
           {"reason", rawValue(event.reason)}};
    if (event.previousResetAt) {
        out["previousResetAt"] = referenceSeconds(*event.previousResetAt);
    }
    if (event.nextResetAt) {
        out["nextResetAt"] = referenceSeconds(*event.nextResetAt);
    }
}

void from_json(const json& in, ResetEvent& event) {
    object(in, "event");
    auto window = quotaWindowFromMinutes(asInt64(required(in, "window"), "window"));
    if (!window) {
        fail(Kind::dataCorrupted, "window", "not a quota window");
    }
    std::string id = asString(required(in, "id"), "id");
    // The id travels in a webhook header: a line break in it would start a header of its own.
    if (hasControlCharacter(id)) {
        fail(Kind::dataCorrupted, "id", "control character");
    }
    auto reason = resetReasonFromRaw(asString(required(in, "reason"), "reason"));
    if (!reason) {
        fail(Kind::dataCorrupted, "reason", "not a reset reason");
    }
    event = ResetEvent{std::move(id),
                       asReferenceDate(required(in, "observedAt"), "observedAt"),
                       asString(required(in, "bucketId"), "bucketId"),
                       asString(required(in, "bucketName"), "bucketName"),
                       *window,
                       asDouble(required(in, "previousUsedPercent"), "previousUsedPercent"),
                       asDouble(required(in, "remainingPercent"), "remainingPercent"),
                       optional(in, "previousResetAt", asReferenceDate),
                       optional(in, "nextResetAt", asReferenceDate),
                       *reason};
}

namespace {

// Query values keep RFC 3986 query characters except the ones that split or mean something
// inside a query ("&", "=", "+", "#"); everything else is percent-encoded as UTF-8 bytes.
std::string encodeQueryValue(std::string_view value) {
    static constexpr std::string_view kept = "-._~!$'()*,;:@/?";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || kept.find(static_cast<char>(c)) != std::string_view::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xf];
        }
    }
    return out;
}

}  // namespace

const std::string ZenthoThanks::message =
    "Thanks @resetwarden for resetting the Codex usage limits! Really appreciate it.";

const std::string& ZenthoThanks::composeURL() {
    static const std::string url = "https://x.com/intent/tweet?text=" + encodeQueryValue(message);
    return url;
}

}  // namespace quotalume
