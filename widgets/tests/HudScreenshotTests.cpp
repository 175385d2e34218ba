#include <gtest/gtest.h>

#include <QLabel>

#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDAssets.hpp"
#include "widgets/tests/HudTestSupport.hpp"

using hud_test::HudTest;
using tervolo::widgets::hud::HUD;
using tervolo::widgets::hud::HUDAssets;
using tervolo::widgets::hud::HUDContentType;

// Every kind of panel over a window, settled (marks drawn, dimming in), for a person to look at:
// <build>/screenshots/widgets/hud_*.png.
TEST_F(HudTest, EveryPanelKindOverAWindow) {
    auto makeCustom = [] {
        auto* view = new QLabel(QStringLiteral("A view of the caller's"));
        view->setAlignment(Qt::AlignCenter);
        view->resize(220, 60);
        return view;
    };
    struct Case {
        const char* file;
        HUDContentType content;
    };
    const Case cases[] = {
        {"hud_success", HUDContentType::success()},
        {"hud_labeled_success", HUDContentType::labeledSuccess("Copied!", std::nullopt)},
        {"hud_labeled_success_subtitle",
         HUDContentType::labeledSuccess("Copied!", "Coordinates can now be pasted into any application.")},
        {"hud_tracking_mode",
         HUDContentType::labeledSuccess("Tracking Mode", "The map now tracks your location & heading.")},
        {"hud_error", HUDContentType::error()},
        {"hud_labeled_error", HUDContentType::labeledError("Not Saved", "The point could not be written.")},
        {"hud_labeled_success_cjk",
         HUDContentType::labeledSuccess("\u5DF2\u590D\u5236\uFF01",
                                        "\u5750\u6807\u73B0\u5728\u53EF\u4EE5\u7C98\u8D34\u5230\u4EFB"
                                        "\u4F55\u5E94\u7528\u7A0B\u5E8F\u4E2D\u3002")},
        {"hud_labeled_success_rtl",
         HUDContentType::labeledSuccess("\u05D4\u05D5\u05E2\u05EA\u05E7!",
                                        "\u05D4\u05E7\u05D5\u05D0\u05D5\u05E8\u05D3\u05D9\u05E0\u05D8"
                                        "\u05D5\u05EA \u05D4\u05D5\u05E2\u05EA\u05E7\u05D5 \u05D5\u05D0"
                                        "\u05E4\u05E9\u05E8 \u05DC\u05D4\u05D3\u05D1\u05D9\u05E7 \u05D0"
                                        "\u05D5\u05EA\u05DF \u05D1\u05DB\u05DC \u05D9\u05D9\u05E9\u05D5"
                                        "\u05DD.")},
        {"hud_labeled_progress", HUDContentType::labeledProgress("Loading", "Map tiles")},
        {"hud_system_activity", HUDContentType::systemActivity()},
        {"hud_labeled_image",
         HUDContentType::labeledImage(HUDAssets::checkmarkImage(), "Image", "From the kit")},
        {"hud_rotating_image", HUDContentType::rotatingImage(HUDAssets::progressCircularImage())},
        {"hud_label",
         HUDContentType::label("The short link could not be made; the point is shared as a web map "
                               "link instead, which works everywhere.")},
        {"hud_custom_view", HUDContentType::customView(makeCustom())},
    };
    const QImage plain = widgetkit_test::render(*target());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        HUD::show(c.content, target());
        advance(1.05);  // dimming in, marks drawn, crosses settled; pictures turned by 7/8 of a turn
        const QImage shot = widgetkit_test::render(*target());
        // The dimming darkens the window outside the panel by a quarter.
        EXPECT_NEAR(qGray(shot.pixel(5, 5)), 0.75 * qGray(plain.pixel(5, 5)), 3);
        widgetkit_test::saveScreenshot(shot, QString::fromUtf8(c.file));
        HUD::hide();
    }
}

// Halfway through the fade of a flash.
TEST_F(HudTest, APanelFadingOut) {
    HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), target(), 1.0);
    advance(1.4);
    widgetkit_test::saveScreenshot(widgetkit_test::render(*target()), QStringLiteral("hud_fading"));
    advance(0.4);
    EXPECT_FALSE(HUD::isVisible());
}
