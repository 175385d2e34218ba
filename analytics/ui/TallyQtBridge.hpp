#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/TallyUIPort.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

class QObject;

namespace platform {
class ViewController;
}

namespace tervolo::analytics {

// A screen of the client's own wrapped for the UI layer: the controller to present.
struct TallyPresentableController : TallyPresentable {
    explicit TallyPresentableController(std::shared_ptr<platform::ViewController> c)
        : controller(std::move(c)) {}
    std::shared_ptr<platform::ViewController> controller;
};

// What the analytics client learns from the Qt user interface: every screen
// that appears (the view controllers' global screen-appeared hook feeds view
// tracking), whether the application is in the background (from the
// application's lifecycle notices, which the client also follows itself: the
// lifecycle source is the one place that reads Qt's states), the primary
// screen's size, scale and orientation, and the top controller to present
// the client's screens on.
//
// Main thread, after the QApplication exists. install() makes it the UI port
// of TallyCommon; the returned object undoes it all when destroyed.
class TallyQtBridge : public TallyUIPort {
  public:
    static std::shared_ptr<TallyQtBridge> install();
    ~TallyQtBridge() override;

    std::optional<TallyScreenFacts> mainScreen() const override;
    int deviceOrientation() const override;
    int interfaceOrientation() const override;
    bool isApplicationInBackground() const override;
    std::optional<std::string> topViewController() const override;
    bool presentOnTopViewController(std::shared_ptr<TallyPresentable> screen,
                                    std::function<void()> completion) override;
    std::shared_ptr<TallyPresentable> makeStarRatingDialog(const std::string& message,
                                                           std::function<void(int rating)> finished) override;
    // Through the UI layer's open-URL routine (the user's browser).
    void openURL(const std::string& url) override;

    // The controller's title; else its navigation title view's text when that
    // is a label; else its navigation title; else its class name.
    static std::string titleForViewController(platform::ViewController& controller);
    // The controller on top of the active main window's stack.
    static std::shared_ptr<platform::ViewController> topController();

  private:
    TallyQtBridge();
    std::unique_ptr<QObject> context_;
    bool inBackground_ = false;
    std::unique_ptr<platform::NotificationCenter::Token> backgroundObservation_;
    std::unique_ptr<platform::NotificationCenter::Token> foregroundObservation_;
};

}  // namespace tervolo::analytics
