#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/PresentationAnimation.hpp"
#include "platform/ui/ViewController.hpp"

namespace viewcontroller_test {

// Every lifecycle call of the controllers that share one log, as
// "<name>.<call>" ("A.viewWillAppear"), in order.
struct CallLog {
    std::vector<std::string> calls;
    std::vector<std::string> take() { return std::exchange(calls, {}); }
};

class LoggingController : public platform::ViewController {
  public:
    LoggingController(std::string name, CallLog& log) : name_(std::move(name)), log_(log) {}
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool) override { note("viewWillAppear"); }
    void viewDidAppear(bool) override { note("viewDidAppear"); }
    void viewWillDisappear(bool) override { note("viewWillDisappear"); }
    void viewDidDisappear(bool) override { note("viewDidDisappear"); }
    void willMove(platform::ViewController* parent) override { note(parent ? "willMove" : "willMove(null)"); }
    void didMove(platform::ViewController* parent) override { note(parent ? "didMove" : "didMove(null)"); }
    const std::string& name() const { return name_; }

  private:
    void note(const std::string& call) { log_.calls.push_back(name_ + "." + call); }
    std::string name_;
    CallLog& log_;
};

// Holds animated transitions between their change and their end, so a test
// sees the state between the "will" and the "did" calls; finish() ends them.
class HeldPresentationAnimator {
  public:
    HeldPresentationAnimator() {
        previous_ = platform::setPresentationAnimator(
            [this](double, std::function<void()> changes, std::function<void(bool)> completion) {
                if (changes) changes();
                held_.push_back(std::move(completion));
            });
    }
    ~HeldPresentationAnimator() { platform::setPresentationAnimator(std::move(previous_)); }
    size_t pending() const { return held_.size(); }
    // Ends the oldest held transition.
    void finishOne(bool finished = true) {
        auto completion = std::move(held_.front());
        held_.erase(held_.begin());
        completion(finished);
    }
    void finishAll() {
        while (!held_.empty()) finishOne();
    }

  private:
    platform::PresentationAnimator previous_;
    std::vector<std::function<void(bool)>> held_;
};

}  // namespace viewcontroller_test
