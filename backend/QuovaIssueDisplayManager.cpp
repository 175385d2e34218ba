#include "backend/QuovaIssueDisplayManager.hpp"

#include "logging/QLLogging.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::backend {

namespace {
// The key doubles as the English text, typo included: translations look it up byte for byte.
constexpr const char* kTamperedMessageKey =
    "The app can't connect to our servers securely, so all network connections are disabled. Please "
    "check if the clock on your device is set correctly. Otherwise someone might be trying to spy on you "
    "connection (e.g. on a public wifi).";
}  // namespace

QuovaIssueDisplayManager& QuovaIssueDisplayManager::shared() {
    return platform::SharedInstance<QuovaIssueDisplayManager>::get(
        [] { return new QuovaIssueDisplayManager(); });
}

void QuovaIssueDisplayManager::showUserInfoTamperedCert(std::string title) {
    platform::DispatchQueue::main()->async([this, title = std::move(title)] { handleReport(title); });
}

void QuovaIssueDisplayManager::handleReport(const std::string& title) {
    const double now = platform::Clock::current()->monotonicSeconds();
    std::optional<double> shownAt;
    {
        std::lock_guard lock(mutex_);
        shownAt = tamperedWarningShownAt_;
    }
    if (shownAt && now - *shownAt < quietPeriodSeconds) {
        QLLogDebug("user info for failed connection not due yet (" +
                   platform::text::describe(now - *shownAt) + " seconds since last warning)");
        return;
    }
    if (reallyShowUserInfoTamperedCert(title)) {
        std::lock_guard lock(mutex_);
        tamperedWarningShownAt_ = now;
    }
}

bool QuovaIssueDisplayManager::reallyShowUserInfoTamperedCert(const std::string& title) {
    std::shared_ptr<IssueAlertPresenter> presenter;
    {
        std::lock_guard lock(mutex_);
        presenter = presenter_;
    }
    if (!presenter || !presenter->hasMapScreen()) return false;
    const auto& bundle = platform::Bundle::main();
    IssueAlertPresenter::Alert alert{title, bundle.localizedString(kTamperedMessageKey),
                                     bundle.localizedString("Ok"), [] { QLLogInfo("ok tapped"); }};
    // The line goes to the system log itself, so it is there even when the
    // logging framework has no logger yet.
    platform::OSLog::defaultLog()->write(platform::OSLogType::Default, "displaying tampered cert error");
    presenter->presentOnMapScreen(std::move(alert));
    return true;
}

void QuovaIssueDisplayManager::setPresenter(std::shared_ptr<IssueAlertPresenter> presenter) {
    std::lock_guard lock(mutex_);
    presenter_ = std::move(presenter);
}

std::optional<double> QuovaIssueDisplayManager::tamperedWarningShownAt() const {
    std::lock_guard lock(mutex_);
    return tamperedWarningShownAt_;
}

}  // namespace tervolo::backend
