#pragma once

namespace tervolo::analytics {

// The desktop application's state as the UI toolkit reports it.
enum class TallyDesktopState {
    Active,     // a window of the application has the focus
    Inactive,   // visible, but another application has the focus
    Hidden,     // every window minimised or hidden
    Suspended,  // the system suspended the application
};

// Turns the desktop's application states into the background and
// foreground notifications the analytics client follows
// (kTallyApplicationDidEnterBackground / kTallyApplicationWillEnterForeground
// on platform::NotificationCenter::defaultCenter()).
//
// Losing the focus is not going to the background: a session lasts while the
// application is visible, or every click into another window would end one.
// Hidden or suspended is the background; the first Active after that is the
// foreground. Gaining and losing the focus post the active and resign-active
// notifications. terminate() posts kTallyApplicationWillTerminate once (the
// application calls it when it is about to quit, and on SIGTERM or SIGINT).
// Main thread.
class TallyApplicationState {
  public:
    void update(TallyDesktopState state);
    void terminate();
    bool isInBackground() const { return inBackground_; }

  private:
    bool inBackground_ = false;
    bool active_ = false;
    bool terminated_ = false;
};

}  // namespace tervolo::analytics
