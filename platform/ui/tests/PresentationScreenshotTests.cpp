#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "WidgetKitTestSupport.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "platform/ui/Toolbar.hpp"

using platform::AlertAction;
using platform::AlertController;
using platform::BarButtonItem;
using platform::MainWindow;
using platform::NavigationController;
using platform::ViewController;

namespace {

class PresentationScreenshotTest : public widgetkit_test::WidgetTest {
  protected:
    platform::ImmediateAnimationsScope immediate;
};

// A screen with a text body, standing in for a real one.
class TextScreen : public ViewController {
  public:
    TextScreen(std::string title, QString body, QColor background)
        : body_(std::move(body)), background_(background) {
        setTitle(std::move(title));
    }
    void loadView() override {
        auto* root = new QWidget();
        root->setAutoFillBackground(true);
        QPalette palette = root->palette();
        palette.setColor(QPalette::Window, background_);
        root->setPalette(palette);
        auto* column = new QVBoxLayout(root);
        auto* label = new QLabel(body_);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        column->addWidget(label);
        setView(root);
    }

  private:
    QString body_;
    QColor background_;
};

}  // namespace

// A navigation controller two levels deep, presenting a form sheet that is
// itself a navigation controller, with an alert over it.
TEST_F(PresentationScreenshotTest, NavigationWithFormSheetAndAlert) {
    auto points = std::make_shared<TextScreen>("Points", "All points", QColor(245, 245, 245));
    auto details =
        std::make_shared<TextScreen>("Harbour", "Harbour\n53.5511 N, 9.9937 E", QColor(250, 250, 250));
    details->navigationItem().setRightBarButtonItem(
        std::make_shared<BarButtonItem>("Share", BarButtonItem::Style::plain, [] {}));
    auto navigation = std::make_shared<NavigationController>(points);
    navigation->pushViewController(details, false);

    MainWindow window;
    window.resize(900, 640);
    window.toolbar().addItem("add", QIcon(), "Add Point", [] {});
    window.toolbar().addFlexibleSpace();
    window.toolbar().addSearchFieldSlot();
    window.setRootViewController(navigation);
    window.show();

    auto editor =
        std::make_shared<TextScreen>("Edit Point", "Title and notes of the point", QColor(255, 255, 255));
    auto editorNavigation = std::make_shared<NavigationController>(editor);
    editor->navigationItem().setLeftBarButtonItem(
        std::make_shared<BarButtonItem>("Cancel", BarButtonItem::Style::plain, [] {}));
    auto save = std::make_shared<BarButtonItem>("Save", BarButtonItem::Style::done, [] {});
    editor->navigationItem().setRightBarButtonItem(save);
    editorNavigation->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
    const QWidget* content = window.contentView();
    editorNavigation->setPreferredContentSize(QSizeF(content->width() / 2, content->height() * 2 / 3));
    details->present(editorNavigation, true);

    auto alert =
        AlertController::make("Delete Point?", "The point and its notes are removed from this computer.",
                              AlertController::Style::alert);
    alert->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel));
    alert->addAction(AlertAction::make("Delete", AlertAction::Style::destructive));
    editorNavigation->present(alert, true);

    // What the bars show follows the items.
    EXPECT_EQ(navigation->navigationBar().displayedTitle(), "Harbour");
    EXPECT_EQ(navigation->navigationBar().backButtonTitle(), QString::fromUtf8("\u2039 Points"));
    EXPECT_EQ(editorNavigation->navigationBar().displayedTitle(), "Edit Point");
    EXPECT_TRUE(editorNavigation->navigationBar().backButtonTitle().isEmpty());
    save->setEnabled(false);
    EXPECT_FALSE(save->view()->isEnabled());
    save->setEnabled(true);
    editor->setTitle("Edit \u201cHarbour\u201d");
    EXPECT_EQ(editorNavigation->navigationBar().displayedTitle(),
              QString::fromUtf8("Edit \u201cHarbour\u201d"));
    // The sheet is the size asked for, centred; the alert is on top of it.
    const QRect sheet = editorNavigation->view()->parentWidget()->geometry();
    EXPECT_EQ(editorNavigation->view()->size(), QSize(content->width() / 2, content->height() * 2 / 3));
    EXPECT_NEAR(sheet.center().x(), content->rect().center().x(), 1);
    EXPECT_EQ(window.toolbar().itemIdentifiers(),
              (std::vector<std::string>{"add", "NSToolbarFlexibleSpaceItem", "searchField"}));

    widgetkit_test::saveScreenshot(widgetkit_test::render(window), "navigation_form_sheet_alert");
}

// The bar on its own: back button, left and right items, large title,
// appearance colours.
TEST_F(PresentationScreenshotTest, NavigationBarItemsAndAppearance) {
    auto first = std::make_shared<TextScreen>("Tags", "", QColor(255, 255, 255));
    first->navigationItem().setBackBarButtonItem(
        std::make_shared<BarButtonItem>("All Tags", BarButtonItem::Style::plain, nullptr));
    auto second = std::make_shared<TextScreen>("Colour", "", QColor(255, 255, 255));
    auto navigation = std::make_shared<NavigationController>(first);
    navigation->pushViewController(second, false);
    second->navigationItem().setRightBarButtonItems(
        {std::make_shared<BarButtonItem>("Done", BarButtonItem::Style::done, [] {}),
         std::make_shared<BarButtonItem>("Reset", BarButtonItem::Style::plain, [] {})});
    auto& bar = navigation->navigationBar();
    platform::NavigationBar::Appearance appearance;
    appearance.backgroundColor = QColor(40, 44, 52);
    appearance.titleTextAttributes.foregroundColor = QColor(250, 250, 250);
    appearance.largeTitleTextAttributes.foregroundColor = QColor(250, 250, 250);
    bar.setStandardAppearance(appearance);
    bar.setTintColor(QColor(255, 196, 0));
    bar.setPrefersLargeTitles(true);
    navigation->view()->resize(420, 120);
    EXPECT_EQ(bar.backButtonTitle(), QString::fromUtf8("\u2039 All Tags"));
    // The first right item is the outermost.
    auto* done = bar.findChild<QWidget*>("rightBarButton0");
    auto* reset = bar.findChild<QWidget*>("rightBarButton1");
    ASSERT_NE(done, nullptr);
    ASSERT_NE(reset, nullptr);
    navigation->view()->show();
    EXPECT_GT(done->mapTo(&bar, QPoint()).x(), reset->mapTo(&bar, QPoint()).x());
    second->navigationItem().setHidesBackButton(true);
    EXPECT_TRUE(bar.backButtonTitle().isEmpty());
    second->navigationItem().setHidesBackButton(false);
    widgetkit_test::saveScreenshot(widgetkit_test::render(*navigation->view()), "navigation_bar_items");
    navigation->view()->hide();
}

namespace {

class FixedItem : public platform::ActivityItemSource {
  public:
    std::string placeholderItem() override { return "Harbour https://t.example/abcdefgh"; }
    std::string subject(const std::optional<std::string>&) override { return "Harbour"; }
    std::string item(const std::optional<std::string>&) override { return "https://t.example/abcdefgh"; }
};

}  // namespace

// An action sheet at a bar button, and the share sheet, each over a screen.
TEST_F(PresentationScreenshotTest, ActionSheetAndShareSheet) {
    auto map = std::make_shared<TextScreen>("Map", "(the map)", QColor(214, 228, 240));
    auto styles = std::make_shared<BarButtonItem>("Map Style", BarButtonItem::Style::plain, [] {});
    map->navigationItem().setRightBarButtonItem(styles);
    auto navigation = std::make_shared<NavigationController>(map);
    MainWindow window;
    window.resize(720, 480);
    window.setRootViewController(navigation);
    window.show();

    auto sheet = AlertController::make("", "", AlertController::Style::actionSheet);
    for (const char* title : {"Standard", "Satellite", "Hybrid", "OpenStreetMap Retina"}) {
        sheet->addAction(AlertAction::make(title, AlertAction::Style::defaultValue));
    }
    sheet->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel));
    sheet->popoverPresentationController()->setBarButtonItem(styles);
    map->present(sheet, true);
    const QRect panel = sheet->view()->parentWidget()->geometry();
    EXPECT_TRUE(window.contentView()->rect().contains(panel));
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), "action_sheet_at_bar_button");
    sheet->dismiss(false);

    auto share = std::make_shared<platform::ShareSheetController>(std::make_shared<FixedItem>());
    map->present(share, true);
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), "share_sheet");
}

// Alert cards with one to three buttons, a text field, long, CJK and right-to-left texts, in a light
// and a dark palette and at two pixels per point: every button is whole inside its card.
TEST_F(PresentationScreenshotTest, AlertCardsHoldTheirButtons) {
    struct Case {
        const char* file;
        const char* title;
        const char* message;
        std::vector<const char*> actions;  // the last one is the cancel action
        bool textField;
        bool dark;
        double devicePixelRatio;
    };
    const char* longMessage =
        "The point and its notes are removed from this computer. Copies shared earlier stay where they "
        "were sent, and the history of the point is kept for thirty days.";
    const Case cases[] = {
        {"alert_two_buttons",
         "Delete Point?",
         "The point is removed.",
         {"Delete", "Cancel"},
         false,
         false,
         1},
        {"alert_two_buttons_long", "Delete Point?", longMessage, {"Delete", "Cancel"}, false, false, 1},
        {"alert_two_buttons_very_long",
         "Location Access Needed",
         "To show your location, please grant Tervolo location access in Settings. The position is used "
         "only on this computer: it is never sent anywhere, and it is not kept after the program ends. "
         "Without it the map still works, but it cannot follow you, and distances to your points are not "
         "shown in the list of points.",
         {"Allow Location Use in Settings", "Cancel"},
         false,
         false,
         1},
        {"alert_text_field",
         "Custom Radius",
         "Radius in metres, from 10 to 5000.",
         {"OK", "Cancel"},
         true,
         false,
         1},
        {"alert_text_field_dark@2x", "Custom Radius", longMessage, {"OK", "Cancel"}, true, true, 2},
        {"alert_three_buttons_dark",
         "Update Required",
         longMessage,
         {"Update", "Later", "Cancel"},
         false,
         true,
         1},
        {"alert_cjk",
         "\u5220\u9664\u5730\u70B9\uFF1F",
         "\u8BE5\u5730\u70B9\u53CA\u5176\u5907\u6CE8\u5C06\u4ECE\u8FD9\u53F0\u7535\u8111\u4E0A\u5220\u9664"
         "\u3002\u4E4B\u524D\u5206\u4EAB\u7684\u526F\u672C\u4FDD\u7559\u5728\u539F\u5904\u3002",
         {"\u5220\u9664", "\u53D6\u6D88"},
         false,
         false,
         1},
        {"alert_rtl@2x",
         "\u05DC\u05DE\u05D7\u05D5\u05E7 \u05D0\u05EA \u05D4\u05E0\u05E7\u05D5\u05D3\u05D4?",
         "\u05D4\u05E0\u05E7\u05D5\u05D3\u05D4 \u05D5\u05D4\u05D4\u05E2\u05E8\u05D5\u05EA \u05E9\u05DC\u05D4 "
         "\u05D9\u05D9\u05DE\u05D7\u05E7\u05D5 \u05DE\u05DE\u05D7\u05E9\u05D1 \u05D6\u05D4.",
         {"\u05DE\u05D7\u05E7", "\u05D1\u05D9\u05D8\u05D5\u05DC"},
         false,
         false,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        widgetkit_test::PaletteScope palette(c.dark);
        auto screen = std::make_shared<TextScreen>("Map", "(the map)",
                                                   c.dark ? QColor(40, 44, 52) : QColor(214, 228, 240));
        MainWindow window;
        window.resize(640, 480);
        window.setRootViewController(screen);
        window.show();
        auto alert = AlertController::make(c.title, c.message, AlertController::Style::alert);
        for (size_t i = 0; i < c.actions.size(); ++i) {
            const bool cancel = i + 1 == c.actions.size();
            alert->addAction(AlertAction::make(
                c.actions[i], cancel ? AlertAction::Style::cancel : AlertAction::Style::defaultValue));
        }
        if (c.textField) alert->addTextField([](QLineEdit& field) { field.setText("250"); });
        screen->present(alert, true);
        QApplication::processEvents();
        QWidget* card = alert->view();
        // The card is shown whole by what holds it.
        ASSERT_NE(card->parentWidget(), nullptr);
        EXPECT_TRUE(card->parentWidget()->rect().contains(card->geometry()));
        QList<QPushButton*> buttons = card->findChildren<QPushButton*>();
        // Buttons of an earlier layout are hidden and deleted later.
        buttons.removeIf([card](QPushButton* button) { return !button->isVisibleTo(card); });
        ASSERT_EQ(buttons.size(), static_cast<qsizetype>(c.actions.size()));
        for (QPushButton* button : buttons) {
            SCOPED_TRACE(button->text().toStdString());
            const QRect inCard(button->mapTo(card, QPoint(0, 0)), button->size());
            EXPECT_TRUE(card->rect().contains(inCard))
                << "button at " << inCard.y() << ".." << inCard.bottom() << ", card height "
                << card->height();
            EXPECT_GE(button->height(), button->minimumSizeHint().height());
            // The title is not cut at the sides.
            EXPECT_GE(button->width(), button->sizeHint().width());
            // The tinted title reads on the button's face.
            EXPECT_GE(widgetkit_test::contrastRatio(button->palette().color(QPalette::ButtonText),
                                                    button->palette().color(QPalette::Button)),
                      4.5);
        }
        // The texts have all the lines they need at the card's width.
        for (const char* name : {"alertTitle", "alertMessage"}) {
            SCOPED_TRACE(name);
            auto* label = card->findChild<QLabel*>(name);
            ASSERT_NE(label, nullptr);
            EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        }
        widgetkit_test::saveScreenshot(widgetkit_test::render(window, c.devicePixelRatio), c.file);
    }
}

// An alert card keeps its 300 points for short texts and grows for a button title, an unbroken word
// or a long message that would not fit, never past the window it shows in; every title, word and
// button stays whole inside it.
TEST_F(PresentationScreenshotTest, AlertCardsGrowForLongTextsWithinTheWindow) {
    struct Case {
        const char* file;
        QSize window;
        const char* message;
        std::vector<const char*> actions;  // the last one is the cancel action
        bool wider;                        // than 300 points
    };
    const char* address =
        "Open https://maps.example.org/shared/points/5f3a9c2e-harbour-office-long-link now.";
    std::string essay;
    for (int i = 0; i < 7; ++i) essay += "The point and its notes are removed from this computer for good. ";
    const Case cases[] = {
        {"alert_grow_short", {900, 600}, "The point is removed.", {"Delete", "Cancel"}, false},
        {"alert_grow_button",
         {900, 600},
         "Location access is off.",
         {"Allow Location Use in the Desktop's Privacy Settings Now", "Cancel"},
         true},
        {"alert_grow_word", {900, 600}, address, {"Open", "Cancel"}, true},
        {"alert_grow_essay", {900, 600}, essay.c_str(), {"Delete", "Cancel"}, true},
        {"alert_grow_narrow_window", {420, 600}, essay.c_str(), {"Delete", "Cancel"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto screen = std::make_shared<TextScreen>("Map", "(the map)", QColor(214, 228, 240));
        MainWindow window;
        window.resize(c.window);
        window.setRootViewController(screen);
        window.show();
        auto alert = AlertController::make("Delete Point?", c.message, AlertController::Style::alert);
        for (size_t i = 0; i < c.actions.size(); ++i) {
            const bool cancel = i + 1 == c.actions.size();
            alert->addAction(AlertAction::make(
                c.actions[i], cancel ? AlertAction::Style::cancel : AlertAction::Style::defaultValue));
        }
        screen->present(alert, true);
        QApplication::processEvents();
        QWidget* card = alert->view();
        ASSERT_NE(card->parentWidget(), nullptr);
        const QRect inWindow(card->mapTo(&window, QPoint(0, 0)), card->size());
        EXPECT_TRUE(window.rect().contains(inWindow));
        EXPECT_LE(card->width(), window.width() - 40);
        if (c.wider) {
            EXPECT_GT(card->width(), 300);
        } else {
            EXPECT_EQ(card->width(), 300);
        }
        QList<QPushButton*> buttons = card->findChildren<QPushButton*>();
        buttons.removeIf([card](QPushButton* button) { return !button->isVisibleTo(card); });
        ASSERT_EQ(buttons.size(), static_cast<qsizetype>(c.actions.size()));
        for (QPushButton* button : buttons) {
            SCOPED_TRACE(button->text().toStdString());
            EXPECT_TRUE(card->rect().contains(QRect(button->mapTo(card, QPoint(0, 0)), button->size())));
            EXPECT_GE(button->width(), button->sizeHint().width()) << "title cut";
        }
        auto* message = card->findChild<QLabel*>("alertMessage");
        ASSERT_NE(message, nullptr);
        EXPECT_GE(message->height(), message->heightForWidth(message->width()));
        for (const QString& word : message->text().split(' ', Qt::SkipEmptyParts))
            EXPECT_LE(message->fontMetrics().horizontalAdvance(word), message->contentsRect().width())
                << word.toStdString();
        if (c.window.width() > 800) {
            EXPECT_LE(message->height() / message->fontMetrics().lineSpacing(), 8) << "lines";
        }
        widgetkit_test::saveScreenshot(widgetkit_test::render(window, 2),
                                       QString::fromLatin1(c.file) + "@2x");
    }
}

// What a form sheet covers (a list's rows, here) is shaded visibly in a light palette and in a dark
// desktop theme's, where the light palette's shade over the dark rows hardly showed (1.37:1).
TEST_F(PresentationScreenshotTest, TheShadeBehindASheetShowsInBothPalettes) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        const QPalette saved = QApplication::palette();
        QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette()
                                      : QApplication::style()->standardPalette());
        const QColor behind = QApplication::palette().color(QPalette::Base);
        auto screen = std::make_shared<TextScreen>("Map", "", behind);
        MainWindow window;
        window.resize(640, 480);
        window.setRootViewController(screen);
        window.show();
        auto alert =
            AlertController::make("Delete Point?", "The point is removed.", AlertController::Style::alert);
        alert->addAction(AlertAction::make("Delete", AlertAction::Style::destructive));
        alert->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel));
        screen->present(alert, true);
        QApplication::processEvents();
        const QImage image = widgetkit_test::render(window, 2);
        widgetkit_test::saveScreenshot(image,
                                       QStringLiteral("sheet-shade-%1@2x").arg(dark ? "dark" : "light"));
        // A corner of the screen, far from the card and its shadow.
        const QPoint corner = screen->view()->mapTo(&window, QPoint(8, 8)) * 2;
        const QColor shaded = image.pixelColor(corner);
        EXPECT_GE(widgetkit_test::contrastRatio(shaded, behind), 1.5)
            << shaded.name().toStdString() << " over " << behind.name().toStdString();
        QApplication::setPalette(saved);
    }
}
