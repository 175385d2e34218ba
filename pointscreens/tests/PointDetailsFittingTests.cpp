// The details screen's popups fit what they hold in small and large windows,
// in a light and a dark desktop palette, at device pixel ratio 1 and 2: the
// colour picker's fields lie inside its card, the custom radius entry shows
// its field, both buttons and every line of its message whole.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QColorDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "PointDetailsTestSupport.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/ColorPickerViewController.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"
#include "widgets/taglist/TagFlowView.hpp"

namespace {

class DetailsFittingTest : public pointscreens_test::PointDetailsTest {
  protected:
    void TearDown() override {
        platform::text::Locale::setCurrentForTesting(std::nullopt);
        QApplication::setPalette(QPalette());
        tervolo::widgets::popup::PopupNavigationBar::appearance() = {};
        PointDetailsTest::TearDown();
    }

    void finishTransitions() {
        for (int i = 0; i < 4; ++i) {
            environment_.advance(0.5);
            settle();
        }
    }

    QRect inWindow(const QWidget* widget) const {
        return QRect(widget->mapTo(window_.get(), QPoint(0, 0)), widget->size());
    }

    // Each visible widget of `kinds` inside `root` lies wholly inside `card` (window coordinates) and,
    // when `whole`, is at least as large as it asks to be at least.
    template <class Kind>
    void expectInside(QWidget* root, const QRect& card, const char* what, bool whole = true) {
        const auto found = root->findChildren<Kind*>();
        ASSERT_FALSE(found.isEmpty()) << what;
        for (Kind* widget : found) {
            if (!widget->isVisibleTo(root)) continue;
            const QRect at = inWindow(widget);
            EXPECT_TRUE(card.contains(at))
                << what << " " << widget->objectName().toStdString() << " at " << at.x() << "," << at.y()
                << " " << at.width() << "x" << at.height();
            if (!whole) continue;
            EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << what;
            EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << what;
        }
    }
};

// The picker opened by a click on a tag chip, in a window about the size of a small laptop screen's
// and a large one's: its spectrum, its hue to alpha spin boxes and its HTML field are whole inside the
// popup's card. The bar title reads on the bar.
TEST_F(DetailsFittingTest, ColourPickerFieldsLieInsideItsPopup) {
    storedTag("Bar", "bar-1", "255,255,153");
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
            const QString name = QStringLiteral("pointdetails-picker-%1x%2-%3")
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            auto point = savedPoint("Kallio");
            point->setTags(std::vector<std::string>{"bar-1"});
            tervolo::points::QuovaMapPointStore::shared().addPoint(point);
            auto screen = present(point, size);
            settle();
            auto* chip = screen->tagFlowView()->allTags().at(0);
            QTest::mouseClick(chip, Qt::LeftButton, {}, chip->rect().center());
            finishTransitions();
            auto popup = screen->colorPickerPopupController();
            ASSERT_NE(popup, nullptr);
            auto picker =
                std::dynamic_pointer_cast<platform::ColorPickerViewController>(popup->topViewController());
            ASSERT_NE(picker, nullptr);
            QWidget* content = picker->view();
            const QRect card = inWindow(content).intersected(window_->rect());
            // The picker's own grid sets its spin boxes a little lower than they ask for: only their
            // place is checked.
            expectInside<QAbstractSpinBox>(content, card, "spin box", false);
            expectInside<QLineEdit>(content, card, "HTML field", false);
            const QRect barRect = inWindow(popup->navigationBar());
            EXPECT_TRUE(window_->rect().contains(barRect)) << "bar at " << barRect.y();
            EXPECT_GE(content->width(), content->minimumSizeHint().width());
            EXPECT_GE(content->height(), content->minimumSizeHint().height());
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
            const QImage twice = pointscreens_test::grab(*window_, 2);
            pointscreens_test::saveScreenshot(twice, name + QStringLiteral("@2x"));
            auto* bar = popup->navigationBar();
            ASSERT_NE(bar, nullptr);
            QLabel* title = bar->titleLabel();
            ASSERT_NE(title, nullptr);
            EXPECT_EQ(title->text(), QStringLiteral("#Bar"));
            EXPECT_GE(tervolo::testsupport::strongestContrast(twice, QRectF(inWindow(title)),
                                                              bar->paintedBackground()),
                      4.5);
            popup->dismiss();
            finishTransitions();
        }
    }
}

// The custom radius entry over the details screen: its text field, both buttons and both lines of its
// message are whole inside the card, in a small and a large window.
TEST_F(DetailsFittingTest, CustomRadiusEntryShowsItsFieldButtonsAndMessage) {
    platform::text::Locale::setCurrentForTesting(platform::text::Locale("en_GB"));
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
        for (const QSize size : {QSize(640, 480), QSize(1280, 800)}) {
            const QString name = QStringLiteral("pointdetails-radius-entry-%1x%2-%3")
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(name.toStdString());
            platform::PresentationRecorder recorder;
            auto screen = present(savedPoint("Kallio"), size);
            settle();
            screen->radiusButton()->trigger();
            settle();
            ASSERT_TRUE(recorder.chooseAction("Custom ..."));
            settle();
            auto alert = recorder.topAlert();
            ASSERT_NE(alert, nullptr);
            QWidget* card = alert->view();
            const QRect cardRect = inWindow(card).intersected(window_->rect());
            EXPECT_EQ(cardRect, inWindow(card));
            expectInside<QLineEdit>(card, cardRect, "field");
            expectInside<QPushButton>(card, cardRect, "button");
            auto* message = card->findChild<QLabel*>(QStringLiteral("alertMessage"));
            ASSERT_NE(message, nullptr);
            EXPECT_TRUE(cardRect.contains(inWindow(message)));
            EXPECT_GE(message->height(), message->heightForWidth(message->width()));
            // The field is wide enough to show what it is for.
            auto* field = card->findChild<QLineEdit*>();
            EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(QStringLiteral("000000")));
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 1), name);
            pointscreens_test::saveScreenshot(pointscreens_test::grab(*window_, 2),
                                              name + QStringLiteral("@2x"));
            recorder.pressEscape();
            settle();
        }
    }
}

}  // namespace
