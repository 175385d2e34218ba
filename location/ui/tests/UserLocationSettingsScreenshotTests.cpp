// Screenshots of the "My Location" sheet: with a position and a 500 m
// circle, without a position, and with the radius sheet open; light and dark
// desktop palettes, device pixel ratios 1 and 2.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "location/ui/tests/UserLocationSettingsTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace location_ui_test {
namespace {

QPalette darkPalette() {
    QPalette dark = tervolo::testsupport::darkScreenshotPalette();
    dark.setColor(QPalette::Mid, QColor(0x60, 0x63, 0x66));
    return dark;
}

QImage grab(QWidget& widget, double ratio) {
    return tervolo::testsupport::renderOnWindowColour(widget, ratio);
}

class UserLocationSettingsScreenshotTest : public UserLocationSettingsTest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        UserLocationSettingsTest::TearDown();
    }

    void shoot(const QString& name, platform::MKMapView* map) {
        if (map) {
            ASSERT_TRUE(map->waitForCells());
        }
        settle();
        saveScreenshot(grab(*window_, 1), name);
        saveScreenshot(grab(*window_, 2), name + QStringLiteral("@2x"));
    }
};

TEST_F(UserLocationSettingsScreenshotTest, WithAPositionWithoutOneAndWithTheRadiusSheet) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");

        tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(500);
        auto screen = open(helsinki());
        ASSERT_NE(screen->halo(), nullptr);
        shoot(QStringLiteral("settings-position-500m-") + theme, screen->map());
        // The whole coordinate text shows beside the copy button.
        EXPECT_EQ(screen->coordinateLabel()->shownText(), screen->coordinateLabel()->text());
        EXPECT_LE(screen->coordinateLabel()->geometry().right(),
                  screen->copyCoordinatesButton()->geometry().left());

        screen->radiusBarButton()->trigger();
        settle();
        ASSERT_EQ(topAlertTitle(), "Circle Radius");
        shoot(QStringLiteral("settings-radius-sheet-") + theme, screen->map());
        ASSERT_TRUE(recorder_->chooseAction("Cancel"));
        navigation_->dismiss(false);
        settle();

        platform::UserDefaults::standard().set("coordinateFormat", platform::PropertyValue(5));
        auto unknown = open(std::nullopt);
        shoot(QStringLiteral("settings-no-position-") + theme, unknown->map());
        navigation_->dismiss(false);
        settle();
        platform::UserDefaults::standard().remove("coordinateFormat");
    }
}

// The custom radius entry of "My Location" in a small and a large window: its field, both buttons and
// every line of its message lie whole inside its card.
TEST_F(UserLocationSettingsScreenshotTest, CustomRadiusEntryFitsItsCard) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
            const QString name = QStringLiteral("settings-radius-entry-%1x%2-%3")
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            auto screen = open(helsinki());
            window_->resize(size);
            settle();
            screen->radiusBarButton()->trigger();
            settle();
            ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
            settle();
            ASSERT_EQ(topAlertTitle(), "Custom Radius");
            QWidget* card = recorder_->topAlert()->view();
            const QRect cardRect(card->mapTo(window_.get(), QPoint(0, 0)), card->size());
            EXPECT_TRUE(window_->rect().contains(cardRect));
            std::vector<QWidget*> parts;
            for (auto* field : card->findChildren<QLineEdit*>()) parts.push_back(field);
            for (auto* button : card->findChildren<QPushButton*>()) parts.push_back(button);
            ASSERT_GE(parts.size(), 3u);
            for (QWidget* part : parts) {
                if (!part->isVisibleTo(card)) continue;
                const QRect at(part->mapTo(window_.get(), QPoint(0, 0)), part->size());
                EXPECT_TRUE(cardRect.contains(at)) << part->objectName().toStdString();
                EXPECT_GE(part->width(), part->minimumSizeHint().width()) << part->objectName().toStdString();
                EXPECT_GE(part->height(), part->minimumSizeHint().height())
                    << part->objectName().toStdString();
            }
            auto* message = card->findChild<QLabel*>(QStringLiteral("alertMessage"));
            ASSERT_NE(message, nullptr);
            EXPECT_GE(message->height(), message->heightForWidth(message->width()));
            shoot(name, nullptr);
            ASSERT_TRUE(recorder_->chooseAction("Cancel"));
            navigation_->dismiss(false);
            settle();
        }
    }
}

TEST_F(UserLocationSettingsScreenshotTest, LongCoordinateTextInANarrowSheet) {
    // MGRS, the longest format, in degrees-minutes-seconds' place.
    platform::UserDefaults::standard().set("coordinateFormat", platform::PropertyValue(3));
    auto screen = std::make_shared<location::UserLocationSettingsViewController>();
    screen->setUserLocation(
        platform::CLLocation({-33.856784, 151.215297}, 5, 8, 5, 0, 0, platform::Date::now()));
    screen->setMainVC(mapScreen_);
    navigation_ = std::make_shared<platform::NavigationController>(screen);
    navigation_->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
    navigation_->setPreferredContentSize(QSizeF(320, 480));
    host_->present(navigation_, true);
    settle();
    shoot(QStringLiteral("settings-narrow-dms"), screen->map());
    const auto* label = screen->coordinateLabel();
    EXPECT_EQ(label->shownText(), label->text());
    EXPECT_LE(label->geometry().right(), screen->copyCoordinatesButton()->geometry().left());
}

}  // namespace
}  // namespace location_ui_test
