#pragma once

#include <cstdint>
#include <limits>
#include <memory>

// The small reactive interfaces the log message publisher offers its records
// through: a publisher hands each subscriber a subscription, the subscriber
// asks for values through it (demand) and ends it with cancel(). Only what the
// publisher and its compact-map operator need.
namespace tervolo::logging::reactive {

// How many more values a subscriber asks for.
struct Demand {
    static constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();
    uint64_t count = 0;

    static constexpr Demand none() { return {0}; }
    static constexpr Demand unlimited() { return {kUnlimited}; }
    static constexpr Demand max(uint64_t count) { return {count}; }
    constexpr bool operator==(const Demand&) const = default;
};

// How a publisher ended. The log publisher never fails and never finishes.
enum class Completion { finished };

class Cancellable {
  public:
    virtual ~Cancellable() = default;
    // Ends the flow of values; safe from any thread and more than once.
    virtual void cancel() = 0;
};

class Subscription : public Cancellable {
  public:
    virtual void request(Demand demand) = 0;
};

template <typename Input>
class Subscriber {
  public:
    virtual ~Subscriber() = default;
    // Called once, before any value.
    virtual void receive(std::shared_ptr<Subscription> subscription) = 0;
    // One value; answers how many more the subscriber wants in addition.
    virtual Demand receive(const Input& input) = 0;
    virtual void receive(Completion completion) { (void)completion; }
};

template <typename OutputType>
class Publisher {
  public:
    using Output = OutputType;
    virtual ~Publisher() = default;
    // Attaches `subscriber`: it receives its subscription, then values.
    virtual void receive(std::shared_ptr<Subscriber<Output>> subscriber) const = 0;
};

}  // namespace tervolo::logging::reactive
