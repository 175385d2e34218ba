#include <gtest/gtest.h>

#include <QColorDialog>

#include "platform/ui/ColorPickerViewController.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

namespace {

class ColorPickerViewControllerTest : public widgetkit_test::WidgetTest {};

struct RecordingPickerDelegate : platform::ColorPickerViewControllerDelegate {
    void colorPickerViewControllerDidSelectColor(platform::ColorPickerViewController& picker) override {
        selected.push_back(picker.selectedColor());
    }
    void colorPickerViewControllerDidFinish(platform::ColorPickerViewController&) override { ++finished; }
    std::vector<QColor> selected;
    int finished = 0;
};

// The embedded dialog has no buttons, offers alpha and stays inside the
// screen; only the user's choices reach the delegate.
TEST_F(ColorPickerViewControllerTest, EmbedsTheDialogAndReportsOnlyTheUsersChoices) {
    auto picker = std::make_shared<platform::ColorPickerViewController>();
    auto delegate = std::make_shared<RecordingPickerDelegate>();
    picker->setDelegate(delegate);
    picker->setSelectedColor(QColor(0, 122, 255));
    QWidget* view = picker->view();
    QColorDialog* dialog = picker->colorDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->testOption(QColorDialog::NoButtons));
    EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    EXPECT_FALSE(dialog->isWindow());
    // Inside the screen (in a scroll area of its own, for windows smaller than its fields).
    EXPECT_TRUE(view->isAncestorOf(dialog));
    EXPECT_EQ(dialog->currentColor(), QColor(0, 122, 255));

    picker->setSelectedColor(QColor(Qt::yellow));
    EXPECT_TRUE(delegate->selected.empty());
    dialog->setCurrentColor(QColor(255, 0, 0, 127));
    // The dialog may report a colour and then its alpha: the last one counts.
    ASSERT_FALSE(delegate->selected.empty());
    EXPECT_EQ(delegate->selected.back(), QColor(255, 0, 0, 127));
    EXPECT_EQ(picker->selectedColor(), QColor(255, 0, 0, 127));
    EXPECT_EQ(delegate->finished, 0);
}

}  // namespace
