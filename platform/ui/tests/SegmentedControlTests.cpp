#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "platform/ui/SegmentedControl.hpp"
#include "platform/ui/Slider.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

namespace {
class SegmentsAndSliderTest : public widgetkit_test::WidgetTest {};
}  // namespace

TEST_F(SegmentsAndSliderTest, SegmentedControlSelectsByClickAndKeysAndSkipsDisabled) {
    platform::SegmentedControl control(
        {QStringLiteral("Name"), QStringLiteral("Distance"), QStringLiteral("Date")});
    control.resize(300, 28);
    control.show();
    QSignalSpy changes(&control, &platform::SegmentedControl::valueChanged);
    EXPECT_EQ(control.selectedSegmentIndex(), platform::SegmentedControl::kNoSegment);

    control.setSelectedSegmentIndex(0);
    EXPECT_EQ(changes.count(), 0);  // programmatic
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(2).center().toPoint());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.takeFirst().at(0).toInt(), 2);
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(2).center().toPoint());
    EXPECT_EQ(changes.count(), 0);  // the same segment again is no change

    control.setSegmentEnabled(1, false);
    control.setFocus();
    QTest::keyClick(&control, Qt::Key_Left);  // skips the disabled segment
    EXPECT_EQ(control.selectedSegmentIndex(), 0);
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(1).center().toPoint());
    EXPECT_EQ(control.selectedSegmentIndex(), 0);
    control.setSegmentEnabled(1, true);
    control.setSelectedSegmentIndex(1);
    widgetkit_test::saveScreenshot(widgetkit_test::render(control), QStringLiteral("segmented_control"));

    control.insertSegment(0, QStringLiteral("Tag"));
    EXPECT_EQ(control.selectedSegmentIndex(), 2);  // still "Distance"
    control.setSelectedSegmentIndex(9);
    EXPECT_EQ(control.selectedSegmentIndex(), platform::SegmentedControl::kNoSegment);
}

TEST_F(SegmentsAndSliderTest, SliderMapsDoublesAndReportsUserMovesOnly) {
    platform::Slider slider;
    slider.resize(200, 30);
    slider.setRange(10, 1000);
    slider.show();
    QSignalSpy changes(&slider, &platform::Slider::valueChanged);
    slider.setValue(505);
    EXPECT_NEAR(slider.value(), 505, 0.1);
    EXPECT_EQ(changes.count(), 0);
    slider.setValue(5000);
    EXPECT_EQ(slider.value(), 1000);

    slider.setFocus();
    slider.setValue(10);
    QTest::keyClick(&slider, Qt::Key_End);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_DOUBLE_EQ(changes.takeFirst().at(0).toDouble(), 1000);
    slider.setValue(505);
    widgetkit_test::saveScreenshot(widgetkit_test::render(slider), QStringLiteral("slider"));

    slider.setRange(5, 2);  // reversed: a single value
    EXPECT_EQ(slider.value(), 5);
}
