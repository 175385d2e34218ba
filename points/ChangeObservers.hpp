#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tervolo::points {

// The observers of one kind of typed change. Observers are called on the
// notifying thread, in the order they registered, over a snapshot taken when
// the notification starts: one added meanwhile sees the next change, one whose
// token is dropped meanwhile is not called any more from then on. Dropping the
// token ends the observation.
template <class Change>
class ChangeObservers {
    struct List;

  public:
    using Observer = std::function<void(const Change&)>;

    class Token {
      public:
        ~Token() {
            if (auto list = list_.lock()) list->remove(id_);
        }
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

      private:
        friend class ChangeObservers;
        Token(std::weak_ptr<List> list, uint64_t id)
            : list_(std::move(list)), id_(id) {}
        std::weak_ptr<List> list_;
        uint64_t id_;
    };

    [[nodiscard]] std::unique_ptr<Token> observe(Observer observer) {
        std::lock_guard lock(list_->mutex);
        const uint64_t id = ++list_->lastId;
        list_->entries.push_back({id, std::make_shared<Observer>(std::move(observer))});
        return std::unique_ptr<Token>(new Token(list_, id));
    }

    void notify(const Change& change) const {
        std::vector<Entry> snapshot;
        {
            std::lock_guard lock(list_->mutex);
            snapshot = list_->entries;
        }
        for (const auto& entry : snapshot) {
            if (list_->contains(entry.id)) (*entry.observer)(change);
        }
    }

  private:
    struct Entry {
        uint64_t id;
        std::shared_ptr<Observer> observer;
    };
    struct List {
        std::mutex mutex;
        std::vector<Entry> entries;
        uint64_t lastId = 0;
        void remove(uint64_t id) {
            std::lock_guard lock(mutex);
            std::erase_if(entries, [id](const Entry& entry) { return entry.id == id; });
        }
        bool contains(uint64_t id) {
            std::lock_guard lock(mutex);
            return std::any_of(entries.begin(), entries.end(),
                               [id](const Entry& entry) { return entry.id == id; });
        }
    };

    std::shared_ptr<List> list_ = std::make_shared<List>();
};

}  // namespace tervolo::points
