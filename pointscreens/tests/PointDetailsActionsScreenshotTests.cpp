// Screenshots of the point details screen's radius sheet, custom radius
// entry and directions sheet over the screen, with long, CJK and
// right-to-left titles, in light and dark palettes at device pixel ratios 1
// and 2, for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "PointDetailsTestSupport.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/AlertController.hpp"
#include "points/BestKnownLocation.hpp"
#include "testsupport/FakeDesktopApplications.hpp"

namespace {

class ActionsScreenshotTest : public pointscreens_test::PointDetailsTest {
  protected:
    void TearDown() override {
        tervolo::points::setBestKnownLocationProvider({});
        platform::text::Locale::setCurrentForTesting(std::nullopt);
        QApplication::setPalette(QPalette());
        QApplication::setLayoutDirection(Qt::LeftToRight);
        PointDetailsTest::TearDown();
    }
};

TEST_F(ActionsScreenshotTest, RadiusSheetEntryAndDirectionsOverTheScreen) {
    tervolo::testsupport::FakeDesktopApplications applications(environment_.folder());
    for (const char* scheme : {"comgooglemaps", "magicearth", "osmandmaps", "uber", "waze"}) {
        applications.installApplication(std::string(scheme) + ".desktop", {scheme});
    }
    tervolo::points::setBestKnownLocationProvider(
        [] { return std::optional<platform::CLLocation>(platform::CLLocation(60.17, 24.94)); });
    platform::text::Locale::setCurrentForTesting(platform::text::Locale("fi_FI"));

    struct Case {
        const char* name;
        const char* title;
        const char* subtitle;
        std::optional<double> radius;
        Qt::LayoutDirection direction;
    };
    const Case cases[] = {
        {"long",
         "The old market hall by the south harbour, with the ferry terminal and the fish stalls beside it",
         "Etel\xC3\xA4ranta 1, 00130 Helsinki \xE2\x80\x94 open every day from seven in the morning", 300.0,
         Qt::LeftToRight},
        {"cjk",
         "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85 \xE4\xB8\xB8\xE3\x81\xAE\xE5\x86\x85\xE5\x8C\x97\xE5\x8F\xA3",
         "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE5\x8D\x83\xE4\xBB\xA3\xE7\x94\xB0\xE5\x8C\xBA", 1000.0,
         Qt::LeftToRight},
        {"rtl", "\xD7\xA9\xD7\x95\xD7\xA7 \xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C",
         "\xD7\xA8\xD7\x97\xD7\x95\xD7\x91 \xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C 1", std::nullopt,
         Qt::RightToLeft},
    };
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? pointscreens_test::pointDetailsDarkPalette() : QPalette());
        for (const Case& test : cases) {
            QApplication::setLayoutDirection(test.direction);
            for (const char* shown : {"radius", "entry", "directions"}) {
                const QString name = QStringLiteral("pointdetails-%1-%2-%3")
                                         .arg(QString::fromLatin1(shown), QString::fromLatin1(test.name),
                                              dark ? QStringLiteral("dark") : QStringLiteral("light"));
                SCOPED_TRACE(name.toStdString());
                platform::PresentationRecorder recorder;
                auto point = savedPoint(test.title, std::string(test.subtitle));
                point->setAlarmCircleDiameter(test.radius);
                auto screen = present(point, QSize(700, 760));
                ASSERT_TRUE(screen->map()->waitForCells());
                settle();
                if (std::string(shown) == "directions") {
                    screen->directionsButton()->trigger();
                } else {
                    screen->radiusButton()->trigger();
                }
                settle();
                if (std::string(shown) == "entry") {
                    ASSERT_TRUE(recorder.chooseAction("Custom ..."));
                    settle();
                    ASSERT_TRUE(recorder.typeText(0, "750"));
                    settle();
                }
                auto alert = recorder.topAlert();
                ASSERT_NE(alert, nullptr);
                // The sheet or entry lies wholly inside the window.
                QWidget* card = alert->view();
                ASSERT_NE(card, nullptr);
                EXPECT_TRUE(card->isVisible());
                const QRect inWindow(card->mapTo(window_.get(), QPoint(0, 0)), card->size());
                EXPECT_TRUE(window_->rect().contains(inWindow))
                    << inWindow.x() << "," << inWindow.y() << " " << inWindow.width() << "x"
                    << inWindow.height();
                pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
                if (test.name != std::string("cjk")) {
                    pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                                      name + QStringLiteral("@2x"));
                }
                recorder.pressEscape();
                settle();
            }
        }
    }
}

}  // namespace
