#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>

#include <cmath>

#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/TextMeasure.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "widgets/taglist/CloseButton.hpp"
#include "widgets/taglist/TagFlowView.hpp"

namespace tervolo::widgets::taglist {
namespace {

// Widths come from the same measurement the code uses, never from numbers
// written here: fonts differ between machines.
double chipHeight(const QString& title, const QFont& font, double paddingY = 2) {
    return std::ceil(platform::lineHeight(font, title)) + 2 * paddingY;
}

double chipWidth(const QString& title, const QFont& font, double paddingX = 5, double paddingY = 2) {
    const double height = chipHeight(title, font, paddingY);
    return std::max(platform::textSize(font, title).width() + 2 * paddingX, height);
}

QFont font12() {
    QFont font;
    font.setPointSizeF(12);
    return font;
}

class RecordingDelegate : public TagFlowViewDelegate {
  public:
    std::vector<std::string> calls;
    void tagPressed(const QString& title, TagView*, TagFlowView*) override {
        calls.push_back("pressed " + title.toStdString());
    }
    void tagRemoveButtonPressed(const QString& title, TagView*, TagFlowView*) override {
        calls.push_back("remove " + title.toStdString());
    }
};

class TagViewTest : public widgetkit_test::WidgetTest {};
class TagFlowViewTest : public widgetkit_test::WidgetTest {
  protected:
    std::unique_ptr<TagFlowView> makeList(int width) {
        auto list = std::make_unique<TagFlowView>();
        list->resize(width, 200);
        list->show();  // a hidden widget hears of its resizes only when shown
        return list;
    }
};

TEST_F(TagViewTest, ChipSizeFollowsTitlePaddingAndRemoveButton) {
    struct Case {
        QString title;
        bool remove;
        double paddingX;
        double paddingY;
    };
    const Case cases[] = {
        {"", false, 5, 2},                                        // a square: line height + 2 × paddingY
        {"i", false, 5, 2},                                       // narrow text still gives a square
        {"Restaurant", false, 5, 2}, {"Restaurant", true, 5, 2},  // wider by icon size + paddingX
        {"Bar", false, 10, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString() + (c.remove ? " with remove" : ""));
        TagView tag(c.title);
        tag.setTextFont(font12());
        tag.setPaddingX(c.paddingX);
        tag.setPaddingY(c.paddingY);
        tag.setRemoveButtonIconSize(12);
        tag.setEnableRemoveButton(c.remove);
        const double height = chipHeight(c.title, font12(), c.paddingY);
        // One line of the font, never the point size taken as pixels (12 pt is 16 px at 96 dpi).
        EXPECT_GE(height, QFontMetricsF(font12()).lineSpacing() + 2 * c.paddingY);
        const double expectedWidth =
            chipWidth(c.title, font12(), c.paddingX, c.paddingY) + (c.remove ? 12 + c.paddingX : 0);
        EXPECT_DOUBLE_EQ(tag.intrinsicContentSize().height(), height);
        EXPECT_NEAR(tag.intrinsicContentSize().width(), expectedWidth, 1e-9);
        EXPECT_DOUBLE_EQ(tag.titleInsets().right(), c.remove ? 2 * c.paddingX + 12 : c.paddingX);
    }
    TagView empty("");
    empty.setTextFont(font12());
    EXPECT_DOUBLE_EQ(empty.intrinsicContentSize().width(), empty.intrinsicContentSize().height());
}

// Rows of ink (dark pixels) in `image`: the first and the last, or (-1, -1) when there is none.
std::pair<int, int> inkRows(const QImage& image) {
    int first = -1;
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 140) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

// Titles with descenders, CJK, Hangul and Arabic: in a chip of the default padding their glyphs are
// drawn whole at pixel ratio 1 and 2 (as tall as the same text drawn free, bottom inside the chip).
TEST_F(TagViewTest, TitlesAreNotClippedAtAnyPixelRatio) {
    const QString titles[] = {QStringLiteral("Typography jq"), QString::fromUtf8("東京駅 食堂"),
                              QString::fromUtf8("한국어 맛집"), QString::fromUtf8("مطعم جيد")};
    for (const double ratio : {1.0, 2.0}) {
        for (const QString& title : titles) {
            SCOPED_TRACE(title.toStdString() + " at ratio " + std::to_string(ratio));
            TagView tag(title);
            tag.setTextFont(font12());
            tag.setTextColor(Qt::black);
            tag.setTagBackgroundColor(Qt::white);
            tag.resize(tag.sizeHint());
            QImage chip(tag.size() * ratio, QImage::Format_RGB32);
            chip.setDevicePixelRatio(ratio);
            chip.fill(Qt::white);
            tag.render(&chip);
            // The same text drawn with nothing to cut it.
            QImage free(QSize(tag.width() + 40, 100) * ratio, QImage::Format_RGB32);
            free.setDevicePixelRatio(ratio);
            free.fill(Qt::white);
            {
                QPainter painter(&free);
                painter.setFont(font12());
                painter.setPen(Qt::black);
                painter.drawText(QRectF(0, 0, tag.width() + 40, 100), Qt::AlignCenter | Qt::TextSingleLine,
                                 title);
            }
            const auto [chipTop, chipBottom] = inkRows(chip);
            const auto [freeTop, freeBottom] = inkRows(free);
            ASSERT_GE(chipTop, 0);
            EXPECT_GE(chipBottom - chipTop, freeBottom - freeTop - 1) << "ink cut by the chip";
            EXPECT_LT(chipBottom, chip.height() - 1) << "glyph bottoms on the chip's edge";
            EXPECT_GT(chipTop, 0) << "glyph tops on the chip's edge";
        }
    }
}

TEST_F(TagViewTest, StatesRestyleTheChip) {
    TagView tag("Park");
    // Unstyled it keeps the plain button look.
    EXPECT_FALSE(tag.backgroundColor().has_value());
    EXPECT_DOUBLE_EQ(tag.titleInsets().left(), 0);
    EXPECT_FALSE(tag.clipsToBounds());

    tag.setTagBackgroundColor(Qt::gray);
    tag.setBorderColor(QColor(Qt::blue));
    tag.setTextColor(Qt::white);
    tag.setSelectedTextColor(Qt::yellow);
    tag.setSelected(true);  // no selected colours: the normal ones, the selected text colour
    EXPECT_EQ(tag.backgroundColor(), QColor(Qt::gray));
    EXPECT_EQ(tag.layerBorderColor(), QColor(Qt::blue));
    EXPECT_EQ(tag.titleColor(), QColor(Qt::yellow));

    tag.setSelectedBackgroundColor(QColor(Qt::red));
    tag.setSelectedBorderColor(QColor(Qt::green));
    EXPECT_EQ(tag.backgroundColor(), QColor(Qt::red));
    EXPECT_EQ(tag.layerBorderColor(), QColor(Qt::green));

    tag.setHighlighted(true);  // no highlight colour: the last background stays
    EXPECT_EQ(tag.backgroundColor(), QColor(Qt::red));
    tag.setHighlightedBackgroundColor(QColor(Qt::black));
    EXPECT_EQ(tag.backgroundColor(), QColor(Qt::black));
    tag.setHighlighted(false);
    tag.setSelected(false);
    tag.setBorderColor(std::nullopt);  // back to normal without a border colour clears it
    EXPECT_EQ(tag.backgroundColor(), QColor(Qt::gray));
    EXPECT_FALSE(tag.layerBorderColor().has_value());
    EXPECT_EQ(tag.titleColor(), QColor(Qt::white));

    tag.setCornerRadius(4);
    EXPECT_TRUE(tag.clipsToBounds());
    tag.setCornerRadius(0);
    EXPECT_FALSE(tag.clipsToBounds());
}

TEST_F(TagViewTest, CloseButtonFrameAndCross) {
    TagView tag("Cinema");
    tag.setTextFont(font12());
    tag.setPaddingX(5);
    tag.setRemoveButtonIconSize(12);
    tag.setEnableRemoveButton(true);
    tag.resize(tag.sizeHint());
    tag.show();
    QApplication::processEvents();
    const QRect frame = tag.removeButton()->geometry();
    EXPECT_EQ(frame.width(), 22);
    EXPECT_EQ(frame.right() + 1, tag.width());
    EXPECT_EQ(frame.height(), tag.height());
    EXPECT_EQ(tag.removeButton()->tagView(), &tag);

    CloseButton button;
    button.setIconSize(10);
    EXPECT_EQ(button.iconRect(QSizeF(30, 20)), QRectF(10, 5, 10, 10));

    // The cross is drawn inside its square and nowhere else.
    button.setLineColor(Qt::black);
    button.setLineWidth(2);
    button.resize(30, 20);
    QImage image(30, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    button.render(&image, {}, {}, QWidget::DrawChildren);
    EXPECT_LT(image.pixelColor(15, 10).lightness(), 100);   // the centre, where the strokes cross
    EXPECT_LT(image.pixelColor(11, 6).lightness(), 160);    // near a corner of the square
    EXPECT_EQ(image.pixelColor(3, 10), QColor(Qt::white));  // left of the square
    EXPECT_EQ(image.pixelColor(15, 1), QColor(Qt::white));  // above it
}

TEST_F(TagFlowViewTest, RowsWrapAtTheListWidth) {
    const std::vector<QString> titles = {"Bar", "Cinema", "Favorite", "MustSee", "Park", "Restaurant"};
    std::vector<double> widths;
    for (const auto& title : titles) widths.push_back(chipWidth(title, font12()));
    // Expected rows by the rule: a chip starts a new row when it would pass the width.
    auto expectedRows = [&](double listWidth) {
        int rows = 0;
        double rowWidth = 0;
        int inRow = 0;
        for (double w : widths) {
            if (inRow == 0 || rowWidth + w > listWidth) {
                ++rows;
                rowWidth = 0;
                inRow = 0;
                w = std::min(w, listWidth);
            }
            rowWidth += w + 5;
            ++inRow;
        }
        return rows;
    };
    for (int listWidth : {60, 120, 200, 320, 1000}) {
        SCOPED_TRACE(listWidth);
        auto list = makeList(listWidth);
        list->addTags(titles);
        EXPECT_EQ(list->rows(), expectedRows(listWidth));
        const double height = chipHeight(titles.back(), font12());  // the last chip's
        EXPECT_DOUBLE_EQ(list->intrinsicContentSize().height(), list->rows() * (height + 2) - 2);
        for (const auto& frame : list->tagFrames()) EXPECT_LE(frame.width(), listWidth + 1e-9);
    }
    auto empty = makeList(300);
    empty->rearrangeViews();
    EXPECT_EQ(empty->rows(), 0);
    EXPECT_DOUBLE_EQ(empty->intrinsicContentSize().height(), 0);
}

TEST_F(TagFlowViewTest, ExactFitStaysAndOverflowWraps) {
    const double a = chipWidth("Alpha", font12());
    const double b = chipWidth("Beta", font12());
    // A list of whole points exactly a + margin + b wide: the margin takes up the fraction.
    const int width = static_cast<int>(std::ceil(a + 5 + b));
    auto list = makeList(width);
    list->setMarginX(width - a - b);
    list->addTags({"Alpha", "Beta"});
    EXPECT_EQ(list->rows(), 1);
    list->resize(width - 1, 100);
    QApplication::processEvents();
    EXPECT_EQ(list->rows(), 2);
}

TEST_F(TagFlowViewTest, OverwideChipIsNarrowedThenWidenedToMinWidth) {
    auto list = makeList(40);
    list->addTag("A very long tag title indeed");
    EXPECT_DOUBLE_EQ(list->tagFrames()[0].width(), 40);
    list->setMinWidth(60);
    EXPECT_DOUBLE_EQ(list->tagFrames()[0].width(), 60);
}

TEST_F(TagFlowViewTest, AlignmentPlacesRowsIncludingRightToLeft) {
    const double a = chipWidth("Park", font12());
    const double b = chipWidth("Cinema", font12());
    const double rowContent = a + 5 + b;
    struct Case {
        TagFlowView::Alignment alignment;
        Qt::LayoutDirection direction;
        double rowX;
        bool firstChipOnTheRight;
    };
    const double W = 400;
    const Case cases[] = {
        {TagFlowView::Alignment::left, Qt::LeftToRight, 0, false},
        {TagFlowView::Alignment::center, Qt::LeftToRight, (W - rowContent) * 0.5, false},
        {TagFlowView::Alignment::right, Qt::LeftToRight, W - rowContent, false},
        {TagFlowView::Alignment::leading, Qt::LeftToRight, 0, false},
        {TagFlowView::Alignment::trailing, Qt::LeftToRight, W - rowContent, false},
        {TagFlowView::Alignment::leading, Qt::RightToLeft, W - rowContent, true},
        {TagFlowView::Alignment::trailing, Qt::RightToLeft, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.alignment) * 10 + (c.direction == Qt::RightToLeft));
        auto list = makeList(static_cast<int>(W));
        list->setLayoutDirection(c.direction);
        list->setAlignment(c.alignment);
        list->addTags({"Park", "Cinema"});
        ASSERT_EQ(list->rowFrames().size(), 1u);
        EXPECT_NEAR(list->rowFrames()[0].x(), c.rowX, 1e-9);
        const auto frames = list->tagFrames();
        EXPECT_EQ(frames[0].x() > frames[1].x(), c.firstChipOnTheRight);
        // The row's chips stay inside the list: none sticks out past an edge.
        EXPECT_GE(std::min(frames[0].left(), frames[1].left()), c.rowX - 1e-9);
        EXPECT_LE(std::max(frames[0].right(), frames[1].right()), c.rowX + rowContent + 1e-9);
    }
    EXPECT_EQ(TagFlowView::alignmentFromRawValue(4), TagFlowView::Alignment::trailing);
    EXPECT_FALSE(TagFlowView::alignmentFromRawValue(5).has_value());
    EXPECT_FALSE(TagFlowView::alignmentFromRawValue(-1).has_value());
}

TEST_F(TagFlowViewTest, ListOperationsAndOutOfRangeIndices) {
    auto list = makeList(300);
    TagView* bar = list->addTag("Bar");
    EXPECT_EQ(list->tagViews().back(), bar);
    const auto all = list->addTags({"Park", "Bar"});
    EXPECT_EQ(all.size(), 3u);  // every chip, not only the new ones

    list->insertTag("First", -3);  // clamped to 0
    list->insertTag("Last", 99);   // clamped to count
    EXPECT_EQ(list->allTagTitles(), (std::vector<QString>{"First", "Bar", "Park", "Bar", "Last"}));

    list->setTitle("Ignored", 5);  // out of range: nothing changes
    list->setTitle("Pub", 1);
    EXPECT_EQ(list->allTagTitles()[1], "Pub");

    list->removeTag("Bar");
    EXPECT_EQ(list->allTagTitles(), (std::vector<QString>{"First", "Pub", "Park", "Last"}));
    list->insertTag("", 0);  // a chip without a title is skipped and never matches
    EXPECT_EQ(list->allTagTitles().size(), 4u);
    list->removeTag("");
    EXPECT_EQ(list->tagViews().size(), 5u);

    TagView stranger("Stranger");
    list->removeTagView(&stranger);  // not in the list: only laid out again
    EXPECT_EQ(list->tagViews().size(), 5u);
    list->removeAllTags();
    EXPECT_TRUE(list->tagViews().empty());
    EXPECT_EQ(list->rows(), 0);
}

TEST_F(TagFlowViewTest, DelegateHearsTapsAndRemoveButtonsAndLongPressSelectsOne) {
    auto list = makeList(400);
    list->setEnableRemoveButton(true);
    auto delegate = std::make_shared<RecordingDelegate>();
    list->setDelegate(delegate);
    list->addTags({"Bar", "Park", ""});
    list->show();
    QApplication::processEvents();

    std::vector<TagView*> tapped;
    list->tagViews()[0]->onTap = [&](TagView* tag) { tapped.push_back(tag); };
    QTest::mouseClick(list->tagViews()[0], Qt::LeftButton, {}, QPoint(4, 4));
    QTest::mouseClick(list->tagViews()[2], Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(list->tagViews()[1]->removeButton(), Qt::LeftButton);
    EXPECT_EQ(tapped.size(), 1u);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"pressed Bar", "pressed ", "remove Park"}));
    EXPECT_EQ(list->tagViews().size(), 3u);     // the delegate removes, not the list
    EXPECT_TRUE(list->selectedTags().empty());  // taps select nothing

    list->tagViews()[0]->setSelected(true);
    auto recognizers = platform::gestureRecognizers(list->tagViews()[1]);
    ASSERT_EQ(recognizers.size(), 1u);
    recognizers[0]->simulateState(platform::GestureRecognizer::State::Began);
    EXPECT_EQ(list->selectedTags(), std::vector<TagView*>{list->tagViews()[1]});
}

TEST_F(TagFlowViewTest, StyleChangesReachEveryChip) {
    auto list = makeList(300);
    list->addTags({"Bar", "Park"});
    list->setTagBackgroundColor(QColor(Qt::darkGreen));
    list->setCornerRadius(6);
    list->setPaddingX(9);
    for (TagView* tag : list->tagViews()) {
        EXPECT_EQ(tag->backgroundColor(), QColor(Qt::darkGreen));
        EXPECT_EQ(tag->cornerRadius(), 6);
        EXPECT_NEAR(tag->intrinsicContentSize().width(), chipWidth(tag->title(), font12(), 9), 1e-9);
    }
}

TEST_F(TagFlowViewTest, ScreenshotsOfEveryAlignment) {
    const std::vector<QString> titles = {"Bar",        "Cinema", "Favorite", "MustSee", "Park",
                                         "Restaurant", "Sauna",  "Harbour",  "Museum"};
    struct Shot {
        const char* name;
        TagFlowView::Alignment alignment;
        Qt::LayoutDirection direction;
    };
    const Shot shots[] = {
        {"taglist-left", TagFlowView::Alignment::left, Qt::LeftToRight},
        {"taglist-center", TagFlowView::Alignment::center, Qt::LeftToRight},
        {"taglist-right-with-remove", TagFlowView::Alignment::right, Qt::LeftToRight},
        {"taglist-leading-rtl", TagFlowView::Alignment::leading, Qt::RightToLeft},
        {"taglist-trailing-rtl", TagFlowView::Alignment::trailing, Qt::RightToLeft},
    };
    for (const auto& shot : shots) {
        QWidget frame;
        frame.resize(300, 110);
        frame.setAutoFillBackground(true);
        QPalette palette = frame.palette();
        palette.setColor(QPalette::Window, Qt::white);
        frame.setPalette(palette);
        auto* list = new TagFlowView(&frame);
        list->setGeometry(10, 10, 280, 90);
        list->setLayoutDirection(shot.direction);
        list->setAlignment(shot.alignment);
        list->setTagBackgroundColor(QColor(0x4a, 0x90, 0xd9));
        list->setTagSelectedBackgroundColor(QColor(0xe6, 0x7e, 0x22));
        list->setCornerRadius(8);
        list->setPaddingX(8);
        list->setPaddingY(4);
        list->setShadowColor(Qt::black);
        list->setShadowOpacity(0.3f);
        list->setShadowRadius(2);
        list->setShadowOffset(QSizeF(0, 1));
        list->setEnableRemoveButton(shot.alignment == TagFlowView::Alignment::right);
        list->addTags(titles);
        list->tagViews()[2]->setSelected(true);
        frame.show();
        QApplication::processEvents();
        widgetkit_test::saveScreenshot(widgetkit_test::render(frame), shot.name);
    }
}

// Chips with descenders, CJK, Hangul and Arabic titles at pixel ratio 1 and 2.
TEST_F(TagFlowViewTest, ScreenshotsOfScriptsAtEveryPixelRatio) {
    QWidget frame;
    frame.resize(320, 90);
    frame.setAutoFillBackground(true);
    QPalette palette = frame.palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame.setPalette(palette);
    auto* list = new TagFlowView(&frame);
    list->setGeometry(10, 10, 300, 70);
    list->setTagBackgroundColor(QColor(0x2a, 0x62, 0xa8));
    list->setCornerRadius(8);
    list->setPaddingX(8);
    list->setPaddingY(2);
    list->setEnableRemoveButton(true);
    list->addTags({QStringLiteral("Typography jq"), QString::fromUtf8("東京駅 食堂"),
                   QString::fromUtf8("한국어 맛집"), QString::fromUtf8("مطعم جيد")});
    frame.show();
    QApplication::processEvents();
    for (const double ratio : {1.0, 2.0}) {
        widgetkit_test::saveScreenshot(widgetkit_test::render(frame, ratio),
                                       QStringLiteral("taglist-scripts-%1x").arg(ratio));
    }
    for (TagView* tag : list->tagViews()) EXPECT_GE(tag->height(), QFontMetricsF(tag->font()).lineSpacing());
}

// Labels on every tag colour a user may pick, from pale yellow to deep blue, with the list's white
// label colour: each chip's label reads at 4.5:1 and its cross at 3:1, measured on the drawn pixels,
// in a light and a dark palette, at one and two pixels per point.
TEST_F(TagFlowViewTest, LabelsReadOnEveryTagColour) {
    const QColor colours[] = {QColor(255, 255, 153), QColor(0, 255, 255), QColor(Qt::gray),
                              QColor(255, 204, 0),   QColor(52, 199, 89), QColor(0x2a, 0x62, 0xa8),
                              QColor(88, 86, 214),   QColor(255, 59, 48), QColor(Qt::white)};
    for (const bool dark : {false, true}) {
        QWidget frame;
        frame.resize(420, 150);
        frame.setAutoFillBackground(true);
        frame.setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette(Qt::white));
        auto* list = new TagFlowView(&frame);
        list->setGeometry(10, 10, 400, 130);
        list->setCornerRadius(6);
        list->setPaddingX(8);
        list->setPaddingY(3);
        list->setEnableRemoveButton(true);
        for (const QColor& colour : colours) {
            TagView* chip = list->addTag(QStringLiteral("Tag %1").arg(colour.name()));
            chip->setTagBackgroundColor(colour);
        }
        frame.show();
        QApplication::processEvents();
        for (const double ratio : {1.0, 2.0}) {
            const QImage image = widgetkit_test::render(frame, ratio);
            widgetkit_test::saveScreenshot(
                image, QStringLiteral("taglist-colours-%1-%2x").arg(dark ? "dark" : "light").arg(ratio));
            for (TagView* chip : list->tagViews()) {
                const QColor face = *chip->backgroundColor();
                const QPoint at = chip->mapTo(&frame, QPoint(0, 0));
                const QRectF label = QRectF(chip->rect()).marginsRemoved(chip->titleInsets()).translated(at);
                SCOPED_TRACE(chip->title().toStdString() + (dark ? " dark" : " light"));
                EXPECT_GE(tervolo::testsupport::strongestContrast(image, label, face), 4.5);
                auto* cross = chip->findChild<CloseButton*>();
                ASSERT_NE(cross, nullptr);
                EXPECT_GE(
                    tervolo::testsupport::strongestContrast(
                        image, QRectF(cross->rect()).translated(cross->mapTo(&frame, QPoint(0, 0))), face),
                    3.0);
            }
        }
    }
}

}  // namespace
}  // namespace tervolo::widgets::taglist
