// The point details screen's recolouring of a tag: the colour picker popup,
// "Save" with and without a choice, and the background click.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QTest>

#include "PointDetailsTestSupport.hpp"
#include "platform/ui/ColorPickerViewController.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::pointscreens::PointDetailsViewController;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ColorPickerTest : public pointscreens_test::PointDetailsTest {
  protected:
    std::shared_ptr<QuovaMapPoint> taggedPoint(const std::string& title, std::vector<std::string> tags) {
        auto point = savedPoint(title);
        point->setTags(std::move(tags));
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }
    static std::shared_ptr<platform::ColorPickerViewController> picker(PointDetailsViewController& screen) {
        auto popup = screen.colorPickerPopupController();
        return popup ? std::dynamic_pointer_cast<platform::ColorPickerViewController>(
                           popup->topViewController())
                     : nullptr;
    }
    void tapChip(PointDetailsViewController& screen, int index) {
        auto* chips = screen.tagFlowView();
        auto* chip = chips->allTags().at(static_cast<size_t>(index));
        screen.tagPressed(chip->title(), chip, chips);
        finishTransitions();
    }
    // The popup's card moves on the virtual clock.
    void finishTransitions() {
        for (int i = 0; i < 4; ++i) {
            environment_.advance(0.5);
            settle();
        }
    }
    std::string tagFile(const std::string& uuid) const {
        std::ifstream in(documents() + "/tags/" + uuid + ".QuovaPointTag", std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }
};

TEST_F(ColorPickerTest, AChipTapOpensThePickerInAFormSheetPopupForItsTag) {
    auto bar = storedTag("Bar", "bar-1", "0,122,255");
    auto screen = present(taggedPoint("Kallio", {"bar-1"}), QSize(700, 800));
    log_->clear();
    tapChip(*screen, 0);

    auto popup = screen->colorPickerPopupController();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isPresented());
    EXPECT_EQ(popup->quovaConcernedTag(), bar);
    EXPECT_EQ(popup->style(), tervolo::widgets::popup::PopupStyle::formSheet);
    auto shown = picker(*screen);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->title(), "#Bar");
    auto save = shown->navigationItem().rightBarButtonItem();
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->title(), "Save");
    EXPECT_EQ(shown->selectedColor(), QColor(0, 122, 255));
    // The picker's own size in a window that holds it, whatever the orientation: a share of the
    // screen would leave empty bands around its fields.
    ASSERT_NE(shown->colorDialog(), nullptr);
    const QSize natural =
        shown->colorDialog()->sizeHint().expandedTo(shown->colorDialog()->minimumSizeHint());
    EXPECT_EQ(tervolo::widgets::popup::contentSizeInPopup(*shown), QSizeF(natural));
    EXPECT_EQ(tervolo::widgets::popup::landscapeContentSizeInPopup(*shown), QSizeF(natural));
    ASSERT_NE(popup->backgroundView(), nullptr);
    EXPECT_EQ(popup->backgroundView()->objectName(), "colorPickerBackground");
    // The bar look, kept for every later popup.
    const auto& look = tervolo::widgets::popup::PopupNavigationBar::appearance();
    ASSERT_TRUE(look.titleTextAttributes.font.has_value());
    EXPECT_EQ(look.titleTextAttributes.font->pixelSize(), 16);
    EXPECT_EQ(look.titleTextAttributes.foregroundColor, QColor(Qt::black));
    EXPECT_EQ(popup->navigationBar()->titleTextAttributes(), look.titleTextAttributes);
    EXPECT_THAT(log_->texts(), Contains("Tag pressed: \"Bar\", tagFlowView"));

    // A chip title without a stored tag opens nothing more.
    popup->dismiss();
    finishTransitions();
    screen->tagPressed("Nowhere", nullptr, screen->tagFlowView());
    EXPECT_EQ(screen->colorPickerPopupController(), nullptr);  // the closed picker finished; no new one
}

TEST_F(ColorPickerTest, SaveStoresEightHexDigitsRecoloursChipsAndRedrawsPinsOfCarriers) {
    auto bar = storedTag("Bar", "bar-1", "0,122,255");
    storedTag("Cinema", "cine-2", "5856D6");
    auto valid = taggedPoint("Valid", {"bar-1"});
    auto upper = taggedPoint("Upper", {"BAR-1"});
    auto deleted = taggedPoint("Deleted", {"bar-1"});
    QuovaMapPointStore::shared().deletePoint(deleted);
    auto other = taggedPoint("Other", {"cine-2"});
    auto point = taggedPoint("Screen", {"bar-1", "cine-2"});
    const std::string pointFile = fileText(*point);
    auto screen = present(point);
    mainMap_->added.clear();

    tapChip(*screen, 0);
    auto shown = picker(*screen);
    ASSERT_NE(shown, nullptr);
    // A choice in the dialog (8 bits a component) reaches the screen ...
    shown->colorDialog()->setCurrentColor(QColor(0, 255, 0, 51));
    settle();
    ASSERT_TRUE(screen->lastColorPickerColor().has_value());
    EXPECT_THAT(log_->texts(), Contains("colorPicker did select color #00FF0033"));
    // ... and the last one counts: red at alpha 0.5 exactly (0.5 x 255 = 127.5, truncated).
    shown->setSelectedColor(QColor::fromRgbF(1, 0, 0, 0.5));
    screen->colorPickerViewControllerDidSelectColor(*shown);
    EXPECT_THAT(log_->texts(), Contains("colorPicker did select color #FF00007F"));
    shown->navigationItem().rightBarButtonItem()->trigger();
    finishTransitions();

    EXPECT_EQ(bar->colorString(), "FF00007F");
    EXPECT_NE(tagFile("bar-1").find("FF00007F"), std::string::npos);
    auto* chip = screen->tagFlowView()->allTags().at(0);
    EXPECT_EQ(chip->tagBackgroundColor().red(), 255);
    EXPECT_EQ(chip->tagBackgroundColor().alpha(), 128);
    EXPECT_NE(screen->tagFlowView()->allTags().at(1)->tagBackgroundColor().red(),
              255);  // Cinema keeps its own
    EXPECT_THAT(mainMap_->added, ElementsAre(valid, upper, point));
    EXPECT_EQ(fileText(*point), pointFile);  // no point is written
    EXPECT_EQ(screen->colorPickerPopupController(), nullptr);
    EXPECT_FALSE(screen->lastColorPickerColor().has_value());
    (void)other;
}

TEST_F(ColorPickerTest, SaveBeforeAnyChoiceAndTheBackgroundOnlyClose) {
    auto bar = storedTag("Bar", "bar-1", "0,122,255");
    auto screen = present(taggedPoint("Kallio", {"bar-1"}));
    const std::string before = tagFile("bar-1");

    tapChip(*screen, 0);
    auto popup = screen->colorPickerPopupController();
    ASSERT_NE(popup, nullptr);
    picker(*screen)->navigationItem().rightBarButtonItem()->trigger();
    finishTransitions();
    EXPECT_FALSE(popup->isPresented());
    EXPECT_EQ(bar->colorString(), "0,122,255");
    EXPECT_EQ(tagFile("bar-1"), before);
    EXPECT_EQ(screen->colorPickerPopupController(), nullptr);

    tapChip(*screen, 0);
    popup = screen->colorPickerPopupController();
    ASSERT_NE(popup, nullptr);
    picker(*screen)->colorDialog()->setCurrentColor(QColor(Qt::green));
    settle();
    QWidget* background = popup->backgroundView();
    ASSERT_NE(background, nullptr);
    QTest::mouseClick(background, Qt::LeftButton, {}, QPoint(3, 3));
    finishTransitions();
    EXPECT_FALSE(popup->isPresented());
    EXPECT_EQ(bar->colorString(), "0,122,255");
    EXPECT_EQ(screen->colorPickerPopupController(), nullptr);
    EXPECT_FALSE(screen->lastColorPickerColor().has_value());
    EXPECT_THAT(log_->texts(), Contains("backgroundViewDidTap"));
}

}  // namespace
