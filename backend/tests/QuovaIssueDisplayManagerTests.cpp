#include <gtest/gtest.h>

#include "backend/QuovaIssueDisplayManager.hpp"
#include "backend/tests/BackendTestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::backend {
namespace {

class FakePresenter : public IssueAlertPresenter {
  public:
    bool mapScreen = true;
    std::vector<Alert> presented;
    bool hasMapScreen() const override { return mapScreen; }
    void presentOnMapScreen(Alert alert) override { presented.push_back(std::move(alert)); }
};

class QuovaIssueDisplayManagerTest : public testing::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        manager_.setPresenter(presenter_);
    }
    void report(const std::string& title) {
        manager_.showUserInfoTamperedCert(title);
        platform::RunLoop::runUntilIdle();
    }

    std::shared_ptr<FakePresenter> presenter_ = std::make_shared<FakePresenter>();
    QuovaIssueDisplayManager manager_;
};

TEST_F(QuovaIssueDisplayManagerTest, AlertAtMostOnceEvery120Seconds) {
    auto capture = platform::OSLogCapture::install();
    report("An SSL error has occurred");
    ASSERT_EQ(presenter_->presented.size(), 1u);
    const auto& alert = presenter_->presented[0];
    EXPECT_EQ(alert.title, "An SSL error has occurred");
    EXPECT_EQ(alert.message,
              "The app can't connect to our servers securely, so all network connections are disabled. Please "
              "check if the clock on your device is set correctly. Otherwise someone might be trying to spy on "
              "you connection (e.g. on a public wifi).");
    EXPECT_EQ(alert.actionTitle, "Ok");
    alert.onAction();
    EXPECT_TRUE(log_->contains("ok tapped"));
    EXPECT_EQ(capture->texts(), std::vector<std::string>{"displaying tampered cert error"});
    capture->uninstall();

    time_->advance(5);
    report("again");
    EXPECT_EQ(presenter_->presented.size(), 1u);
    EXPECT_TRUE(log_->contains("user info for failed connection not due yet (5.0 seconds since last warning)"));

    time_->advance(115);  // exactly 120 s after the shown alert
    report("later");
    EXPECT_EQ(presenter_->presented.size(), 2u);
}

TEST_F(QuovaIssueDisplayManagerTest, NoMapScreenShowsNothingAndStartsNoQuietPeriod) {
    presenter_->mapScreen = false;
    report("first");
    EXPECT_TRUE(presenter_->presented.empty());
    EXPECT_FALSE(manager_.tamperedWarningShownAt().has_value());

    presenter_->mapScreen = true;
    time_->advance(60);
    report("second");
    EXPECT_EQ(presenter_->presented.size(), 1u);
}

TEST_F(QuovaIssueDisplayManagerTest, WallClockSetBackDoesNotSilenceTheAlert) {
    report("first");
    time_->advance(121);
    // The user's clock jumps back a day: the monotonic clock still counts on.
    time_->clock().setWallSeconds(time_->clock().wallSeconds() - 86400);
    report("second");
    EXPECT_EQ(presenter_->presented.size(), 2u);
}

TEST_F(QuovaIssueDisplayManagerTest, ReportsFromOtherThreadsAreHandledOnTheMainQueue) {
    std::thread reporter([this] { manager_.showUserInfoTamperedCert("from a session queue"); });
    reporter.join();
    EXPECT_TRUE(presenter_->presented.empty());  // not before the main queue ran
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(presenter_->presented.size(), 1u);
}

}  // namespace
}  // namespace tervolo::backend
