#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tervolo::backend {

// Presents the secure-connection alert. The application fills it with the
// map screen's alert presentation; until a map screen exists nothing can be
// shown. Main thread.
class IssueAlertPresenter {
  public:
    struct Alert {
        std::string title;
        std::string message;
        std::string actionTitle;      // the single default-style action
        std::function<void()> onAction;
    };
    virtual ~IssueAlertPresenter() = default;
    // Whether a map screen exists to present on.
    virtual bool hasMapScreen() const = 0;
    // Presents `alert` on the map screen, animated, full screen.
    virtual void presentOnMapScreen(Alert alert) = 0;
};

// Tells the user, at most once every 120 s, that secure connections to the
// servers fail (the clock or an eavesdropper may be the cause).
//
// The quiet period starts only when an alert was actually presented, and it is
// measured on the monotonic clock: a report while no map screen exists must
// not silence the next one, and a wall clock set back (the very fault the
// alert is about) must not suppress the alert for as long as it lags.
class QuovaIssueDisplayManager {
  public:
    static QuovaIssueDisplayManager& shared();
    QuovaIssueDisplayManager() = default;

    // Any thread: queues the check on the main queue and returns at once.
    void showUserInfoTamperedCert(std::string title);
    // Main thread: builds and presents the alert; whether it was presented.
    bool reallyShowUserInfoTamperedCert(const std::string& title);

    void setPresenter(std::shared_ptr<IssueAlertPresenter> presenter);
    // Monotonic seconds of the last presented alert; none before the first.
    std::optional<double> tamperedWarningShownAt() const;

    static constexpr double quietPeriodSeconds = 120.0;

  private:
    void handleReport(const std::string& title);

    mutable std::mutex mutex_;
    std::shared_ptr<IssueAlertPresenter> presenter_;
    std::optional<double> tamperedWarningShownAt_;  // written on the main thread only
};

}  // namespace tervolo::backend
