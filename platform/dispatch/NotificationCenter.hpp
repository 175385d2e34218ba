#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Name-based notifications. post() delivers synchronously on the posting thread, to the observers in
// the order they registered, over a snapshot taken at the start of the post: an observer added during
// a delivery sees the next post; one removed during a delivery is not called any more from then on.
// Destroying a Token removes the observation and, when another thread is delivering to it at that
// moment, waits until that call has returned (so a block never runs after its token is gone).
class NotificationCenter {
  public:
    using UserInfo = std::map<std::string, std::any>;
    struct Notification {
        std::string name;
        std::shared_ptr<void> object;
        UserInfo userInfo;
    };
    using Block = std::function<void(const Notification&)>;

    struct Observer;  // internal
    struct Shared;    // internal: the observer list, shared with tokens
    class Token {
      public:
        ~Token();
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

      private:
        friend class NotificationCenter;
        Token(std::weak_ptr<Shared> center, std::shared_ptr<Observer> observer);
        std::weak_ptr<Shared> center_;  // a token may outlive its center
        std::shared_ptr<Observer> observer_;
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;
    static NotificationCenter& defaultCenter();

    // `name` empty: every name. `object` null: any sender; otherwise only posts with that very object
    // (compared by identity; the center does not keep the object alive).
    [[nodiscard]] std::unique_ptr<Token> addObserver(std::string name, std::shared_ptr<void> object,
                                                     Block block);
    void post(const std::string& name, std::shared_ptr<void> object = nullptr, UserInfo userInfo = {});

  private:
    static void remove(Shared& shared, const std::shared_ptr<Observer>& observer);

    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
