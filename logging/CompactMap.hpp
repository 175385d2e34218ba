#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "logging/Reactive.hpp"

namespace tervolo::logging::reactive {

// A publisher that passes each value of `Upstream` through a transform and
// sends on the results that are present, dropping the others. The
// subscriber gets the upstream's subscription itself, so demand and cancel go
// straight to the source; a dropped value asks the source for one more.
template <typename Upstream, typename OutputType>
class CompactMap : public Publisher<OutputType> {
  public:
    using Input = typename Upstream::Output;
    using Transform = std::function<std::optional<OutputType>(const Input&)>;

    CompactMap(Upstream upstream, Transform transform)
        : upstream_(std::move(upstream)), transform_(std::move(transform)) {}

    void receive(std::shared_ptr<Subscriber<OutputType>> subscriber) const override {
        upstream_.receive(std::make_shared<Inner>(std::move(subscriber), transform_));
    }

    const Upstream& upstream() const { return upstream_; }

  private:
    class Inner : public Subscriber<Input> {
      public:
        Inner(std::shared_ptr<Subscriber<OutputType>> downstream, Transform transform)
            : downstream_(std::move(downstream)), transform_(std::move(transform)) {}

        void receive(std::shared_ptr<Subscription> subscription) override {
            downstream_->receive(std::move(subscription));
        }
        Demand receive(const Input& input) override {
            auto output = transform_(input);
            if (!output) return Demand::max(1);
            return downstream_->receive(*output);
        }
        void receive(Completion completion) override { downstream_->receive(completion); }

      private:
        std::shared_ptr<Subscriber<OutputType>> downstream_;
        Transform transform_;
    };

    Upstream upstream_;
    Transform transform_;
};

}  // namespace tervolo::logging::reactive
