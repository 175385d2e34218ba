#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::logging {

// One entry of the older system-log store: text keys with text values
// ("Message", "Level", "Time", "TimeNanoSec", "ASLMessageID", "ReadUID", ...).
struct ASLMessage {
    std::map<std::string, std::string> values;

    // The value of `key`, or nullptr when the entry has no such key.
    const std::string* get(const std::string& key) const;
};

// A search: every condition must hold for an entry to be found.
struct ASLQuery {
    enum class Operation {
        numericLessOrEqual,     // the entry's value, read as a decimal number, <= the condition's
        numericGreater,         // ... >
        numericGreaterOrEqual,  // ... >=
        notEqual,               // the entry's text differs (an entry without the key matches)
    };
    struct Condition {
        std::string key;
        std::string value;
        Operation operation;
    };
    std::vector<Condition> conditions;

    void set(std::string key, std::string value, Operation operation) {
        conditions.push_back({std::move(key), std::move(value), operation});
    }
};

// A connection to the store, opened for a facility.
struct ASLClient {
    std::string facility;
};

// The in-process stand-in for the platform's older system-log store (Apple
// System Log) and for the notification interface it posts through. Linux has
// no such store: only the older system-log logger and its capture use this one,
// and nothing in the application starts either. It keeps the operations they
// call:
//   open(facility)         a client connection;
//   newMessage / set       an entry being built; set can fail (then the writer
//                          drops the entry);
//   send                   stores the entry, stamped with "ASLMessageID"
//                          (increasing from 1 in store order), "Time" (whole
//                          seconds since 1970 of Clock::current()'s wall time)
//                          and "TimeNanoSec" (the rest, in nanoseconds), then
//                          posts kMessageNotification;
//   search(query)          the entries matching every condition, in store order;
//   notifyRegisterDispatch / notifyCancel / notifyPost
//                          named notifications delivered on a queue.
//
// Notifications to one registration coalesce and never overlap: a post while
// the registration's handler is queued or running makes it run once more
// afterwards, as the platform's notification interface coalesces posts. After
// notifyCancel returns no new handler run starts for that registration. The
// numeric conditions read text the way the C library's atoll does (a text that
// is not a number reads as 0); a numeric condition on a missing key fails.
//
// Thread-safe. The shared store lives for the whole process.
class ASLStore {
  public:
    using NotifyToken = int;
    static constexpr const char* kMessageNotification = "com.apple.system.logger.message";

    static ASLStore& shared();

    ASLStore();
    ~ASLStore();
    ASLStore(const ASLStore&) = delete;
    ASLStore& operator=(const ASLStore&) = delete;

    std::shared_ptr<ASLClient> open(std::string facility);
    ASLMessage newMessage() const { return {}; }
    // False when the key is empty or the store refuses it (setFailingKeyForTesting).
    bool set(ASLMessage& message, const std::string& key, const std::string& value);
    // Stores the entry and posts kMessageNotification. False, and nothing stored,
    // without a client.
    bool send(const std::shared_ptr<ASLClient>& client, const ASLMessage& message);
    std::vector<ASLMessage> search(const ASLQuery& query) const;
    // How the store reads a value as a number, as atoll does: leading blanks,
    // a sign and the digits that follow; a text without them reads as 0.
    static int64_t numericValue(const std::string& text);

    // Registers `handler` to run on `queue` for every post of `name`; returns
    // the registration's token (never 0).
    NotifyToken notifyRegisterDispatch(const std::string& name,
                                       std::shared_ptr<platform::DispatchQueue> queue,
                                       std::function<void(NotifyToken)> handler);
    // Ends a registration; safe from inside its own handler and for unknown tokens.
    void notifyCancel(NotifyToken token);
    void notifyPost(const std::string& name);

    // Test hooks.
    // Live registrations for `name`.
    size_t registrationCount(const std::string& name) const;
    // Waits (at most `timeoutSeconds` of real time) until `name` has `count`
    // live registrations; returns whether it has.
    bool waitForRegistrationCount(const std::string& name, size_t count, double timeoutSeconds) const;
    // Waits until every handler run already queued or running has finished.
    void waitForNotifications() const;
    // Every `set` of this key fails (nothing: no key fails).
    void setFailingKeyForTesting(std::optional<std::string> key);
    // Drops every stored entry; identifiers keep increasing.
    void removeAllMessagesForTesting();

  private:
    struct Registration;
    void runRegistration(const std::shared_ptr<Registration>& registration);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ASLMessage> messages_;
    uint64_t lastMessageID_ = 0;
    std::optional<std::string> failingKey_;
    NotifyToken lastToken_ = 0;
    std::map<NotifyToken, std::shared_ptr<Registration>> registrations_;
    size_t runsInFlight_ = 0;
};

}  // namespace tervolo::logging
