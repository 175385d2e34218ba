// Screenshots of the user's dot with its callout in both styles, light and
// dark, at device pixel ratios 1 and 2, and of the detail view with long,
// CJK and right-to-left texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QPalette>

#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "location/ui/tests/UserLocationMap.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace location_ui_test {
namespace {

QPalette darkPalette() {
    return tervolo::testsupport::darkScreenshotPalette();
}

QImage grab(QWidget& widget, double ratio) {
    return tervolo::testsupport::renderOnWindowColour(widget, ratio);
}

class UserLocationScreenshotTest : public LocationUITest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        LocationUITest::TearDown();
    }
};

TEST_F(UserLocationScreenshotTest, DotAndCalloutInBothStyles) {
    for (const bool extended : {false, true}) {
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? darkPalette() : QPalette());
            setExtendedDisplay(extended);
            bestKnown_ = fix(3.34, 90, 35);
            UserLocationMap map;
            auto view = map.selectUserLocation({60.1699, 24.9384});
            ASSERT_NE(view, nullptr);
            ASSERT_TRUE(map.map->waitForCells());
            ASSERT_TRUE(map.map->calloutView()->isVisible());
            const QString name = QStringLiteral("userlocation-%1-%2")
                                     .arg(extended ? QStringLiteral("extended") : QStringLiteral("standard"),
                                          dark ? QStringLiteral("dark") : QStringLiteral("light"));
            saveScreenshot(grab(*map.map, 1), name);
            saveScreenshot(grab(*map.map, 2), name + QStringLiteral("@2x"));
            // The callout lies wholly inside the map, above the dot.
            const QRect callout = map.map->calloutView()->geometry();
            EXPECT_TRUE(map.map->rect().contains(callout));
            EXPECT_LT(callout.bottom(), map.map->anchorPointForAnnotation(*map.map->userLocation()).y());
        }
    }
}

TEST_F(UserLocationScreenshotTest, DetailViewWithLongCJKAndRightToLeftTexts) {
    struct Case {
        const char* name;
        const char* first;
        const char* second;
        Qt::LayoutDirection direction;
    };
    const Case cases[] = {
        {"na", "n/a", "n/a", Qt::LeftToRight},
        {"long", "123 km/h\n359\u00BA NNW", "elev. 12,345 ft above the sea", Qt::LeftToRight},
        {"cjk", "\u6642\u901F 12 \u30AD\u30ED\n90\u00BA \u6771", "\u6A19\u9AD8 35 \u30E1\u30FC\u30C8\u30EB",
         Qt::LeftToRight},
        {"rtl", "12 \u05E7\u05F4\u05DE/\u05E9\u05E2\u05D4\n90\u00BA \u05DE\u05D6\u05E8\u05D7",
         "\u05D2\u05D5\u05D1\u05D4 35 \u05DE\u05F3", Qt::RightToLeft},
    };
    for (const bool dark : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            QWidget backdrop;
            backdrop.setPalette(dark ? darkPalette() : QPalette());
            backdrop.setAutoFillBackground(true);
            backdrop.setLayoutDirection(c.direction);
            auto* view = new location::DetailAccessoryView(&backdrop);
            view->firstLineText()->setText(QString::fromUtf8(c.first));
            view->invalidateIntrinsicContentSize();
            view->setSecondLine(c.second);
            const QSize size = view->intrinsicContentSize();
            view->setGeometry(8, 8, size.width(), size.height());
            backdrop.resize(size + QSize(16, 16));
            // Nothing is cut: each label has at least the room its text needs.
            for (const QLabel* label : {view->firstLineText(), view->secondLineText()}) {
                const QSize needed = label->fontMetrics().size(0, label->text());
                EXPECT_GE(label->width(), needed.width());
                EXPECT_GE(label->height(), needed.height());
            }
            saveScreenshot(grab(backdrop, 2),
                           QStringLiteral("detailaccessory-%1-%2@2x")
                               .arg(QString::fromLatin1(c.name),
                                    dark ? QStringLiteral("dark") : QStringLiteral("light")));
        }
    }
}

}  // namespace
}  // namespace location_ui_test
