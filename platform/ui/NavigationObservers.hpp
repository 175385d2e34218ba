#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform {

// Observation of a navigation item or bar button item: every change of a
// property calls the observers, in the order they were added, on the main
// thread. Destroying the token ends the observation (also during a call).
class NavigationObservers {
  public:
    using Callback = std::function<void()>;

    class Token {
      public:
        ~Token() {
            if (auto list = list_.lock()) list->erase(id_);
        }
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

      private:
        friend class NavigationObservers;
        Token(std::weak_ptr<std::map<int, Callback>> list, int id) : list_(std::move(list)), id_(id) {}
        std::weak_ptr<std::map<int, Callback>> list_;
        int id_;
    };

    [[nodiscard]] std::unique_ptr<Token> add(Callback callback) {
        const int id = nextId_++;
        (*list_)[id] = std::move(callback);
        return std::unique_ptr<Token>(new Token(list_, id));
    }

    void notify() const {
        // Over a snapshot of the ids: observers may add or remove observers.
        std::vector<int> ids;
        for (const auto& entry : *list_) ids.push_back(entry.first);
        auto keep = list_;
        for (int id : ids) {
            auto found = keep->find(id);
            if (found == keep->end()) continue;
            Callback callback = found->second;
            callback();
        }
    }

  private:
    std::shared_ptr<std::map<int, Callback>> list_ = std::make_shared<std::map<int, Callback>>();
    int nextId_ = 0;
};

}  // namespace platform
