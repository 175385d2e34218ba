#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/Label.hpp"
#include "widgets/hud/HUDAnimation.hpp"
#include "widgets/hud/HUDAssets.hpp"
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

namespace {

namespace hud = tervolo::widgets::hud;
constexpr double kPi = std::numbers::pi;

// The marks are drawn in dark grey (0.15) on nothing.
bool inked(const QImage& image, QPoint at) {
    const QColor c = image.pixelColor(at);
    return c.alpha() > 200 && c.red() < 90;
}

bool blank(const QImage& image, QPoint at) {
    return image.pixelColor(at).alpha() < 20;
}

QImage picture(QWidget& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

TEST_F(HudTest, SquarePanelRowsFollowTheHeightAndTheHudMargins) {
    struct Case {
        const char* name;
        QSizeF bounds;
        double margin;
        QRectF title, image, subtitle;
    };
    const Case cases[] = {
        {"default", {156, 156}, 0, {0, 0, 156, 39}, {0, 39, 156, 78}, {0, 117, 156, 39}},
        {"margins 5 + 3", {156, 156}, 8, {8, 0, 140, 39}, {8, 39, 140, 78}, {8, 117, 140, 39}},
        {"negative margins", {156, 156}, -4, {0, 0, 164, 39}, {0, 39, 164, 78}, {0, 117, 164, 39}},
        {"rows round up", {100, 101}, 0, {0, 0, 100, 26}, {0, 26, 100, 51}, {0, 76, 100, 26}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rows = hud::HUDSquareBaseView::rows(c.bounds, c.margin);
        EXPECT_EQ(rows.title, c.title);
        EXPECT_EQ(rows.image, c.image);
        EXPECT_EQ(rows.subtitle, c.subtitle);
    }

    // A panel lays its rows out with the shared HUD's margins.
    hud().setLeadingMargin(5);
    hud().setTrailingMargin(3);
    hud::HUDSuccessView panel("Copied!", "Now paste it");
    EXPECT_EQ(panel.geometry(), QRect(0, 0, 156, 156));
    EXPECT_EQ(panel.titleLabel()->geometry(), QRect(8, 0, 140, 39));
    EXPECT_EQ(panel.imageView()->geometry(), QRect(8, 39, 140, 78));
    EXPECT_EQ(panel.subtitleLabel()->geometry(), QRect(8, 117, 140, 39));
}

// A subtitle wrapped over its two lines keeps off the panel's sides, whatever its script; the row
// itself still spans the panel.
TEST_F(HudTest, SquarePanelSubtitleKeepsOffThePanelSides) {
    const char* subtitles[] = {
        "Coordinates can now be pasted into any application.",
        "The map now tracks your location & heading.",
        "\u5750\u6807\u73B0\u5728\u53EF\u4EE5\u7C98\u8D34\u5230\u4EFB\u4F55\u5E94\u7528\u7A0B"
        "\u5E8F\u4E2D\uFF0C\u5305\u62EC\u5730\u56FE\u548C\u90AE\u4EF6\u3002",
        "\u05D4\u05E7\u05D5\u05D0\u05D5\u05E8\u05D3\u05D9\u05E0\u05D8\u05D5\u05EA \u05D4\u05D5\u05E2\u05EA"
        "\u05E7\u05D5 \u05D5\u05D0\u05E4\u05E9\u05E8 \u05DC\u05D4\u05D3\u05D1\u05D9\u05E7 \u05D0\u05D5"
        "\u05EA\u05DF \u05D1\u05DB\u05DC \u05D9\u05D9\u05E9\u05D5\u05DD.",
    };
    for (const char* subtitle : subtitles) {
        SCOPED_TRACE(subtitle);
        hud::HUDSuccessView panel(std::nullopt, subtitle);
        const QRect row = panel.subtitleLabel()->geometry();
        // The panel widens for a long subtitle (keeping its height), so the text keeps its full size
        // rather than shrinking to about 9 px.
        EXPECT_EQ(row, QRect(0, 117, panel.width(), 39));
        EXPECT_GE(panel.width(), 156);
        EXPECT_LE(panel.width(), 312);
        EXPECT_EQ(panel.height(), 156);
        widgetkit_test::saveScreenshot(widgetkit_test::render(panel, 2.0),
                                       QStringLiteral("hud_subtitle_%1@2x").arg(panel.width()));
        // Read once drawn: a widget never shown gets its resize when it is first drawn.
        EXPECT_DOUBLE_EQ(panel.subtitleLabel()->appliedScale(), 1.0);
        EXPECT_EQ(panel.subtitleLabel()->shownLines().join(QString()).remove(QLatin1Char(' ')),
                  QString::fromUtf8(subtitle).remove(QLatin1Char(' ')));
        const QImage image = picture(panel);
        int left = image.width();
        int right = -1;
        for (int y = row.top(); y <= row.bottom(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).alpha() > 40) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        ASSERT_GE(right, 0) << "no subtitle drawn";
        EXPECT_GE(left, 8) << left << ".." << right;
        EXPECT_LE(right, image.width() - 9) << left << ".." << right;
    }
}

// The check mark runs from (38, 77) to (68, 106) to (122, 50) and draws itself in 0.35 s.
TEST_F(HudTest, TheCheckMarkIsDrawnWhereItBelongsAndDrawsItselfIn) {
    hud::HUDSuccessView panel;
    struct Probe {
        QPoint at;
        bool atHalfTime;  // inked halfway through the stroke
        bool atEnd;
    };
    const Probe probes[] = {
        {{53, 91}, true, true},      // first leg
        {{68, 105}, true, true},     // the bottom corner
        {{75, 99}, true, true},      // the second leg's start
        {{95, 78}, false, true},     // the second leg's middle
        {{120, 52}, false, true},    // its end
        {{53, 60}, false, false},    // inside the angle
        {{100, 100}, false, false},  // below the second leg
        {{30, 77}, false, false},    // before the start
    };
    panel.startAnimation();
    EXPECT_DOUBLE_EQ(panel.checkmarkShapeLayer().strokeEnd, 0);
    advance(0.175);
    const QImage half = picture(panel);
    advance(0.175);
    const QImage whole = picture(panel);
    for (const auto& p : probes) {
        SCOPED_TRACE(testing::Message() << p.at.x() << "," << p.at.y());
        EXPECT_EQ(inked(half, p.at), p.atHalfTime);
        EXPECT_EQ(blank(half, p.at), !p.atHalfTime);
        EXPECT_EQ(inked(whole, p.at), p.atEnd);
        EXPECT_EQ(blank(whole, p.at), !p.atEnd);
    }
    EXPECT_TRUE(platform::Animator::animationKeys(&panel).empty());
    // Stopping while it draws shows the whole mark.
    panel.startAnimation();
    advance(0.1);
    panel.stopAnimation();
    EXPECT_DOUBLE_EQ(panel.checkmarkShapeLayer().strokeEnd, 1);
}

// The cross's dashes swing from level to ±45° about the panel's middle, overshooting on the way,
// and end exactly at ±45° after 1 s.
TEST_F(HudTest, TheCrossSwingsIntoPlace) {
    hud::HUDErrorView panel;
    const QImage level = picture(panel);
    EXPECT_TRUE(inked(level, {40, 78}));
    EXPECT_TRUE(inked(level, {116, 78}));
    EXPECT_TRUE(blank(level, {60, 60}));

    panel.startAnimation();
    double widest = 0;
    for (int step = 0; step < 50; ++step) {
        advance(0.02);
        widest = std::max(widest, panel.dashTwoRotation());
        EXPECT_NEAR(panel.dashOneRotation(), -panel.dashTwoRotation(), 1e-9);
    }
    EXPECT_GT(widest, 1.3 * kPi / 4);
    EXPECT_DOUBLE_EQ(panel.dashTwoRotation(), kPi / 4);
    EXPECT_DOUBLE_EQ(panel.dashOneRotation(), -kPi / 4);

    const QImage cross = picture(panel);
    struct Probe {
        QPoint at;
        bool ink;
    };
    const Probe probes[] = {{{78, 78}, true},   {{60, 60}, true}, {{96, 96}, true},  {{60, 96}, true},
                            {{96, 60}, true},   {{50, 50}, true}, {{78, 50}, false}, {{50, 78}, false},
                            {{116, 78}, false}, {{40, 40}, false}};
    for (const auto& p : probes) {
        SCOPED_TRACE(testing::Message() << p.at.x() << "," << p.at.y());
        EXPECT_EQ(inked(cross, p.at), p.ink);
        EXPECT_EQ(blank(cross, p.at), !p.ink);
    }
}

// The progress picture jumps 30° every 0.1 s; a rotating picture turns evenly; both once per 1.2 s,
// and on after a stop.
TEST_F(HudTest, ProgressPicturesTurnStepwiseOrEvenly) {
    struct Case {
        const char* name;
        bool stepwise;
        std::vector<std::pair<double, double>> samples;  // (seconds since start, radians)
    };
    const Case cases[] = {
        {"progress", true, {{0.05, 0}, {0.15, kPi / 6}, {0.55, 5 * kPi / 6}, {1.25, 0}, {1.35, kPi / 6}}},
        {"rotating image", false, {{0.3, kPi / 2}, {0.6, kPi}, {1.5, kPi / 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<hud::HUDSquareBaseView> panel;
        if (c.stepwise) {
            panel = std::make_unique<hud::HUDProgressView>("Loading", std::nullopt);
        } else {
            panel = std::make_unique<hud::HUDRotatingImageView>(hud::HUDAssets::progressCircularImage(),
                                                                std::nullopt, std::nullopt);
        }
        EXPECT_FALSE(panel->imageView()->image().isNull());
        dynamic_cast<hud::HUDAnimating&>(*panel).startAnimation();
        double elapsed = 0;
        for (const auto& [at, radians] : c.samples) {
            advance(at - elapsed);
            elapsed = at;
            EXPECT_NEAR(panel->imageView()->rotation(), radians, 1e-6) << at << " s";
        }
        auto& animating = dynamic_cast<hud::HUDAnimating&>(*panel);
        ASSERT_TRUE(animating.hasStopAnimation());
        animating.stopAnimation();
        const double before = panel->imageView()->rotation();
        advance(0.3);
        EXPECT_NE(panel->imageView()->rotation(), before);
        EXPECT_EQ(platform::Animator::animationKeys(panel->imageView()),
                  std::vector<std::string>{hud::HUDAnimation::kAnimationKey});
    }
}

TEST_F(HudTest, TheActivityPanelShowsOnlyItsWheelInTheMiddle) {
    hud::HUDSystemActivityIndicatorView panel;
    panel.show();
    auto* wheel = panel.activityIndicatorView();
    EXPECT_EQ(wheel->sizeHint(), QSize(37, 37));
    EXPECT_NEAR(QRectF(wheel->geometry()).center().x(), 78, 0.5);
    EXPECT_NEAR(QRectF(wheel->geometry()).center().y(), 78, 0.5);
    EXPECT_EQ(wheel->color(), QColor(Qt::black));
    EXPECT_DOUBLE_EQ(platform::alpha(&panel), 0.8);
    EXPECT_FALSE(wheel->isAnimating());
    EXPECT_TRUE(panel.titleLabel()->isHidden());
    EXPECT_TRUE(panel.subtitleLabel()->isHidden());
    EXPECT_TRUE(panel.imageView()->isHidden());
    panel.startAnimation();
    EXPECT_TRUE(wheel->isAnimating());
    EXPECT_TRUE(wheel->isVisible());
    EXPECT_FALSE(panel.hasStopAnimation());
}

// Texts fit their rows: the subtitle shrinks to two lines (down to a quarter of its size), the text
// panel keeps its size and cuts a text longer than three lines.
TEST_F(HudTest, TextsShrinkOrAreCutToTheirLines) {
    const QString longText = QStringLiteral(
        "The point could not be shared because the short link service did not answer in time; "
        "please check the network connection and try again in a few minutes from now.");

    hud::HUDTextView text(std::optional<std::string>("Saved"));
    EXPECT_EQ(text.geometry(), QRect(0, 0, 265, 90));
    EXPECT_EQ(text.titleLabel()->geometry(), QRect(10, 10, 245, 70));
    EXPECT_EQ(text.titleLabel()->shownLines(), QStringList{QStringLiteral("Saved")});

    hud::HUDTextView cut(longText.toStdString());
    const QStringList lines = cut.titleLabel()->shownLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026)));
    EXPECT_EQ(cut.titleLabel()->appliedScale(), 1);

    struct Case {
        const char* name;
        QString subtitle;
        bool shrinks;
        bool cut;
    };
    const Case cases[] = {
        {"short", QStringLiteral("Done"), false, false},
        {"three lines at full size", QStringLiteral("Coordinates can now be pasted into any application."),
         true, false},
        {"too long even at a quarter", longText + longText + longText + longText, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hud::HUDSuccessView panel("Copied!", c.subtitle.toStdString());
        const auto* label = panel.subtitleLabel();
        EXPECT_LE(label->shownLines().size(), 2);
        EXPECT_EQ(label->appliedScale() < 1, c.shrinks);
        EXPECT_EQ(label->shownLines().join(QLatin1Char(' ')).endsWith(QChar(0x2026)), c.cut);
        if (c.cut) {
            EXPECT_DOUBLE_EQ(label->appliedScale(), 0.25);
        } else {
            EXPECT_EQ(label->shownLines().join(QLatin1Char(' ')), c.subtitle);
        }
    }
}

// A line feed breaks the line wherever the width would allow more; with one line left the rest
// joins the last line, cut at the width.
TEST_F(HudTest, ALineFeedBreaksTheLine) {
    hud::MultilineLabel label;
    label.resize(400, 200);
    label.setNumberOfLines(0);
    label.setText(QStringLiteral("First line\nSecond line"));
    EXPECT_EQ(label.shownLines(), (QStringList{QStringLiteral("First line"), QStringLiteral("Second line")}));
    label.setNumberOfLines(1);
    EXPECT_EQ(label.shownLines(), QStringList{QStringLiteral("First line Second line")});
}

// The kit's pictures are built in; an unknown name is the empty picture, never a failure.
TEST_F(HudTest, TheKitsPicturesAreFoundByNameAndUnknownOnesAreEmpty) {
    struct Case {
        const char* name;
        platform::NamedImage image;
    };
    const Case found[] = {{"cross", hud::HUDAssets::crossImage()},
                          {"checkmark", hud::HUDAssets::checkmarkImage()},
                          {"progress_activity", hud::HUDAssets::progressActivityImage()},
                          {"progress_circular", hud::HUDAssets::progressCircularImage()}};
    for (const auto& c : found) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.image.isNull());
        EXPECT_TRUE(c.image.isVector());
        const QImage drawn = c.image.render(c.image.size());
        int opaque = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) opaque += drawn.pixelColor(x, y).alpha() > 128;
        }
        EXPECT_GT(opaque, 50);
    }
    EXPECT_TRUE(hud::HUDAssets::bundledImage("no_such_picture").isNull());
    EXPECT_TRUE(hud::HUDAssets::bundledImage("").isNull());

    hud::HUDSquareBaseView panel(hud::HUDAssets::bundledImage("no_such_picture"), "Title", std::nullopt);
    const QImage drawn = picture(*panel.imageView());
    for (int y = 0; y < drawn.height(); y += 3) {
        for (int x = 0; x < drawn.width(); x += 3) ASSERT_TRUE(blank(drawn, {x, y}));
    }
}
