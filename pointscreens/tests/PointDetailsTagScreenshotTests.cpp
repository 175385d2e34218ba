// Screenshots of the point details screen's tag section for a person to look
// at: the open tag editor with its table of stored tags (trash buttons, long,
// CJK and right-to-left titles) under coloured chips, light and dark, at
// device pixel ratios 1 and 2.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "PointDetailsTestSupport.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TextField.hpp"
#include "pointscreens/QuovaPopupController.hpp"

namespace {

// Links are drawn in the tag section's chips.
QPalette darkPalette() {
    QPalette dark = pointscreens_test::pointDetailsDarkPalette();
    dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    return dark;
}

class TagSectionScreenshotTest : public pointscreens_test::PointDetailsTest {
  protected:
    void TearDown() override {
        QApplication::setPalette(QPalette());
        PointDetailsTest::TearDown();
    }
};

TEST_F(TagSectionScreenshotTest, OpenEditorUnderColouredChips) {
    struct Tag {
        const char* title;
        const char* color;
        bool chip;
    };
    const Tag tags[] = {
        {"Weekend_trip_with_friends_and_the_dog_to_the_archipelago", "0,122,255", true},
        {"\xE5\x92\x96\xE5\x95\xA1\xE5\xBA\x97", "FF9500", true},        // 咖啡店
        {"\xD7\x97\xD7\x95\xD7\xA3\xD7\x99\xD7\x9D", "34C7597F", true},  // חופים, half transparent
        {"MustSee", "AF52DE", true},
        {"Bar", "FF2D55", false},
        {"Cinema", "5856D6", false},
        {"Museum_of_contemporary_art_and_design_with_a_very_long_name_indeed", "8E8E93", false},
        {"\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x82\xBF\xE3\x83\xAF\xE3\x83\xBC", "30B0C7", false},  // 東京タワー
        {"\xD7\xA9\xD7\x95\xD7\xA7_\xD7\x94\xD7\x9B\xD7\xA8\xD7\x9E\xD7\x9C", "A2845E", false},  // שוק_הכרמל
    };
    std::vector<std::string> chips;
    for (size_t i = 0; i < std::size(tags); ++i) {
        const std::string id = "TAG-" + std::to_string(i);
        storedTag(tags[i].title, id, tags[i].color);
        if (tags[i].chip) chips.push_back(id);
    }
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        for (const QSize size : {QSize(1000, 700), QSize(460, 900)}) {
            const QString name =
                QStringLiteral("tageditor-open-%1-%2")
                    .arg(size.width() > size.height() ? QStringLiteral("wide") : QStringLiteral("narrow"),
                         dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            auto point = savedPoint("Kauppatori", std::string("Market square"));
            point->setTags(chips);
            auto screen = present(point, size);
            screen->showTagEditor();
            settle();
            ASSERT_TRUE(screen->map()->waitForCells());
            settle();
            EXPECT_EQ(screen->tagTableView()->numberOfRows(0), 5);
            EXPECT_FALSE(screen->tagTableView()->isHidden());
            EXPECT_EQ(screen->tagTableView()->height(),
                      static_cast<int>(std::ceil(screen->tagTableViewHeight()->constant())));
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                              name + QStringLiteral("@2x"));
        }
    }
}

// The open editor's trash symbols stand out from their rows (3:1) and the empty "Tag name" field's
// placeholder reads (4.5:1) in a light palette and in a dark desktop theme's, whose link blue is
// about 2.8:1 on its rows and whose half-white placeholder about 4:1 on its fields. Pixels read off
// the screenshot at ratio 2.
TEST_F(TagSectionScreenshotTest, TrashSymbolsAndTagNamePlaceholderRead) {
    storedTag("Bar", "TAG-0", "FF2D55");
    storedTag("Cinema", "TAG-1", "5856D6");
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        auto screen = present(savedPoint("Kauppatori", std::string("Market square")), QSize(700, 800));
        screen->showTagEditor();
        settle();
        ASSERT_TRUE(screen->map()->waitForCells());
        settle();
        platform::TextField* field = screen->editTagTextField();
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(field->text().isEmpty());
        ASSERT_EQ(field->placeholderText(), QStringLiteral("Tag name"));
        field->clearFocus();  // no caret over the placeholder
        settle();
        const QImage image = pointscreens_test::grab(*window_, 2);
        pointscreens_test::saveScreenshot(
            image, QStringLiteral("tageditor-trash-placeholder-%1@2x").arg(dark ? "dark" : "light"));
        const auto inWindow = [this](const QWidget* widget, QRect part) {
            return QRectF(part.translated(widget->mapTo(window_.get(), QPoint(0, 0))));
        };
        // The placeholder's letters, inside the field's frame.
        const QRect text = field->contentsRect().adjusted(6, 3, -3, -3);
        const QRect letters(text.left(), text.top(),
                            field->fontMetrics().horizontalAdvance(field->placeholderText()), text.height());
        EXPECT_GE(tervolo::testsupport::strongestContrast(image, inWindow(field, letters),
                                                          field->palette().color(QPalette::Base)),
                  4.5)
            << "placeholder";
        platform::TableView* table = screen->tagTableView();
        ASSERT_EQ(table->numberOfRows(0), 2);
        for (int row = 0; row < 2; ++row) {
            auto* cell = table->cellForRow({0, row});
            ASSERT_NE(cell, nullptr);
            auto* trash = cell->findChild<QWidget*>(QStringLiteral("tagRowDeleteButton"));
            ASSERT_NE(trash, nullptr);
            EXPECT_GE(tervolo::testsupport::strongestContrast(image, inWindow(trash, trash->rect()),
                                                              cell->backgroundColor()),
                      3.0)
                << "trash symbol of row " << row;
        }
    }
}

TEST_F(TagSectionScreenshotTest, ColourPickerPopup) {
    const char* const titles[] = {"MustSee", "\xE5\x92\x96\xE5\x95\xA1\xE5\xBA\x97",
                                  "\xD7\x97\xD7\x95\xD7\xA3\xD7\x99\xD7\x9D"};
    std::vector<std::string> chips;
    for (size_t i = 0; i < std::size(titles); ++i) {
        chips.push_back("TAG-" + std::to_string(i));
        storedTag(titles[i], chips.back(), i == 0 ? "AF52DE" : "30B0C7");
    }
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        for (size_t chip = 0; chip < std::size(titles); ++chip) {
            const QString name = QStringLiteral("colorpicker-popup-%1-%2")
                                     .arg(static_cast<int>(chip))
                                     .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            auto point = savedPoint("Kauppatori", std::string("Market square"));
            point->setTags(chips);
            auto screen = present(point, QSize(800, 900));
            auto* flow = screen->tagFlowView();
            screen->tagPressed(flow->allTags().at(chip)->title(), flow->allTags().at(chip), flow);
            for (int i = 0; i < 4; ++i) {
                environment_.advance(0.5);
                settle();
            }
            auto popup = screen->colorPickerPopupController();
            ASSERT_NE(popup, nullptr);
            ASSERT_TRUE(popup->isPresented());
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
            if (chip == 0) {
                pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                                  name + QStringLiteral("@2x"));
            }
            popup->dismiss();
            for (int i = 0; i < 4; ++i) {
                environment_.advance(0.5);
                settle();
            }
        }
    }
}

}  // namespace
