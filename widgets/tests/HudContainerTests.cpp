#include <gtest/gtest.h>

#include <QRectF>

#include <any>

#include "platform/ui/KeyboardNotifications.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/tests/HudTestSupport.hpp"

using hud_test::HudTest;
using tervolo::widgets::hud::HUD;
using tervolo::widgets::hud::HUDContentType;

namespace {

namespace hud = tervolo::widgets::hud;

void post(const char* name, platform::NotificationCenter::UserInfo info) {
    platform::NotificationCenter::defaultCenter().post(name, nullptr, std::move(info));
}

platform::NotificationCenter::UserInfo keyboard(double height, bool withTiming) {
    platform::NotificationCenter::UserInfo info;
    info[platform::UIKeyboardFrameBeginUserInfoKey] = QRectF(0, 800 - height, 600, height);
    if (withTiming) {
        info[platform::UIKeyboardAnimationDurationUserInfoKey] = 0.25;
        info[platform::UIKeyboardAnimationCurveUserInfoKey] = int64_t{7};
    }
    return info;
}

}  // namespace

// The panel keeps to the middle of what the keyboard leaves free: a keyboard of 300 in a container
// 800 high puts its centre at y = 250. While the HUD is hidden the notifications only note the
// keyboard, and the next reveal uses it.
TEST_F(HudTest, ThePanelMovesAboveTheKeyboard) {
    target()->resize(600, 800);
    HUD::registerForKeyboardNotifications();
    struct Case {
        const char* name;
        bool shown;
        const char* notification;
        bool withInfo;
        bool withTiming;
        bool keyboardVisible;
        double centreY;  // where the panel's centre ends up
        bool animates;
    };
    const Case cases[] = {
        {"shown, keyboard appears", true, platform::UIKeyboardDidShowNotification, true, true, true, 250,
         true},
        {"shown, keyboard goes", true, platform::UIKeyboardWillHideNotification, true, true, false, 400,
         true},
        {"shown, appears without timing", true, platform::UIKeyboardDidShowNotification, true, false, true,
         400, false},
        {"shown, goes without user info", true, platform::UIKeyboardWillHideNotification, false, false, false,
         400, false},
        {"hidden, keyboard appears", false, platform::UIKeyboardDidShowNotification, true, true, true, 250,
         false},
        {"hidden, keyboard goes", false, platform::UIKeyboardWillHideNotification, true, true, false, 400,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Start from a panel in the middle of the keyboard's counterpart state.
        post(c.keyboardVisible ? platform::UIKeyboardWillHideNotification
                               : platform::UIKeyboardDidShowNotification,
             {});
        HUD::show(HUDContentType::success(), target());
        if (c.keyboardVisible) {
            post(platform::UIKeyboardWillHideNotification, keyboard(300, true));
        } else {
            post(platform::UIKeyboardDidShowNotification, keyboard(300, true));
        }
        advance(0.3);
        if (!c.shown) HUD::hide();
        const double before = QRectF(frame()->geometry()).center().y();

        post(c.notification,
             c.withInfo ? keyboard(300, c.withTiming) : platform::NotificationCenter::UserInfo{});
        EXPECT_EQ(box().keyboardIsVisible(), c.keyboardVisible);
        EXPECT_EQ(box().keyboardHeight(), 300);
        EXPECT_EQ(!platform::Animator::animationKeys(frame()).empty(), c.animates);
        if (c.animates) {
            EXPECT_EQ(QRectF(frame()->geometry()).center().y(), before);  // on its way
            advance(0.25);
        }
        if (!c.shown) HUD::show(HUDContentType::success(), target());  // the next reveal
        if (c.animates || !c.shown) {
            EXPECT_EQ(QRectF(frame()->geometry()).center().y(), c.centreY);
        } else {
            EXPECT_EQ(QRectF(frame()->geometry()).center().y(), before);
        }
        EXPECT_EQ(QRectF(frame()->geometry()).center().x(), 300);
        HUD::hide();
    }

    // Once deregistered, keyboard notifications no longer reach the HUD.
    HUD::deregisterFromKeyboardNotifications();
    post(platform::UIKeyboardDidShowNotification, keyboard(120, true));
    EXPECT_EQ(box().keyboardHeight(), 300);
}

// The panel is styled at the next turn of the main queue; it takes its content's size and shows the
// content at 0.85 opacity; a replaced content is released.
TEST_F(HudTest, TheFramePanelHoldsOneContentAtItsSize) {
    auto* fresh = new hud::FrameView();
    EXPECT_FALSE(fresh->isStyled());
    EXPECT_EQ(fresh->cornerRadius(), 0);
    platform::RunLoop::runUntilIdle();
    EXPECT_TRUE(fresh->isStyled());
    EXPECT_EQ(fresh->cornerRadius(), 9);
    EXPECT_EQ(fresh->backgroundColor(), QColor::fromRgbF(0.8f, 0.8f, 0.8f, 0.36f));
    EXPECT_EQ(fresh->effect(), hud::FrameView::BlurStyle::Light);

    fresh->move(30, 40);
    auto* first = new QWidget();
    first->resize(156, 156);
    fresh->setContent(first);
    EXPECT_EQ(fresh->geometry(), QRect(30, 40, 156, 156));
    EXPECT_EQ(first->parentWidget(), fresh);
    EXPECT_EQ(first->pos(), QPoint(0, 0));
    EXPECT_DOUBLE_EQ(platform::alpha(first), 0.85);

    QPointer<QWidget> released(first);
    auto* second = new QWidget();
    second->resize(265, 90);
    fresh->setContent(second);
    EXPECT_EQ(fresh->geometry(), QRect(30, 40, 265, 90));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(released.isNull());
    delete fresh;
}

// The panel lies over a blurred picture of what is below it, in place: over the window's green band
// on its left and the red band on its right (bands 96 points wide from x = 0: blue, green, yellow,
// red). Without an effect only the translucent fill is left.
TEST_F(HudTest, ThePanelBlursWhatLiesBelowIt) {
    HUD::show(HUDContentType::label(std::nullopt), target());  // 265 wide: x 107…372
    ASSERT_TRUE(frame()->hasBackdrop());
    QImage panel = frame()->grab().toImage();
    const QColor left = panel.pixelColor(20, 45);    // x 127: green band
    const QColor right = panel.pixelColor(245, 45);  // x 352: red band
    EXPECT_GT(left.green(), left.red() + 20);
    EXPECT_GT(right.red(), right.green() + 20);
    EXPECT_EQ(left.alpha(), 255);
    EXPECT_EQ(panel.pixelColor(0, 0).alpha(), 0);  // outside the rounded corner

    hud().setEffect(std::nullopt);
    panel = frame()->grab().toImage();
    EXPECT_NEAR(panel.pixelColor(20, 45).alpha(), 0.36 * 255, 2);
    HUD::hide();
}

// A dismissal without animation leaves the dimming at its opacity: a later show that does not dim
// finds it there.
TEST_F(HudTest, ADismissalAtOnceLeavesTheDimmingAsItWas) {
    HUD::show(HUDContentType::success(), target());
    advance(0.2);
    HUD::hide();
    EXPECT_DOUBLE_EQ(platform::alpha(box().backgroundView()), 1);
    HUD::setDimsBackground(false);
    HUD::show(HUDContentType::success(), target());
    EXPECT_DOUBLE_EQ(dimShown(), 1);
    HUD::hide(true, {});
    advance(0.8);
    EXPECT_DOUBLE_EQ(dimShown(), 0);
    HUD::show(HUDContentType::success(), target());
    advance(0.2);
    EXPECT_DOUBLE_EQ(dimShown(), 0);  // not dimming now
    HUD::hide();
}

// A target that goes away takes the HUD with it, also in the middle of a fade (whose caller still
// hears of its end); the next show builds a new one.
TEST_F(HudTest, ATargetDestroyedUnderTheHudLeavesItUsable) {
    auto other = std::make_unique<QWidget>();
    other->resize(300, 200);
    other->show();
    HUD::show(HUDContentType::label("Going"), other.get());
    EXPECT_TRUE(HUD::isVisible());
    auto calls = std::make_shared<std::vector<bool>>();
    HUD::hide(true, [calls](bool done) { calls->push_back(done); });
    advance(0.3);
    other.reset();  // in the middle of the fade
    EXPECT_FALSE(HUD::isVisible());
    EXPECT_EQ(*calls, std::vector<bool>{true});
    HUD::flash(HUDContentType::success(), target(), 1.0);
    EXPECT_TRUE(attached());
    EXPECT_TRUE(HUD::isVisible());
    advance(1.8);
    EXPECT_FALSE(HUD::isVisible());
}
