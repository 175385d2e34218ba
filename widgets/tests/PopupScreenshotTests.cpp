#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "widgets/popup/PopupController.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

using platform::ViewController;
using tervolo::widgets::popup::PopupController;
using tervolo::widgets::popup::PopupStyle;
namespace popup = tervolo::widgets::popup;

namespace {

class PopupScreenshotTest : public widgetkit_test::WidgetTest {};

// A screen with some text, so the dimming shows.
class BackdropController : public ViewController {
  public:
    void viewDidLoad() override {
        auto* layout = new QVBoxLayout(view());
        for (const char* line : {"Helsinki", "Tampere", "Oulu", "Rovaniemi", "Tervola"}) {
            auto* label = new QLabel(QString::fromUtf8(line));
            QFont font = label->font();
            font.setPointSize(18);
            label->setFont(font);
            layout->addWidget(label);
        }
    }
};

class FormController : public ViewController {
  public:
    void viewDidLoad() override {
        auto* layout = new QVBoxLayout(view());
        layout->addWidget(new QLabel(QStringLiteral("Name of the point")));
        auto* field = new QLineEdit();
        field->setText(QStringLiteral("Summer cottage"));
        layout->addWidget(field);
        layout->addStretch(1);
    }
};

QImage popupOverWindow(PopupStyle style, bool pushed) {
    tervolo::testsupport::VirtualClockScope time;
    auto root = std::make_shared<BackdropController>();
    platform::MainWindow window;
    window.resize(640, 480);
    window.setRootViewController(root);
    window.show();
    auto form = std::make_shared<FormController>();
    form->setTitle("Edit point");
    popup::setContentSizeInPopup(*form, {360, 160});
    auto p = PopupController::make(form);
    p->setStyle(style);
    p->setCornerRadius(style == PopupStyle::formSheet ? 10 : 0);
    if (pushed) {
        auto details = std::make_shared<FormController>();
        details->setTitle("Details");
        popup::setContentSizeInPopup(*details, {0, 200});
        p->pushViewController(details, false);
    }
    p->present(*root);
    time.advance(1.0);
    QImage image = widgetkit_test::render(window);
    p->dismiss();
    time.advance(2.0);
    return image;
}

}  // namespace

// Looked at: the card centred with its bar (cross, title), the field inside,
// the window's text dimmed around it; the bottom sheet full width on the
// bottom edge with the back arrow.
TEST_F(PopupScreenshotTest, PopupOverWindow) {
    const QImage form = popupOverWindow(PopupStyle::formSheet, false);
    widgetkit_test::saveScreenshot(form, QStringLiteral("popup_form_sheet"));
    const QImage bottom = popupOverWindow(PopupStyle::bottomSheet, true);
    widgetkit_test::saveScreenshot(bottom, QStringLiteral("popup_bottom_sheet"));
    // Probes: the card is white, the background dimmed.
    const QPoint cardCentre(form.width() / 2, form.height() / 2 + 40);
    EXPECT_EQ(form.pixelColor(cardCentre), QColor(Qt::white));
    EXPECT_LT(form.pixelColor(5, form.height() - 5).lightness(), 160);
    EXPECT_EQ(bottom.pixelColor(bottom.width() / 2, bottom.height() - 5), QColor(Qt::white));
}
