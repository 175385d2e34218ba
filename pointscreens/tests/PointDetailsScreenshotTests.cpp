// Screenshots of the point details screen for a person to look at: wide and
// narrow windows, viewing and edited, long, CJK and right-to-left titles, many
// chips and a circle on the small map, in light and dark palettes at device
// pixel ratios 1 and 2.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QScrollBar>
#include <QTest>

#include <cmath>

#include "PointDetailsTestSupport.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "pointscreens/PointDetailsContent.hpp"

using tervolo::pointscreens::PointDetailsViewController;

namespace {

class PointDetailsScreenshotTest : public pointscreens_test::PointDetailsTest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        PointDetailsTest::TearDown();
    }
};

TEST_F(PointDetailsScreenshotTest, WideAndNarrowViewingAndEdited) {
    const char* const tagNames[] = {"Work",
                                    "Beach",
                                    "Must see",
                                    "Coffee",
                                    "\xE5\x92\x96\xE5\x95\xA1",
                                    "\xD7\x97\xD7\x95\xD7\xA3",
                                    "Family",
                                    "Weekend trip with friends",
                                    "Museum",
                                    "Dog friendly"};
    const char* const colors[] = {"0,122,255", "FF9500", "52,199,89", "AF52DE", "FF2D55",
                                  "5856D6",    "8E8E93", "255,204,0", "30B0C7", "A2845E"};
    std::vector<std::string> identifiers;
    for (size_t i = 0; i < std::size(tagNames); ++i) {
        identifiers.push_back("TAG-" + std::to_string(i));
        storedTag(tagNames[i], identifiers.back(), colors[i]);
    }
    struct Case {
        const char* name;
        const char* title;
        const char* subtitle;
        size_t chips;
        std::optional<double> radius;
        const char* source;
        Qt::LayoutDirection direction;
    };
    const Case cases[] = {
        {"long",
         "The old market hall by the south harbour, with the ferry terminal and the fish stalls beside it",
         "Eteläranta 1, 00130 Helsinki — open every day from seven in the morning, closed on public holidays",
         10, 400.0, "Yelp", Qt::LeftToRight},
        {"cjk",
         "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85 \xE4\xB8\xB8\xE3\x81\xAE\xE5\x86\x85\xE5\x8C\x97\xE5\x8F\xA3",
         "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE5\x8D\x83\xE4\xBB\xA3\xE7\x94\xB0\xE5\x8C\xBA\xE4\xB8\xB8"
         "\xE3\x81"
         "\xAE\xE5\x86\x85\xE4\xB8\x80\xE4\xB8\x81\xE7\x9B\xAE",
         3, 1500.0, "Google", Qt::LeftToRight},
        {"rtl", "\xD7\xA9\xD7\x95\xD7\xA7 \xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C",
         "\xD7\xA8\xD7\x97\xD7\x95\xD7\x91 \xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C 1, \xD7\xAA\xD7\x9C "
         "\xD7\x90\xD7\x91\xD7\x99\xD7\x91",
         2, std::nullopt, "OpenStreetMap", Qt::RightToLeft},
        {"no-tags", "Kauppatori", "", 0, std::nullopt, nullptr, Qt::LeftToRight},
    };
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? pointscreens_test::pointDetailsDarkPalette() : QPalette());
        for (const Case& test : cases) {
            for (const QSize size : {QSize(1000, 620), QSize(460, 860)}) {
                for (const bool edited : {false, true}) {
                    const QString name =
                        QStringLiteral("pointdetails-%1-%2-%3-%4")
                            .arg(QString::fromLatin1(test.name),
                                 size.width() > size.height() ? QStringLiteral("wide")
                                                              : QStringLiteral("narrow"),
                                 edited ? QStringLiteral("edited") : QStringLiteral("viewing"),
                                 dark ? QStringLiteral("dark") : QStringLiteral("light"));
                    SCOPED_TRACE(name.toStdString());
                    QApplication::setLayoutDirection(test.direction);
                    auto point = savedPoint(test.title, std::string(test.subtitle));
                    point->setTags(std::vector<std::string>(
                        identifiers.begin(), identifiers.begin() + static_cast<long>(test.chips)));
                    point->setAlarmCircleDiameter(test.radius);
                    if (test.source) {
                        point->setDataSourceName(std::string(test.source));
                        point->setDataSourceURL(std::string("https://example.org/place/1"));
                        point->setDataSourceUniqueID(std::string("ChIJ-test"));
                    }
                    auto screen = present(point, size);
                    if (edited) {
                        type(screen->titleView(), QStringLiteral(" (new)"));
                        screen->showTagEditor();
                        type(screen->editTagTextField(), QStringLiteral("Picnic"));
                    }
                    settle();
                    ASSERT_TRUE(screen->map()->waitForCells());
                    settle();
                    // Nothing runs past the window's edge.
                    const QRect area = screen->view()->rect();
                    for (QWidget* part : std::initializer_list<QWidget*>{
                             screen->titleView(), screen->subtitleView(), screen->coordinateLabel(),
                             screen->map(), screen->pointInfoTextView()}) {
                        const QRect inView(part->mapTo(screen->view(), QPoint(0, 0)), part->size());
                        EXPECT_TRUE(area.contains(inView)) << part->objectName().toStdString();
                    }
                    EXPECT_EQ(screen->titleView()->height(),
                              static_cast<int>(std::ceil(screen->titleHeight()->constant())));
                    pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
                    if (test.name == std::string("long") || test.name == std::string("rtl")) {
                        pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                                          name + QStringLiteral("@2x"));
                    }
                }
            }
        }
    }
    QApplication::setLayoutDirection(Qt::LeftToRight);
}

// Titles far longer than their row (100 KB of words, and long CJK and right-to-left ones with a long
// subtitle): each text view is held to a third of the screen and scrolls, its first lines show (its
// last ones after a word typed at its end), and the rows below stay in place.
TEST_F(PointDetailsScreenshotTest, AHundredKilobyteTitle) {
    const auto repeated = [](const char* words, size_t size) {
        std::string text;
        while (text.size() < size) text += words;
        return text;
    };
    std::string title;
    const char* const words[] = {"Harbour ", "market ", "square ", "by the ", "old ", "ferry ", "gate "};
    for (size_t i = 0; title.size() < 100 * 1024; ++i) title += words[i % 7];
    const std::string address = "Pohjoisesplanadi 1, 00170 Helsinki";
    struct Case {
        const char* name;
        std::string title;
        std::string subtitle;
        Qt::LayoutDirection direction;
    };
    const Case cases[] = {
        {"100kb-title", title, address, Qt::LeftToRight},
        {"long-cjk-title",
         repeated("\xE8\xB5\xAB\xE5\xB0\x94\xE8\xBE\x9B\xE5\x9F\xBA\xE9\x9B\x86\xE5\xB8\x82\xE5\xB9\xBF"
                  "\xE5\x9C\xBA\xE6\x97\x81\xE7\x9A\x84\xE8\x80\x81\xE6\xB8\xA1\xE5\x8F\xA3",
                  24 * 1024),
         repeated("\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE5\x8D\x83\xE4\xBB\xA3\xE7\x94\xB0\xE5\x8C\xBA ",
                  2 * 1024),
         Qt::LeftToRight},
        {"long-rtl-title",
         repeated("\xD7\xA9\xD7\x95\xD7\xA7 \xD7\x94\xD7\xA0\xD7\x9E\xD7\x9C \xD7\x9C\xD7\x99\xD7\x93 "
                  "\xD8\xB3\xD9\x88\xD9\x82 \xD8\xA7\xD9\x84\xD9\x85\xD9\x8A\xD9\x86\xD8\xA7\xD8\xA1 ",
                  24 * 1024),
         address, Qt::RightToLeft},
    };
    for (const Case& test : cases) {
        QApplication::setLayoutDirection(test.direction);
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? pointscreens_test::pointDetailsDarkPalette() : QPalette());
            for (const bool edited : {false, true}) {
                const QString name = QStringLiteral("pointdetails-%1-%2-%3")
                                         .arg(QString::fromLatin1(test.name),
                                              edited ? QStringLiteral("edited") : QStringLiteral("viewing"),
                                              dark ? QStringLiteral("dark") : QStringLiteral("light"));
                SCOPED_TRACE(name.toStdString());
                auto screen = present(savedPoint(test.title, test.subtitle));
                if (edited) {
                    type(screen->titleView(), QStringLiteral(" END"));
                    screen->titleView()->clearFocus();
                }
                settle();
                ASSERT_TRUE(screen->map()->waitForCells());
                settle();
                const double limit = tervolo::pointscreens::textRowHeightLimit(screen->view()->height());
                EXPECT_LE(screen->titleView()->height(), static_cast<int>(limit));
                EXPECT_TRUE(screen->titleView()->verticalScrollBar()->isVisible());
                EXPECT_EQ(screen->titleView()->height(),
                          static_cast<int>(std::ceil(screen->titleHeight()->constant())));
                EXPECT_EQ(screen->titleView()->verticalScrollBar()->value() > 0, edited);
                const QRect area = screen->view()->rect();
                for (QWidget* part : std::initializer_list<QWidget*>{
                         screen->titleView(), screen->subtitleView(), screen->coordinateLabel(),
                         screen->map(), screen->pointInfoTextView()}) {
                    const QRect inView(part->mapTo(screen->view(), QPoint(0, 0)), part->size());
                    EXPECT_TRUE(area.contains(inView)) << part->objectName().toStdString();
                }
                pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
                pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                                  name + QStringLiteral("@2x"));
            }
        }
    }
    QApplication::setLayoutDirection(Qt::LeftToRight);
}

}  // namespace
