#pragma once

#include "preferences_overlay.hpp"

#include <memory>
#include <optional>
#include <string>

namespace quotalume::cli {

// The user's preferences with the Codex executable replaced for this run only. The settings
// read through it carry the given executable; settings written through it keep the one saved
// before, so nothing of the replacement is ever stored. Every other key passes through.
class SourceOverride final : public PreferencesOverlay {
public:
    SourceOverride(std::shared_ptr<PreferencesStore> base, std::string executable);

protected:
    std::optional<Value> value(const std::string& key) const override;
    void setValue(const std::string& key, std::optional<Value> value) override;

private:
    std::string executable_;
};

}  // namespace quotalume::cli
