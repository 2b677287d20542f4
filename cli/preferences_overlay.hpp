#pragma once

#include <quotalume/preferences/preferences_store.hpp>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quotalume::cli {

// The user's preferences seen through a change for this run: every key passes through to
// `base` (nothing when there is none) unless a subclass answers it itself.
class PreferencesOverlay : public PreferencesStore {
public:
    explicit PreferencesOverlay(std::shared_ptr<PreferencesStore> base) : base_(std::move(base)) {}

    std::optional<std::filesystem::path> unreadableFile() const override {
        return base_ ? base_->unreadableFile() : std::nullopt;
    }

protected:
    std::optional<Value> value(const std::string& key) const override {
        if (!base_) {
            return std::nullopt;
        }
        if (auto text = base_->string(key)) {
            return Value(std::move(*text));
        }
        if (auto bytes = base_->data(key)) {
            return Value(std::move(*bytes));
        }
        return std::nullopt;
    }

    void setValue(const std::string& key, std::optional<Value> value) override {
        if (!base_) {
            return;
        }
        if (!value) {
            base_->remove(key);
        } else if (auto* text = std::get_if<std::string>(&*value)) {
            base_->setString(key, std::move(*text));
        } else {
            base_->setData(key, std::move(std::get<Bytes>(*value)));
        }
    }

    PreferencesStore& base() const { return *base_; }

private:
    std::shared_ptr<PreferencesStore> base_;
};

}  // namespace quotalume::cli
