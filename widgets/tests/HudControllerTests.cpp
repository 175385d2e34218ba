#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>

#include <memory>
#include <vector>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/MainWindow.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDErrorView.hpp"
#include "widgets/hud/HUDImageView.hpp"
#include "widgets/hud/HUDProgressView.hpp"
#include "widgets/hud/HUDRotatingImageView.hpp"
#include "widgets/hud/HUDSuccessView.hpp"
#include "widgets/hud/HUDSystemActivityIndicatorView.hpp"
#include "widgets/hud/HUDTextView.hpp"
#include "widgets/hud/MultilineLabel.hpp"
#include "widgets/tests/HudTestSupport.hpp"

using hud_test::HudTest;
using tervolo::widgets::hud::HUD;
using tervolo::widgets::hud::HUDContentType;

namespace {

namespace hud = tervolo::widgets::hud;

// Every call of a completion, in order.
struct HudCalls {
    std::vector<bool> finished;
    hud::HUDCompletion record() {
        return [this](bool done) { finished.push_back(done); };
    }
};

QString titleOf(QWidget* content) {
    auto* square = dynamic_cast<hud::HUDSquareBaseView*>(content);
    return square ? square->titleLabel()->text() : QString();
}

QString subtitleOf(QWidget* content) {
    auto* square = dynamic_cast<hud::HUDSquareBaseView*>(content);
    return square ? square->subtitleLabel()->text() : QString();
}

}  // namespace

TEST_F(HudTest, ShowPutsThePanelInTheMiddleOfTheTargetAtOnceAndDimsItIn) {
    HUD::show(HUDContentType::labeledSuccess("Copied!", std::nullopt), target());

    EXPECT_TRUE(HUD::isVisible());
    ASSERT_TRUE(attached());
    EXPECT_EQ(box().geometry(), target()->rect());
    EXPECT_EQ(frame()->size(), QSize(156, 156));
    EXPECT_EQ(QRectF(frame()->geometry()).center(), QPointF(240, 180));
    EXPECT_DOUBLE_EQ(platform::alpha(hud().contentView()), 0.85);
    EXPECT_EQ(titleOf(hud().contentView()), QStringLiteral("Copied!"));

    // The dimming fades in over 0.175 s.
    EXPECT_DOUBLE_EQ(dimShown(), 0);
    advance(0.0875);
    EXPECT_GT(dimShown(), 0.2);
    EXPECT_LT(dimShown(), 0.8);
    advance(0.0875);
    EXPECT_DOUBLE_EQ(dimShown(), 1);

    // Showing again on the same target neither adds the container twice nor moves it; a bigger
    // target takes it along.
    HUD::show(HUDContentType::label("Again"), target());
    EXPECT_EQ(target()->findChildren<hud::ContainerView*>().size(), 1);
    EXPECT_EQ(box().geometry(), target()->rect());
    EXPECT_EQ(frame()->size(), QSize(265, 90));
    target()->resize(600, 400);
    EXPECT_EQ(box().geometry(), QRect(0, 0, 600, 400));
    // 265 points wide: the odd half point is rounded to whole pixels.
    EXPECT_NEAR(QRectF(frame()->geometry()).center().x(), 300, 0.5);
    EXPECT_EQ(QRectF(frame()->geometry()).center().y(), 200);

    HUD::hide();
}

// A grace period holds the panel back; a hide before it ends means the panel never shows, and the
// hide's completion is never called.
TEST_F(HudTest, GracePeriodDelaysThePanelAndAHideInItCancelsIt) {
    struct Case {
        const char* name;
        double hideAt;  // < 0: no hide
        bool animated;
    };
    const Case cases[] = {{"no hide", -1, false}, {"hide", 0.3, false}, {"animated hide", 0.3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hud().setGraceTime(0.5);
        HudCalls calls;
        HUD::show(HUDContentType::success(), target());
        EXPECT_FALSE(HUD::isVisible());
        EXPECT_TRUE(attached());
        if (c.hideAt >= 0) {
            advance(c.hideAt);
            HUD::hide(c.animated, calls.record());
            advance(2.0 - c.hideAt);
            EXPECT_FALSE(HUD::isVisible());
            EXPECT_TRUE(attached());  // hidden in the target, as the grace period left it
            EXPECT_TRUE(calls.finished.empty());
            continue;
        }
        advance(0.49);
        EXPECT_FALSE(HUD::isVisible());
        advance(0.01);
        EXPECT_TRUE(HUD::isVisible());
        // The content's animation starts with the panel, not with the show.
        auto* success = dynamic_cast<hud::HUDSuccessView*>(hud().contentView());
        ASSERT_NE(success, nullptr);
        EXPECT_LT(success->checkmarkShapeLayer().strokeEnd, 0.05);
        advance(0.35);
        EXPECT_DOUBLE_EQ(success->checkmarkShapeLayer().strokeEnd, 1);
        HUD::hide();
    }

    // A show within the grace period starts the period over: the earlier one reveals nothing.
    HUD::show(HUDContentType::success(), target());
    advance(0.3);
    HUD::show(HUDContentType::error(), target());
    advance(0.3);
    EXPECT_FALSE(HUD::isVisible());
    advance(0.2);
    EXPECT_TRUE(HUD::isVisible());
    HUD::hide();
}

TEST_F(HudTest, HideFadesOverPointEightSecondsOrGoesAtOnce) {
    struct Case {
        const char* name;
        bool animated;
    };
    for (const auto& c : {Case{"animated", true}, Case{"at once", false}}) {
        SCOPED_TRACE(c.name);
        HUD::show(HUDContentType::labeledError("Failed", "Try again"), target());
        advance(0.5);
        HudCalls calls;
        HUD::hide(c.animated, calls.record());
        if (!c.animated) {
            // Gone at once; the dimming keeps its opacity (hidden with the container).
            EXPECT_FALSE(HUD::isVisible());
            EXPECT_EQ(box().parentWidget(), nullptr);
            EXPECT_EQ(calls.finished, std::vector<bool>{true});
            EXPECT_DOUBLE_EQ(dimShown(), 1);
            continue;
        }
        EXPECT_TRUE(HUD::isVisible());
        EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);  // the model value at once
        advance(0.4);
        EXPECT_GT(panelShown(), 0.2);
        EXPECT_LT(panelShown(), 0.8);
        EXPECT_GT(dimShown(), 0.2);
        EXPECT_LT(dimShown(), 0.8);
        advance(0.39);
        EXPECT_TRUE(calls.finished.empty());
        EXPECT_TRUE(attached());
        advance(0.01);
        EXPECT_EQ(calls.finished, std::vector<bool>{true});
        EXPECT_FALSE(HUD::isVisible());
        EXPECT_EQ(box().parentWidget(), nullptr);
        EXPECT_DOUBLE_EQ(dimShown(), 0);
    }

    // Nothing shows now: a hide does nothing and its completion never runs.
    HudCalls late;
    HUD::hide(true, late.record());
    HUD::hide(late.record());
    advance(2);
    EXPECT_TRUE(late.finished.empty());
}

TEST_F(HudTest, FlashWithoutDelayStartsTheFadeAtOnce) {
    HUD::flash(HUDContentType::success(), target());
    EXPECT_TRUE(HUD::isVisible());
    EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);
    EXPECT_DOUBLE_EQ(panelShown(), 1);
    advance(0.4);
    EXPECT_LT(panelShown(), 0.8);
    advance(0.4);
    EXPECT_FALSE(HUD::isVisible());
    EXPECT_EQ(box().parentWidget(), nullptr);
}

// The application's flashes: the panel stays for the delay, then fades for 0.8 s; none passes a
// target, so the HUD covers the active window.
TEST_F(HudTest, TheApplicationsFlashesShowTheirTextsForTheirDelays) {
    struct Case {
        const char* name;
        HUDContentType content;
        double delay;
        bool success;
        const char* title;
        const char* subtitle;
    };
    const Case cases[] = {
        {"copied (point details)", HUDContentType::labeledSuccess("Copied!", std::nullopt), 1.6, true,
         "Copied!", ""},
        {"copied coordinates (my location)",
         HUDContentType::labeledSuccess("Copied!", "Coordinates can now be pasted into any application."),
         1.6, true, "Copied!", "Coordinates can now be pasted into any application."},
        {"tracking mode (map)",
         HUDContentType::labeledSuccess("Tracking Mode", "The map now keeps your location centered."), 1.2,
         true, "Tracking Mode", "The map now keeps your location centered."},
        {"error", HUDContentType::labeledError("Not Saved", "The point could not be written."), 1.6, false,
         "Not Saved", "The point could not be written."},
    };
    QApplication::setActiveWindow(target());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HUD::flash(c.content, nullptr, c.delay);
        ASSERT_TRUE(attached());
        QWidget* content = hud().contentView();
        EXPECT_EQ(dynamic_cast<hud::HUDSuccessView*>(content) != nullptr, c.success);
        EXPECT_EQ(dynamic_cast<hud::HUDErrorView*>(content) != nullptr, !c.success);
        EXPECT_EQ(titleOf(content), QString::fromUtf8(c.title));
        EXPECT_EQ(subtitleOf(content), QString::fromUtf8(c.subtitle));
        advance(c.delay - 0.01);
        EXPECT_DOUBLE_EQ(panelShown(), 1);
        advance(0.01);
        EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);  // the fade has begun
        EXPECT_TRUE(HUD::isVisible());
        advance(0.8);
        EXPECT_FALSE(HUD::isVisible());
        EXPECT_EQ(box().parentWidget(), nullptr);
    }
}

// A second delayed hide replaces the first: only its delay counts, and the first completion is
// neither called nor kept.
TEST_F(HudTest, ASecondFlashReplacesTheFirstDelayedHideAndLetsItsCompletionGo) {
    HudCalls first, second;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> held = token;
    HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), target(), 1.6,
               [&first, token](bool done) { first.finished.push_back(done); });
    token.reset();
    EXPECT_FALSE(held.expired());
    HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), target(), 1.2, second.record());
    EXPECT_TRUE(held.expired());

    advance(1.19);
    EXPECT_DOUBLE_EQ(platform::alpha(frame()), 1);
    advance(0.01);
    EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);
    advance(0.8);
    EXPECT_FALSE(HUD::isVisible());
    EXPECT_EQ(second.finished, std::vector<bool>{true});
    advance(2);
    EXPECT_TRUE(first.finished.empty());
    EXPECT_EQ(second.finished.size(), 1u);

    // A plain show leaves a pending delayed hide alone: it still takes the new panel away.
    HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), target(), 1.6);
    advance(1.0);
    HUD::show(HUDContentType::label("Still here?"), target());
    advance(0.6);
    EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);
    advance(0.8);
    EXPECT_FALSE(HUD::isVisible());
}

// A show while a hide fades: the new panel stays for its own time; the fade reports to its own caller
// (with true) and takes nothing away.
TEST_F(HudTest, AShowDuringAFadeKeepsTheNewPanel) {
    HudCalls fade, flash;
    HUD::show(HUDContentType::labeledError("Old", std::nullopt), target());
    HUD::hide(true, fade.record());
    advance(0.4);
    HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), target(), 1.6, flash.record());
    EXPECT_EQ(fade.finished, std::vector<bool>{true});
    EXPECT_DOUBLE_EQ(panelShown(), 1);

    advance(0.4);  // where the old fade would have ended
    EXPECT_TRUE(HUD::isVisible());
    EXPECT_TRUE(attached());
    EXPECT_EQ(titleOf(hud().contentView()), QStringLiteral("Copied!"));
    advance(1.2);  // 1.6 s after the flash: its own fade
    EXPECT_DOUBLE_EQ(platform::alpha(frame()), 0);
    EXPECT_TRUE(flash.finished.empty());
    advance(0.8);
    EXPECT_FALSE(HUD::isVisible());
    EXPECT_EQ(flash.finished, std::vector<bool>{true});
    EXPECT_EQ(fade.finished.size(), 1u);
}

// Back in the foreground the content animates again, but only while the HUD shows.
TEST_F(HudTest, ReturningToTheForegroundRestartsTheContentsAnimation) {
    auto foreground = [] {
        platform::NotificationCenter::defaultCenter().post(
            hud::HUDController::kWillEnterForegroundNotification);
    };
    HUD::show(HUDContentType::success(), target());
    auto* success = dynamic_cast<hud::HUDSuccessView*>(hud().contentView());
    ASSERT_NE(success, nullptr);
    advance(1);
    EXPECT_DOUBLE_EQ(success->checkmarkShapeLayer().strokeEnd, 1);
    foreground();
    EXPECT_DOUBLE_EQ(success->checkmarkShapeLayer().strokeEnd, 0);
    advance(0.35);
    EXPECT_DOUBLE_EQ(success->checkmarkShapeLayer().strokeEnd, 1);

    HUD::hide();
    foreground();
    EXPECT_TRUE(platform::Animator::animationKeys(success).empty());
}

// Each content case makes its own panel with its texts; a custom view is shown itself.
TEST_F(HudTest, EachContentMakesItsPanel) {
    const auto picture = platform::NamedImage::fromImage(QImage(20, 20, QImage::Format_ARGB32));
    auto* custom = new QWidget();
    custom->resize(200, 120);
    enum class Panel { Square, Success, Error, Progress, Rotating, Activity, Text, Custom };
    struct Case {
        const char* name;
        HUDContentType content;
        Panel panel;
        const char* title;
        const char* subtitle;
        bool picture;
    };
    const Case cases[] = {
        {"success", HUDContentType::success(), Panel::Success, "", "", false},
        {"error", HUDContentType::error(), Panel::Error, "", "", false},
        {"progress", HUDContentType::progress(), Panel::Progress, "", "", true},
        {"systemActivity", HUDContentType::systemActivity(), Panel::Activity, "", "", false},
        {"image", HUDContentType::image(picture), Panel::Square, "", "", true},
        {"rotatingImage", HUDContentType::rotatingImage(picture), Panel::Rotating, "", "", true},
        {"labeledSuccess", HUDContentType::labeledSuccess("A", "B"), Panel::Success, "A", "B", false},
        {"labeledError", HUDContentType::labeledError("A", std::nullopt), Panel::Error, "A", "", false},
        {"labeledProgress", HUDContentType::labeledProgress(std::nullopt, "B"), Panel::Progress, "", "B",
         true},
        {"labeledImage", HUDContentType::labeledImage(picture, "A", "B"), Panel::Square, "A", "B", true},
        {"labeledRotatingImage", HUDContentType::labeledRotatingImage(picture, "A", "B"), Panel::Rotating,
         "A", "B", true},
        {"label", HUDContentType::label("Hello"), Panel::Text, "", "", false},
        {"customView", HUDContentType::customView(custom), Panel::Custom, "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HUD::show(c.content, target());
        QWidget* content = hud().contentView();
        auto* square = dynamic_cast<hud::HUDSquareBaseView*>(content);
        switch (c.panel) {
            case Panel::Square:
                EXPECT_EQ(typeid(*content), typeid(hud::HUDSquareBaseView));
                break;
            case Panel::Success:
                EXPECT_NE(dynamic_cast<hud::HUDSuccessView*>(content), nullptr);
                break;
            case Panel::Error:
                EXPECT_NE(dynamic_cast<hud::HUDErrorView*>(content), nullptr);
                break;
            case Panel::Progress:
                EXPECT_NE(dynamic_cast<hud::HUDProgressView*>(content), nullptr);
                break;
            case Panel::Rotating:
                EXPECT_NE(dynamic_cast<hud::HUDRotatingImageView*>(content), nullptr);
                break;
            case Panel::Activity:
                ASSERT_NE(dynamic_cast<hud::HUDSystemActivityIndicatorView*>(content), nullptr);
                EXPECT_TRUE(square->titleLabel()->isHidden());
                break;
            case Panel::Text: {
                auto* text = dynamic_cast<hud::HUDTextView*>(content);
                ASSERT_NE(text, nullptr);
                EXPECT_EQ(text->titleLabel()->text(), QStringLiteral("Hello"));
                EXPECT_EQ(frame()->size(), QSize(265, 90));
                break;
            }
            case Panel::Custom:
                EXPECT_EQ(content, custom);
                EXPECT_EQ(frame()->size(), QSize(200, 120));
                break;
        }
        if (square && c.panel != Panel::Activity) {
            EXPECT_EQ(frame()->size(), QSize(156, 156));
            EXPECT_EQ(titleOf(content), QString::fromUtf8(c.title));
            EXPECT_EQ(subtitleOf(content), QString::fromUtf8(c.subtitle));
            EXPECT_EQ(!square->imageView()->image().isNull(), c.picture);
        }
        HUD::hide();
    }
}

// While the HUD shows it takes the mouse over the whole target, unless the views below are to get it.
TEST_F(HudTest, TheHudTakesTheMouseUnlessInteractionIsAllowed) {
    auto* button = new QPushButton(QStringLiteral("Below"), target());
    button->setGeometry(10, 10, 100, 30);
    button->show();
    const QPoint onButton(20, 20);
    EXPECT_EQ(target()->childAt(onButton), button);

    HUD::show(HUDContentType::success(), target());
    EXPECT_FALSE(HUD::allowsInteraction());
    EXPECT_EQ(target()->childAt(onButton), &box());
    HUD::setAllowsInteraction(true);
    EXPECT_EQ(target()->childAt(onButton), button);
    HUD::setAllowsInteraction(false);
    HUD::hide();
    EXPECT_EQ(target()->childAt(onButton), button);
}

TEST_F(HudTest, WithoutAnyViewToShowOnNothingHappens) {
    platform::OSLog::setDebugEnabledForTesting(true);
    auto capture = platform::OSLogCapture::install();
    QApplication::setActiveWindow(nullptr);
    target()->hide();
    HUD::flash(HUDContentType::success(), nullptr, 1.0);
    EXPECT_FALSE(HUD::isVisible());
    EXPECT_EQ(box().parentWidget(), nullptr);
    EXPECT_EQ(capture->texts(), std::vector<std::string>{"HUD not shown: no view to show it on"});
    advance(2);  // the delayed hide finds nothing to hide
    EXPECT_FALSE(HUD::isVisible());
    capture->uninstall();
    platform::OSLog::setDebugEnabledForTesting(std::nullopt);

    // Without an active window, a main window on screen serves.
    {
        platform::MainWindow window;
        window.resize(300, 200);
        window.show();
        QApplication::setActiveWindow(nullptr);
        HUD::show(HUDContentType::success());
        EXPECT_EQ(box().parentWidget(), &window);
        EXPECT_EQ(box().geometry(), window.rect());
        HUD::hide();
    }

    // A view to present on set beforehand serves instead.
    hud().setViewToPresentOn(target());
    target()->show();
    HUD::show(HUDContentType::success());
    EXPECT_TRUE(attached());
    HUD::hide();
}
