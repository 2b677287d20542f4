#pragma once

#include "ports.hpp"

#include <functional>
#include <map>
#include <memory>

namespace quotalume {

// Whoever asked to be told of a change. A subscription may end at any time, even while its
// owner is telling them, and may outlive the owner.
template <typename... Arguments>
class Observers {
public:
    using Observer = std::function<void(Arguments...)>;

    std::unique_ptr<Subscription> add(Observer observer) {
        const long long id = nextID_++;
        list_->emplace(id, std::move(observer));
        return std::make_unique<Handle>(list_, id);
    }

    void notify(const Arguments&... arguments) const {
        // Copies of the list and of its entries: observers may come and go while they are told,
        // and one of them may even destroy the owner and these observers with it.
        const std::shared_ptr<List> list = list_;
        const List current = *list;
        for (const auto& [id, observer] : current) {
            if (list->contains(id)) {
                observer(arguments...);
            }
        }
    }

private:
    using List = std::map<long long, Observer>;

    class Handle final : public Subscription {
    public:
        Handle(std::weak_ptr<List> list, long long id) : list_(std::move(list)), id_(id) {}
        ~Handle() override {
            if (auto list = list_.lock()) {
                list->erase(id_);
            }
        }

    private:
        std::weak_ptr<List> list_;
        long long id_;
    };

    std::shared_ptr<List> list_ = std::make_shared<List>();
    long long nextID_ = 0;
};

}  // namespace quotalume
