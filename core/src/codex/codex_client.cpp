#include <quotalume/codex/codex_client.hpp>

#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/codex/rpc_session.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/version.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;

// The executables that have answered like Codex in this process: one of them that later ends
// without a word has stopped, it has not turned into another program.
class Answered {
public:
    void add(const std::string& executable) {
        std::lock_guard lock(mutex_);
        if (executables_.size() < 64) {
            executables_.insert(executable);
        }
    }
    bool contains(const std::string& executable) const {
        std::lock_guard lock(mutex_);
        return executables_.contains(executable);
    }

private:
    mutable std::mutex mutex_;
    std::set<std::string> executables_;
};

constexpr std::int64_t invalidParams = -32602;

Answered& answered() {
    static Answered executables;
    return executables;
}

// Greets the server, checks the account, runs `operation` and closes the session whatever
// happens (the session's destructor closes it on the failure paths).
template <typename Operation>
auto withSession(const CodexConfiguration& configuration, Operation&& operation) {
    std::string executable = CodexLocator::executable(configuration.executablePath);
    std::string home = CodexLocator::home(configuration.homePath);
    RPCSession session(executable, home, configuration.timeout);
    try {
        session.request(
            "initialize",
            {{"clientInfo",
              {{"name", "quotalume"}, {"title", "Quotalume"}, {"version", quotalumeVersion}}}});
    } catch (const QuotalumeError& error) {
        // A program that ends before it has ever said a word of the protocol is not Codex.
        if (error.errorCase() == QuotalumeError::Case::serverExited &&
            !answered().contains(executable)) {
            throw QuotalumeError::notCodex(executable);
        }
        throw;
    }
    answered().add(executable);
    session.send({{"method", "initialized"}});
    json answer = session.request("account/read", {{"refreshToken", false}});
    auto account = answer.find("account");
    if (account == answer.end() || !account->is_object()) {
        // `codex login` alone would sign in whatever codex and home a shell finds.
        throw QuotalumeError::notSignedIn("CODEX_HOME=" + shellQuoted(home) + " " +
                                          shellQuoted(executable) + " login");
    }
    auto type = account->find("type");
    if (type == account->end() || !type->is_string() ||
        type->get_ref<const std::string&>() != "chatgpt") {
        throw QuotalumeError(QuotalumeError::Case::unsupportedAccount);
    }
    auto result = operation(session, home, *account);
    session.close();
    return result;
}

}  // namespace

UsageSnapshot CodexClient::fetch(const CodexConfiguration& configuration, Depth depth) const {
    return withSession(
        configuration, [depth](RPCSession& session, const std::string& home, const json& account) {
            bool light = depth == Depth::light;
            json answer;
            if (light) {
                try {
                    answer = session.request("account/rateLimits/read",
                                             {{"excludeResetCreditDetails", true}});
                } catch (const QuotalumeError& error) {
                    // A Codex that does not know the member: asked again in full.
                    if (error.errorCase() != QuotalumeError::Case::rpc ||
                        error.code() != invalidParams) {
                        throw;
                    }
                    light = false;
                }
            }
            if (!light) {
                answer = session.request("account/rateLimits/read");
            }
            auto response = answer.get<RateLimitsResponse>();
            auto buckets = response.buckets();
            if (buckets.empty()) {
                throw QuotalumeError(QuotalumeError::Case::noLimits);
            }
            // An account that names itself by neither id nor e-mail is the home's one account:
            // the key must stay the same from fetch to fetch, or no reset would ever be detected.
            std::string suffix;
            if (response.accountId) {
                suffix = ":" + *response.accountId;
            } else if (auto email = account.find("email");
                       email != account.end() && email->is_string()) {
                suffix = ":" + email->get<std::string>();
            }
            // One folder is one account however it is reached: through a link, "..", "~".
            std::error_code unresolved;
            const std::string resolved = std::filesystem::canonical(home, unresolved).string();
            const std::string folder = unresolved ? home : resolved;
            UsageSnapshot snapshot{std::chrono::system_clock::now(),
                                   UsageSnapshot::fingerprint(folder + suffix), std::move(buckets)};
            snapshot.dropUnsoundResetTimes();
            snapshot.ordinaryUsageAllowed = response.ordinaryUsageAllowed;
            snapshot.resetCredits = std::move(response.rateLimitResetCredits);
            snapshot.creditDetails = !light;
            if (!suffix.empty()) {
                snapshot.accountKey = UsageSnapshot::fingerprint(suffix);
            }
            if (folder != home) {
                snapshot.legacyFingerprint = UsageSnapshot::fingerprint(home + suffix);
            }
            return snapshot;
        });
}

std::vector<ThreadReference> CodexClient::recentThreads(
    long long limit, const CodexConfiguration& configuration) const {
    json params = {{"limit", std::clamp(limit, 1LL, 20LL)},
                   {"sortKey", "updated_at"},
                   {"sortDirection", "desc"},
                   {"useStateDbOnly", true}};
    return withSession(configuration, [&](RPCSession& session, const std::string&, const json&) {
        return session.request("thread/list", params).get<ThreadListResponse>().data;
    });
}

std::optional<ThreadUsage> CodexClient::threadUsage(std::string_view threadID,
                                                    const CodexConfiguration& configuration) const {
    std::string id(trimmed(threadID));
    if (id.empty()) {
        throw QuotalumeError(QuotalumeError::Case::invalidThreadID);
    }
    return withSession(configuration, [&](RPCSession& session, const std::string&, const json&) {
        auto usage = session.request("account/usage/read", {{"threadId", id}})
                         .get<AccountThreadUsageResponse>()
                         .threadUsage;
        if (usage && usage->threadId != id) {
            throw QuotalumeError(QuotalumeError::Case::invalidResponse);
        }
        return usage;
    });
}

}  // namespace quotalume
