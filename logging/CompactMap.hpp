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
        : _upstream(std::move(upstream)), _transform(std::move(transform)) {}

    void receive(std::shared_ptr<Subscriber<OutputType>> subscriber) const override {
        _upstream.receive(std::make_shared<Inner>(std::move(subscriber), _transform));
    }

    const Upstream& upstream() const { return _upstream; }

  private:
    class Inner : public Subscriber<Input> {
      public:
        Inner(std::shared_ptr<Subscriber<OutputType>> downstream, Transform transform)
            : _downstream(std::move(downstream)), _transform(std::move(transform)) {}

        void receive(std::shared_ptr<Subscription> subscription) override {
            _downstream->receive(std::move(subscription));
        }
        Demand receive(const Input& input) override {
            auto output = _transform(input);
            if (!output) return Demand::max(1);
            return _downstream->receive(*output);
        }
        void receive(Completion completion) override { _downstream->receive(completion); }

      private:
        std::shared_ptr<Subscriber<OutputType>> _downstream;
        Transform _transform;
    };

    Upstream _upstream;
    Transform _transform;
};

}  // namespace tervolo::logging::reactive
