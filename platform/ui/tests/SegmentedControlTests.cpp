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

TEST_F(SegmentsAndSliderTest, SegmentImagesShowInPlaceOfTitlesAndMoveWithTheirSegment) {
    platform::SegmentedControl control({QStringLiteral("A-Z"), QString(), QString()});
    control.resize(240, 28);
    control.setImageForSegment(1, platform::NamedImage::named(QStringLiteral("ruler")));
    control.setImageForSegment(2, platform::NamedImage::named(QStringLiteral("clock")));
    control.setImageForSegment(7, platform::NamedImage::named(QStringLiteral("clock")));  // ignored
    EXPECT_TRUE(control.imageForSegment(0).isNull());
    EXPECT_FALSE(control.imageForSegment(1).isNull());
    EXPECT_TRUE(control.imageForSegment(7).isNull());
    control.setSelectedSegmentIndex(1);
    // Something is drawn in the image segments although they have no title.
    const QImage image = widgetkit_test::render(control);
    const auto inked = [&](int segment) {
        const QRect area = control.segmentRect(segment).toRect().adjusted(4, 4, -4, -4);
        const QRgb background = image.pixel(area.topLeft() * image.devicePixelRatio());
        for (int y = area.top(); y < area.bottom(); ++y)
            for (int x = area.left(); x < area.right(); ++x)
                if (image.pixel(QPoint(x, y) * image.devicePixelRatio()) != background) return true;
        return false;
    };
    EXPECT_TRUE(inked(1));
    EXPECT_TRUE(inked(2));
    widgetkit_test::saveScreenshot(image, QStringLiteral("segmented_control_images"));

    control.insertSegment(0, QStringLiteral("Tag"));
    EXPECT_TRUE(control.imageForSegment(1).isNull());
    EXPECT_FALSE(control.imageForSegment(2).isNull());
    control.removeAllSegments();
    EXPECT_TRUE(control.imageForSegment(0).isNull());
}
