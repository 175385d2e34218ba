#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "widgets/popup/PopupController.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"
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

// The card, its bar and its field in a light and a dark palette, at pixel ratio 1 and 2: every text
// reads on what lies under it (contrast at least 4.5:1, backgrounds probed in the picture), and the
// rounded corners are antialiased (pixels between the card and the dimmed backdrop).
TEST_F(PopupScreenshotTest, CardReadsInLightAndDarkPalettes) {
    for (const bool dark : {false, true}) {
        for (const double ratio : {1.0, 2.0}) {
            SCOPED_TRACE(std::string(dark ? "dark" : "light") + " at ratio " + std::to_string(ratio));
            widgetkit_test::PaletteScope palette(dark);
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
            p->setStyle(PopupStyle::formSheet);
            p->setCornerRadius(10);
            p->present(*root);
            time.advance(1.0);
            QApplication::processEvents();
            const QImage image = widgetkit_test::render(window, ratio);
            widgetkit_test::saveScreenshot(image,
                                           QStringLiteral("popup_card_%1_%2x")
                                               .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"))
                                               .arg(ratio));
            auto probe = [&](QWidget* widget, QPoint at) {
                const QPoint inWindow = widget->mapTo(&window, at);
                return image.pixelColor(static_cast<int>(inWindow.x() * ratio),
                                        static_cast<int>(inWindow.y() * ratio));
            };
            QWidget* card = p->containerView();
            ASSERT_NE(card, nullptr);
            // The card's label on the card (a spot right of the label's text).
            auto* label = p->contentView()->findChild<QLabel*>();
            auto* field = p->contentView()->findChild<QLineEdit*>();
            platform::NavigationBar* bar = p->navigationBar();
            ASSERT_TRUE(label && field && bar);
            QLabel* title = nullptr;
            for (QLabel* candidate : bar->findChildren<QLabel*>(QStringLiteral("titleLabel")))
                if (candidate->parentWidget() && !candidate->parentWidget()->isHidden()) title = candidate;
            ASSERT_NE(title, nullptr);
            const QColor cardBackground = probe(card, QPoint(card->width() - 12, card->height() - 12));
            const QColor barBackground = probe(bar, QPoint(bar->width() / 2, 3));
            const QColor fieldBackground = probe(field, QPoint(field->width() - 8, field->height() / 2));
            struct Case {
                const char* what;
                QColor text;
                QColor background;
            };
            const Case cases[] = {
                {"label on the card", label->palette().color(label->foregroundRole()), cardBackground},
                {"title on the bar", title->palette().color(title->foregroundRole()), barBackground},
                {"text in the field", field->palette().color(QPalette::Text), fieldBackground},
            };
            for (const auto& c : cases) {
                EXPECT_GE(widgetkit_test::contrastRatio(c.text, c.background), 4.5)
                    << c.what << ": " << c.text.name().toStdString() << " on "
                    << c.background.name().toStdString();
            }
            // The top-left corner: along the arc, pixels part card, part backdrop.
            const QColor backdrop = probe(card, QPoint(0, 0));
            const QPoint corner = card->mapTo(&window, QPoint(0, 0));
            int blended = 0;
            for (int y = 0; y < static_cast<int>(10 * ratio); ++y) {
                for (int x = 0; x < static_cast<int>(10 * ratio); ++x) {
                    const QColor c = image.pixelColor(static_cast<int>(corner.x() * ratio) + x,
                                                      static_cast<int>(corner.y() * ratio) + y);
                    const int l = c.lightness();
                    const int low = std::min(backdrop.lightness(), barBackground.lightness());
                    const int high = std::max(backdrop.lightness(), barBackground.lightness());
                    if (l > low + 4 && l < high - 4) ++blended;
                }
            }
            EXPECT_GE(blended, static_cast<int>(4 * ratio)) << "corner pixels between card and backdrop";
            p->dismiss();
            time.advance(2.0);
        }
    }
}

// A desktop switching to a dark palette while a popup is shown: the card follows.
TEST_F(PopupScreenshotTest, CardFollowsAPaletteChange) {
    widgetkit_test::PaletteScope light(false);
    tervolo::testsupport::VirtualClockScope time;
    auto root = std::make_shared<BackdropController>();
    platform::MainWindow window;
    window.resize(640, 480);
    window.setRootViewController(root);
    window.show();
    auto form = std::make_shared<FormController>();
    popup::setContentSizeInPopup(*form, {360, 160});
    auto p = PopupController::make(form);
    p->present(*root);
    time.advance(1.0);
    QWidget* card = p->containerView();
    EXPECT_EQ(card->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Base));
    {
        widgetkit_test::PaletteScope dark(true);
        QApplication::processEvents();
        const QPalette darkPalette = widgetkit_test::darkPalette();
        EXPECT_EQ(card->palette().color(QPalette::Window), darkPalette.color(QPalette::Base));
        EXPECT_EQ(card->palette().color(QPalette::WindowText), darkPalette.color(QPalette::Text));
    }
    QApplication::processEvents();
    EXPECT_EQ(card->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Base));
    p->dismiss();
    time.advance(2.0);
}

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
