#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTest>

#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/Switch.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace {
class SpinnerAndSwitchTest : public widgetkit_test::WidgetTest {};
}  // namespace

TEST_F(SpinnerAndSwitchTest, ActivityIndicatorTurnsOnVirtualTimeAndHidesWhenStopped) {
    tervolo::testsupport::VirtualClockScope time;
    QWidget window;
    auto* spinner = new platform::ActivityIndicator(platform::ActivityIndicator::Style::Large, &window);
    spinner->setGeometry(10, 10, 37, 37);
    window.resize(57, 57);
    window.show();
    EXPECT_FALSE(spinner->isVisible());

    spinner->startAnimating();
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_TRUE(spinner->isAnimating());
    time.advance(0.3);  // twelve steps a second: the fourth step
    EXPECT_EQ(spinner->step(), 3);
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), QStringLiteral("activity_indicator"));
    time.advance(1.0);
    EXPECT_EQ(spinner->step(), 3);  // a full turn later

    spinner->stopAnimating();
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_EQ(spinner->step(), 0);
    EXPECT_TRUE(platform::Animator::animationKeys(spinner).empty());

    spinner->setHidesWhenStopped(false);
    EXPECT_TRUE(spinner->isVisible());
    spinner->startAnimating();
    spinner->stopAnimating();
    EXPECT_TRUE(spinner->isVisible());
}

TEST_F(SpinnerAndSwitchTest, SwitchReportsUserFlipsOnlyAndSlidesTheKnob) {
    tervolo::testsupport::VirtualClockScope time;
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* off = new platform::Switch(&window);
    auto* on = new platform::Switch(&window);
    layout->addWidget(off);
    layout->addWidget(on);
    window.show();
    QSignalSpy changes(on, &platform::Switch::valueChanged);

    on->setOn(true);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(on->knobPosition(), 1);
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), QStringLiteral("switch_off_on"));

    QTest::mouseClick(on, Qt::LeftButton);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_FALSE(changes.takeFirst().at(0).toBool());
    EXPECT_FALSE(on->isOn());          // the model value at once
    EXPECT_EQ(on->knobPosition(), 1);  // the knob still at the start
    time.advance(0.125);
    EXPECT_GT(on->knobPosition(), 0.2);
    EXPECT_LT(on->knobPosition(), 0.8);
    time.advance(0.125);
    EXPECT_EQ(on->knobPosition(), 0);

    on->setFocus();
    QTest::keyClick(on, Qt::Key_Space);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(on->isOn());
    on->setEnabled(false);
    QTest::mouseClick(on, Qt::LeftButton);
    EXPECT_EQ(changes.count(), 1);
}
