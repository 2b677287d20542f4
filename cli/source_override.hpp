#pragma once

#include <quotalume/preferences_store.hpp>

#include <memory>
#include <optional>
#include <string>

namespace quotalume::cli {

// The user's preferences with the Codex source replaced for this run only. The settings read
// through it carry the given executable and home; settings written through it keep the source
// saved before, so nothing of the replacement is ever stored. Every other key passes through.
class SourceOverride final : public PreferencesStore {
public:
    SourceOverride(std::shared_ptr<PreferencesStore> base, std::optional<std::string> executable,
                   std::optional<std::string> home);

protected:
    std::optional<Value> value(const std::string& key) const override;
    void setValue(const std::string& key, std::optional<Value> value) override;

private:
    std::shared_ptr<PreferencesStore> base_;
    std::optional<std::string> executable_;
    std::optional<std::string> home_;
};

}  // namespace quotalume::cli
