#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "analytics/ui/TallyQtBridge.hpp"
#include "analytics/ui/TallyStarRatingDialog.hpp"
#include "analytics/ui/tests/TallyUITest.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::analytics {
namespace {

using testing::TallyUITest;

class TallyStarRatingDialogTest : public TallyUITest {
  protected:
    static void saveScreenshot(QWidget& widget, const QString& name) {
        QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
        EXPECT_TRUE(widget.grab().toImage().save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/") + name +
                                                 QStringLiteral(".png")));
    }
};

TEST_F(TallyStarRatingDialogTest, ThirdStarRatesThreeAfterAQuarterSecond) {
    platform::ImmediateAnimationsScope immediate;
    bridge_ = TallyQtBridge::install();
    startOffline();
    auto root = std::make_shared<platform::ViewController>();
    root->setTitle("Map");
    platform::MainWindow window;
    window.setRootViewController(root);
    window.resize(800, 600);
    window.show();
    settle();

    std::vector<int> ratings;
    Tally::sharedInstance().askForStarRating([&](int rating) { ratings.push_back(rating); });
    settle();
    auto dialog = std::dynamic_pointer_cast<TallyStarRatingDialog>(root->presentedViewController());
    ASSERT_TRUE(dialog);
    QWidget* card = dialog->view();
    EXPECT_EQ(card->findChild<QLabel*>("message")->text(), QStringLiteral("How would you rate the app?"));
    ASSERT_EQ(card->findChildren<QPushButton*>().size(), 6u);
    saveScreenshot(*card, QStringLiteral("analytics_star_rating_dialog"));

    card->findChild<QPushButton*>("star3")->click();
    EXPECT_EQ(dialog->highlightedStars(), 3);
    saveScreenshot(*card, QStringLiteral("analytics_star_rating_dialog_three_stars"));
    EXPECT_THAT(card->findChild<QPushButton*>("star3")->styleSheet().toStdString(),
                ::testing::HasSubstr("#fd9426"));
    EXPECT_THAT(card->findChild<QPushButton*>("star4")->styleSheet().toStdString(),
                ::testing::HasSubstr("#b2b2b2"));
    time_.advance(0.2);
    settle();
    EXPECT_TRUE(ratings.empty());
    time_.advance(0.05);
    settle();
    EXPECT_THAT(ratings, ::testing::ElementsAre(3));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    bool rated = false;
    for (const auto& event : TallyPersistency::sharedInstance()->recordedEventsForTesting()) {
        if (event.key == kTallyReservedEventStarRating) rated = (*event.segmentation)["rating"] == 3;
        EXPECT_NE(
            event.key == kTallyReservedEventView && (*event.segmentation)["name"] == "TallyStarRatingDialog",
            true);
    }
    EXPECT_TRUE(rated);

    // Closing rates 0 and records nothing more.
    Tally::sharedInstance().askForStarRating([&](int rating) { ratings.push_back(rating); });
    settle();
    auto second = std::dynamic_pointer_cast<TallyStarRatingDialog>(root->presentedViewController());
    ASSERT_TRUE(second);
    second->view()->findChild<QPushButton*>("close")->click();
    settle();
    EXPECT_THAT(ratings, ::testing::ElementsAre(3, 0));
}

TEST_F(TallyStarRatingDialogTest, WidgetPagesOpenInTheBrowser) {
    bridge_ = TallyQtBridge::install();
    platform::OpenURLRecorder recorder;
    bridge_->openURL("https://analytics.invalid/feedback?widget_id=w1");
    EXPECT_THAT(recorder.urls(), ::testing::ElementsAre("https://analytics.invalid/feedback?widget_id=w1"));
}

}  // namespace
}  // namespace tervolo::analytics
