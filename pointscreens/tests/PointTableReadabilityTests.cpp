// The point list as a person reads it: title, sort symbols and section index
// in a light and a dark desktop palette (contrast read off the rendered
// pixels), rows after the window is resized, a new order opening at its top,
// all index letters inside a short list, deleted rows told apart and over-long
// words ended with an ellipsis. Screenshots at device pixel ratio 2.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/SegmentedControl.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TableViewSectionIndexBar.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/tests/PointTableTestSupport.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace tervolo::pointscreens {
namespace {

using tervolo::testsupport::inkPixels;
using tervolo::testsupport::strongestContrast;

class PointTableReadability : public pointscreens_test::PointTableScreenTest {
  protected:
    void SetUp() override {
        PointTableScreenTest::SetUp();
        saved_ = platform::NavigationBar::appearance();
        // The program's bars, as the application delegate sets them up on a light desktop.
        auto& proxy = platform::NavigationBar::appearance();
        proxy.barTintColor = QColor(Qt::white);
        platform::NavigationBar::TitleTextAttributes attributes;
        attributes.foregroundColor = QColor(Qt::black);
        proxy.titleTextAttributes = attributes;
    }
    void TearDown() override {
        platform::NavigationBar::appearance() = saved_;
        QApplication::setPalette(QPalette());
        PointTableScreenTest::TearDown();
    }

    // `widget`'s rect (or a part of it) in the window's points.
    QRectF inWindow(const QWidget* widget, QRectF part = {}) const {
        if (part.isNull()) part = QRectF(widget->rect());
        return part.translated(QPointF(widget->mapTo(window_.get(), QPoint(0, 0))));
    }

    QImage grab(double ratio) { return tervolo::testsupport::renderOnWindowColour(*window_, ratio); }

    // Points whose first letters run from A to Z, and a deleted one.
    void fillAlphabet() {
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            addPoint(fmt::format("{}lpha point {}", letter, letter));
        addPoint("Gone for good", 60.1, 25.1, true);
    }

    platform::NavigationBar::AppearanceProxy saved_;
};

// Title, the two symbol segments and the index letters read in both palettes, at one and two pixels
// per point. A dark theme's selection blue (#12608a) on its base (#3d3d3d) is 1.6:1, and a bar tinted
// white for the light desktop carried the dark palette's white title.
TEST_F(PointTableReadability, TitleSymbolsAndIndexReadInBothPalettes) {
    fillAlphabet();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        const QString palette = dark ? QStringLiteral("dark") : QStringLiteral("light");
        open(QSize(420, 900));
        platform::NavigationBar& bar = navigation_->navigationBar();
        QLabel* title = bar.titleLabel();
        ASSERT_NE(title, nullptr);
        ASSERT_EQ(title->text(), QStringLiteral("Locations"));
        platform::SegmentedControl* segments = list_->sortOrderControl();
        platform::TableViewSectionIndexBar* index = list_->tableView()->sectionIndexBar();
        ASSERT_TRUE(index->isVisible());
        for (const double ratio : {1.0, 2.0}) {
            SCOPED_TRACE(fmt::format("{} palette at ratio {}", palette.toStdString(), ratio));
            const QImage image = grab(ratio);
            pointscreens_test::saveScreenshot(
                image, QStringLiteral("pointtable-readable-%1@%2x").arg(palette).arg(ratio));
            const QColor barColour = bar.paintedBackground();
            EXPECT_GE(strongestContrast(image, inWindow(title), barColour), 4.5) << "title";
            // The ruler and clock segments, not selected: their symbols on the control's base.
            const QColor base = segments->palette().color(QPalette::Base);
            for (int segment : {1, 2}) {
                const QRectF face = segments->segmentRect(segment).adjusted(3, 3, -3, -3);
                EXPECT_GE(strongestContrast(image, inWindow(segments, face), base), 3.0)
                    << "segment " << segment;
            }
            EXPECT_GE(strongestContrast(image, inWindow(index), index->palette().color(QPalette::Base)), 4.5)
                << "section index";
        }
        presenter_->dismiss(false);
        settle();
    }
}

// A list too short for 27 index titles at their natural spacing: every letter is drawn inside the bar,
// each in its own slot, and a click on the last slot reaches "Z".
TEST_F(PointTableReadability, EveryIndexLetterFitsAShortList) {
    fillAlphabet();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        open(QSize(420, 400));
        platform::TableViewSectionIndexBar* index = list_->tableView()->sectionIndexBar();
        const QStringList titles = index->titles();
        ASSERT_EQ(titles.size(), 27);
        ASSERT_LT(index->height(), titles.size() * platform::TableViewSectionIndexBar::kItemHeight);
        const QImage image = grab(2.0);
        pointscreens_test::saveScreenshot(
            image,
            QStringLiteral("pointtable-index-short-%1@2x").arg(dark ? QStringLiteral("dark") : "light"));
        const QColor base = index->palette().color(QPalette::Base);
        const double slot = index->itemHeight();
        const double first = index->centreOf(0).y() - slot / 2;
        for (int i = 0; i < titles.size(); ++i) {
            const QRectF area(0, first + i * slot, index->width(), slot);
            EXPECT_LE(area.bottom(), index->height() + 0.5) << titles[i].toStdString();
            EXPECT_GT(inkPixels(image, inWindow(index, area), base), 4) << titles[i].toStdString();
        }
        QString chosen;
        index->setOnSelect([&chosen](int, const QString& title) { chosen = title; });
        QTest::mouseClick(index, Qt::LeftButton, {}, index->centreOf(static_cast<int>(titles.size()) - 1));
        EXPECT_EQ(chosen, titles.last());
        presenter_->dismiss(false);
        settle();
    }
}

// After the window is made wider and then narrower, every row in view is as tall as its texts need
// at the new width, and the detail line stays below the title.
TEST_F(PointTableReadability, RowsFollowTheWidthAfterAResize) {
    for (int i = 0; i < 12; ++i)
        addPoint(fmt::format("Point {} by the old market hall at the south harbour beside the ferry", i));
    open(QSize(420, 640));
    platform::TableView* table = list_->tableView();
    for (const int width : {1000, 300, 640}) {
        window_->resize(width, 640);
        settle();
        const auto rows = table->indexPathsForVisibleRows();
        ASSERT_FALSE(rows.empty());
        for (const auto& indexPath : rows) {
            platform::TableViewCell* cell = table->cellForRow(indexPath);
            ASSERT_NE(cell, nullptr);
            SCOPED_TRACE(fmt::format("width {} row {}", width, indexPath.row));
            EXPECT_EQ(cell->height(), cell->heightForWidth(cell->width()));
            const QRect title = cell->textLabel()->geometry();
            const QRect detail = cell->detailTextLabel()->geometry();
            EXPECT_LE(title.bottom(), detail.top());
            EXPECT_GE(title.height(), cell->textLabel()->heightForWidth(title.width()));
        }
        pointscreens_test::saveScreenshot(grab(2.0), QStringLiteral("pointtable-resized-%1@2x").arg(width));
    }
}

// A new order starts at its top, whatever the old one was scrolled to; the segment is clicked where it
// shows.
TEST_F(PointTableReadability, ANewOrderOpensAtTheTop) {
    fillAlphabet();
    platform::UserDefaults::standard().set(PointTableViewController::kLastSortOrderKey, "alphabetically");
    open(QSize(420, 500));
    platform::TableView* table = list_->tableView();
    table->setContentOffset(table->contentHeight());
    settle();
    ASSERT_GT(table->contentOffset(), 0);
    platform::SegmentedControl* segments = list_->sortOrderControl();
    QTest::mouseClick(segments, Qt::LeftButton, {}, segments->segmentRect(2).center().toPoint());
    settle();
    EXPECT_EQ(segments->selectedSegmentIndex(), 2);
    EXPECT_EQ(table->contentOffset(), 0);
}

// A deleted row is struck through in the quieter colour (still 4.5:1); a valid one is not. A title of
// one unbroken run wider than the row ends in an ellipsis instead of running off its edge.
TEST_F(PointTableReadability, DeletedRowsAndOverlongWordsShowWhatTheyAre) {
    addPoint("Kauppatori");
    addPoint("Gone", 60.1, 25.1, true);
    const std::string unbroken(90, 'W');
    addPoint(unbroken);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        open(QSize(420, 640));
        platform::TableView* table = list_->tableView();
        const QImage image = grab(2.0);
        pointscreens_test::saveScreenshot(
            image,
            QStringLiteral("pointtable-deleted-long-%1@2x").arg(dark ? QStringLiteral("dark") : "light"));
        bool sawDeleted = false;
        bool sawLong = false;
        for (const auto& indexPath : table->indexPathsForVisibleRows()) {
            auto* cell = static_cast<QuovaMapPointCell*>(table->cellForRow(indexPath));
            const QString title = cell->fullTitleText();
            QLabel* label = cell->textLabel();
            const QColor ink = label->palette().color(QPalette::WindowText);
            EXPECT_GE(strongestContrast(image, inWindow(label), cell->backgroundColor()), 4.5)
                << title.toStdString();
            if (title == QStringLiteral("Gone")) {
                sawDeleted = true;
                EXPECT_TRUE(label->font().strikeOut());
                EXPECT_NE(ink, cell->textColor());
            } else {
                EXPECT_FALSE(label->font().strikeOut()) << title.toStdString();
            }
            if (title == QString::fromStdString(unbroken)) {
                sawLong = true;
                EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                          label->contentsRect().width());
            }
        }
        EXPECT_TRUE(sawDeleted);
        EXPECT_TRUE(sawLong);
        presenter_->dismiss(false);
        settle();
    }
}

// Colour pictures (emoji) in a row keep their size and place once the print preview has been open:
// the PDF's pictures of the same glyphs are drawn apart from the screen's fonts. The rows' title
// labels are drawn the same before and after, at one and two pixels per point, and their letters
// keep their advances.
TEST_F(PointTableReadability, EmojiRowsLookTheSameAfterThePrintPreview) {
    const std::vector<std::string> titles = {"Pub \xF0\x9F\x8D\xBA Kallio",        // 🍺
                                             "\xF0\x9F\x8F\x96 Hietaranta beach",  // 🏖
                                             "Market \xF0\x9F\x9B\x92 square \xF0\x9F\x8E\x89 fun"};
    for (const auto& title : titles) addPoint(title);
    open(QSize(420, 640));
    platform::TableView* table = list_->tableView();
    const auto titleLabels = [&] {
        std::vector<QLabel*> labels;
        for (const auto& indexPath : table->indexPathsForVisibleRows())
            labels.push_back(table->cellForRow(indexPath)->textLabel());
        return labels;
    };
    const auto crops = [&](double ratio) {
        const QImage image = grab(ratio);
        std::vector<QImage> out;
        for (QLabel* label : titleLabels()) {
            const QRectF area = inWindow(label);
            out.push_back(image.copy(QRectF(area.topLeft() * ratio, area.size() * ratio).toAlignedRect()));
        }
        return std::make_pair(image, out);
    };
    std::vector<int> advances;
    for (QLabel* label : titleLabels())
        advances.push_back(label->fontMetrics().horizontalAdvance(label->text()));
    ASSERT_EQ(advances.size(), titles.size());
    const auto before1 = crops(1.0);
    const auto before2 = crops(2.0);
    pointscreens_test::saveScreenshot(before2.first, QStringLiteral("pointtable-emoji-before-preview@2x"));

    QPushButton* print = list_->printButton();
    ASSERT_NE(print, nullptr);
    QTest::mousePress(print, Qt::LeftButton, {}, print->rect().center());
    QTest::mouseRelease(print, Qt::LeftButton, {}, print->rect().center());
    settle();
    auto navigation =
        std::dynamic_pointer_cast<platform::NavigationController>(list_->presentedViewController());
    ASSERT_TRUE(navigation);
    // The preview as it shows, pages drawn.
    pointscreens_test::saveScreenshot(grab(1.0), QStringLiteral("pointtable-emoji-preview"));
    navigation->topViewController()->navigationItem().rightBarButtonItem()->trigger();
    settle();
    ASSERT_EQ(list_->presentedViewController(), nullptr);

    const auto after1 = crops(1.0);
    const auto after2 = crops(2.0);
    pointscreens_test::saveScreenshot(after2.first, QStringLiteral("pointtable-emoji-after-preview@2x"));
    ASSERT_EQ(after1.second.size(), before1.second.size());
    for (size_t i = 0; i < before1.second.size(); ++i) {
        SCOPED_TRACE(titles[i]);
        EXPECT_EQ(after1.second[i], before1.second[i]) << "ratio 1";
        EXPECT_EQ(after2.second[i], before2.second[i]) << "ratio 2";
    }
    const auto labels = titleLabels();
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_EQ(labels[i]->fontMetrics().horizontalAdvance(labels[i]->text()), advances[i]) << titles[i];
}

// The index's emoji titles ("🍺", "🏖", "🗑") are drawn from the list's first paint, not only once the
// pointer has passed over the bar: every slot has ink, the emoji slots colour, in both palettes.
TEST_F(PointTableReadability, EmojiIndexTitlesDrawFromTheFirstPaint) {
    addPoint("\xF0\x9F\x8D\xBA Beer garden");       // 🍺
    addPoint("\xF0\x9F\x8F\x96 Hietaranta beach");  // 🏖
    addPoint("\xF0\x9F\x97\x91 Recycling point");   // 🗑
    addPoint("Airport");
    addPoint("Zoo", 60.1, 25.1, true);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        open(QSize(420, 640));
        platform::TableViewSectionIndexBar* index = list_->tableView()->sectionIndexBar();
        const QStringList shown = index->titles();
        ASSERT_GE(shown.size(), 5);
        for (const double ratio : {1.0, 2.0}) {
            SCOPED_TRACE(fmt::format("{} at ratio {}", dark ? "dark" : "light", ratio));
            const QImage image = grab(ratio);
            pointscreens_test::saveScreenshot(
                image,
                QStringLiteral("pointtable-index-emoji-%1@%2x").arg(dark ? "dark" : "light").arg(ratio));
            const QColor base = index->palette().color(QPalette::Base);
            const double slot = index->itemHeight();
            const double first = index->centreOf(0).y() - slot / 2;
            for (int i = 0; i < shown.size(); ++i) {
                SCOPED_TRACE(shown[i].toStdString());
                const QRectF area = inWindow(index, QRectF(0, first + i * slot, index->width(), slot));
                EXPECT_GT(inkPixels(image, area, base), 4);
                if (shown[i].at(0).isHighSurrogate()) {
                    int coloured = 0;
                    const QRect pixels = QRectF(area.topLeft() * ratio, area.size() * ratio).toAlignedRect();
                    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
                        for (int x = pixels.left(); x <= pixels.right(); ++x)
                            if (image.pixelColor(x, y).hsvSaturation() > 90) ++coloured;
                    EXPECT_GT(coloured, 3) << "the emoji in colour";
                }
            }
        }
        presenter_->dismiss(false);
        settle();
    }
}

}  // namespace
}  // namespace tervolo::pointscreens
