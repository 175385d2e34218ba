// Screenshots of the point list: its three orders with 40 points (long, CJK
// and right-to-left titles, deleted ones), an active filter and the empty
// list, in light and dark palettes at device pixel ratio 2.
#include <QPdfView>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "pointscreens/tests/PointTableTestSupport.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace tervolo::pointscreens {
namespace {

QPalette darkPalette() {
    QPalette dark = tervolo::testsupport::darkScreenshotPalette();
    dark.setColor(QPalette::AlternateBase, QColor(0x24, 0x26, 0x29));
    dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0xa0, 0xa6));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    dark.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    return dark;
}

QImage grab(QWidget& widget, double ratio) {
    return tervolo::testsupport::renderOnWindowColour(widget, ratio);
}

class PointTableScreenshot : public pointscreens_test::PointTableScreenTest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        PointTableScreenTest::TearDown();
    }

    void fill() {
        auto bar = points::QuovaPointTag::make("bar");
        points::QuovaPointTagStore::shared().replaceTagsForTesting(std::vector{bar});
        const char* const titles[] = {
            "Kauppatori",
            "The old market hall by the south harbour, with the ferry terminal and the fish stalls beside it",
            "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85 "
            "\xE4\xB8\xB8\xE3\x81\xAE\xE5\x86\x85\xE5\x8C\x97\xE5\x8F\xA3",
            "\xD7\xA9\xD7\x95\xD7\xA7 \xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C",
            "\xC3\x89glise Saint-Eustache",
            "Stra\xC3\x9F"
            "enbahn depot",
            "apple orchard",
            "Bar Loose",
            "Caf\xC3\xA9 Regatta",
            "Dog park",
            "42nd street corner",
            "Zoo gate",
        };
        for (int i = 0; i < 40; ++i) {
            std::string title = titles[i % std::size(titles)];
            if (i >= static_cast<int>(std::size(titles))) title = fmt::format("{} {}", title, i);
            environment_.advance(60);  // distinct last-change times
            auto point = addPoint(title, 60.0 + i * 0.013, 24.9 + (i % 7) * 0.02, i % 9 == 4);
            if (i % 5 == 0) {
                point->setTags(std::vector<std::string>{bar->uuid()});
            }
            if (i % 6 == 1)
                point->setSubtitle("Pohjoisesplanadi 11-13, 00170 Helsinki, a long address that wraps");
        }
        location_ = platform::CLLocation(60.17, 24.95);
    }

    void shoot(const QString& name) {
        settle();
        pointscreens_test::saveScreenshot(grab(*window_, 2.0), name);
    }
};

TEST_F(PointTableScreenshot, OrdersFilterAndEmpty) {
    fill();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        const QString palette = dark ? QStringLiteral("dark") : QStringLiteral("light");
        for (const auto& [order, name] :
             {std::pair{"alphabetically", "az"}, std::pair{"byDistance", "distance"},
              std::pair{"byLastChange", "lastchange"}}) {
            platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, order);
            platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "");
            open();
            // A fix, so the rows show their distances.
            postFix(60.17, 24.95);
            shoot(QStringLiteral("pointtable-%1-%2").arg(QString::fromLatin1(name), palette));
            // The deleted section at the end.
            list_->tableView()->setContentOffset(list_->tableView()->contentHeight());
            shoot(QStringLiteral("pointtable-%1-%2-end").arg(QString::fromLatin1(name), palette));
            presenter_->dismiss(false);
            settle();
        }
        platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "alphabetically");
        platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "#bar");
        open();
        shoot(QStringLiteral("pointtable-filter-%1").arg(palette));
        presenter_->dismiss(false);
        settle();
        platform::UserDefaults::standard().set(PointTableViewController::kLastFilterKey, "#nosuchtag");
        open();
        EXPECT_EQ(list_->tableView()->numberOfSections(), 0);
        shoot(QStringLiteral("pointtable-empty-%1").arg(palette));
        presenter_->dismiss(false);
        settle();
    }
}

}  // namespace
}  // namespace tervolo::pointscreens
