#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tervolo::analytics {

// A screen of the client's own (the star dialog, a feedback page) that the UI
// layer knows how to show. The analytics core never sees a widget.
class TallyPresentable {
  public:
    virtual ~TallyPresentable() = default;
};

// The main screen in points and its scale (device pixels per point).
struct TallyScreenFacts {
    double width = 0;   // points
    double height = 0;  // points
    double scale = 1;   // pixels per point
};

// What the analytics client needs of the user interface, filled by the
// application (Qt) and by fakes in tests. Main thread only, like the UI.
class TallyUIPort {
  public:
    virtual ~TallyUIPort() = default;

    // The primary screen; nothing when there is none (headless).
    virtual std::optional<TallyScreenFacts> mainScreen() const = 0;
    // The platform's device-orientation number: 0 unknown ... 6 face down.
    virtual int deviceOrientation() const { return 0; }
    // The interface orientation: 1 portrait, 2 portrait upside down,
    // 3 landscape right, 4 landscape left; 0 unknown.
    virtual int interfaceOrientation() const { return 0; }
    // The application is hidden or minimised as a whole.
    virtual bool isApplicationInBackground() const { return false; }

    // The class name of the controller on top of the key window's stack, or
    // nothing while no window with a root controller exists.
    virtual std::optional<std::string> topViewController() const = 0;
    // Presents `screen` over the top controller, animated, and runs
    // `completion` (may be empty) once it is shown. False, doing nothing,
    // when there is no top controller yet.
    virtual bool presentOnTopViewController(std::shared_ptr<TallyPresentable> screen,
                                            std::function<void()> completion) = 0;
    // The star-rating dialog: `message` over five stars and a close button;
    // `finished` gets the chosen rating 1-5 (0 when closed) once the dialog
    // has gone. None when this UI has no such dialog.
    virtual std::shared_ptr<TallyPresentable> makeStarRatingDialog(const std::string& message,
                                                                   std::function<void(int rating)> finished) {
        (void)message;
        (void)finished;
        return nullptr;
    }
    // Opens a web page of the analytics server (feedback widgets) in the
    // user's browser.
    virtual void openURL(const std::string& url) { (void)url; }
};

// Presents `screen` on the top controller; while there is none, tries again
// every second on the main queue until it succeeds. Main thread.
void TallyTryPresentingViewController(std::shared_ptr<TallyPresentable> screen,
                                      std::function<void()> completion = {});

}  // namespace tervolo::analytics
