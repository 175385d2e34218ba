#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <atomic>

#include "WidgetKitTestSupport.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/FeedbackGenerator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/ShareSheetController.hpp"

using platform::AlertAction;
using platform::AlertController;
using platform::MainWindow;
using platform::PresentationRecorder;
using platform::ViewController;

namespace {

class AlertControllerTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        root = std::make_shared<ViewController>();
        window = std::make_unique<MainWindow>();
        window->resize(640, 480);
        window->setRootViewController(root);
        window->show();
    }
    void TearDown() override {
        window.reset();
        root.reset();
        WidgetTest::TearDown();
    }
    platform::ImmediateAnimationsScope immediate;
    std::shared_ptr<ViewController> root;
    std::unique_ptr<MainWindow> window;
};

}  // namespace

// The recorder picks an action by title: the alert goes, then the handler runs
// once; a second choice does nothing.
TEST_F(AlertControllerTest, RecorderChoosesActionsByTitleAndHandlersRunOnce) {
    for (auto style : {AlertController::Style::alert, AlertController::Style::actionSheet}) {
        SCOPED_TRACE(style == AlertController::Style::alert ? "alert" : "action sheet");
        PresentationRecorder recorder;
        std::vector<std::string> ran;
        auto alert = AlertController::make("Map Style", "Choose one", style);
        for (const char* title : {"Standard", "Cancel", "Satellite", "Delete"}) {
            const auto actionStyle = std::string(title) == "Cancel"   ? AlertAction::Style::cancel
                                     : std::string(title) == "Delete" ? AlertAction::Style::destructive
                                                                      : AlertAction::Style::defaultValue;
            std::weak_ptr<AlertController> weak = alert;
            alert->addAction(AlertAction::make(title, actionStyle, [&, title, weak] {
                // The alert is gone when the handler runs.
                EXPECT_EQ(weak.lock()->presentingViewController(), nullptr);
                ran.push_back(title);
            }));
        }
        root->present(alert, true);
        ASSERT_EQ(recorder.topAlert(), alert);
        EXPECT_EQ(recorder.actionTitles(),
                  (std::vector<std::string>{"Standard", "Cancel", "Satellite", "Delete"}));
        EXPECT_FALSE(recorder.chooseAction("Hybrid"));
        EXPECT_TRUE(recorder.chooseAction("Satellite"));
        EXPECT_EQ(ran, std::vector<std::string>{"Satellite"});
        EXPECT_FALSE(alert->chooseAction("Standard"));
        EXPECT_EQ(ran, std::vector<std::string>{"Satellite"});
        EXPECT_EQ(recorder.topAlert(), nullptr);
        EXPECT_EQ(root->presentedViewController(), nullptr);
    }
}

// A click on a button is the same as choosing; a second click cannot run a
// handler again; the cancel action is last in a sheet.
TEST_F(AlertControllerTest, ClickingAButtonRunsItsHandlerOnce) {
    int count = 0;
    auto sheet = AlertController::make("", "", AlertController::Style::actionSheet);
    sheet->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel));
    sheet->addAction(AlertAction::make("Share", AlertAction::Style::defaultValue, [&] { ++count; }));
    root->present(sheet, false);
    auto* share = sheet->view()->findChild<QPushButton*>("alertAction:Share");
    ASSERT_NE(share, nullptr);
    auto buttons = sheet->view()->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons.back()->text(), "Cancel");
    QTest::mouseClick(share, Qt::LeftButton);
    QTest::mouseClick(share, Qt::LeftButton);
    EXPECT_EQ(count, 1);
}

TEST_F(AlertControllerTest, EscapeChoosesTheCancelAction) {
    struct Case {
        AlertController::Style style;
        bool withCancel;
        bool withSecond;  // a second action of the default style
        std::vector<std::string> ran;
        bool closes;
    };
    const Case cases[] = {
        {AlertController::Style::alert, true, false, {"Cancel"}, true},
        // An alert's only action is also what Escape closes it with.
        {AlertController::Style::alert, false, false, {"OK"}, true},
        {AlertController::Style::alert, false, true, {}, false},
        {AlertController::Style::actionSheet, true, false, {"Cancel"}, true},
        {AlertController::Style::actionSheet, false, false, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "style " << static_cast<int>(c.style) << " cancel "
                                          << c.withCancel << " second " << c.withSecond);
        std::vector<std::string> ran;
        auto alert = AlertController::make("Title", "", c.style);
        alert->addAction(
            AlertAction::make("OK", AlertAction::Style::defaultValue, [&] { ran.push_back("OK"); }));
        if (c.withSecond) {
            alert->addAction(AlertAction::make("Later", AlertAction::Style::defaultValue,
                                               [&] { ran.push_back("Later"); }));
        }
        if (c.withCancel) {
            alert->addAction(
                AlertAction::make("Cancel", AlertAction::Style::cancel, [&] { ran.push_back("Cancel"); }));
        }
        root->present(alert, false);
        // A real key press, delivered to the alert's view.
        QTest::keyClick(alert->view(), Qt::Key_Escape);
        EXPECT_EQ(ran, c.ran);
        EXPECT_EQ(root->presentedViewController() == nullptr, c.closes);
        if (!c.closes) root->dismiss(false);
    }
}

// A press outside an action sheet shown as a popover closes it as Cancel; a
// press in a passthrough view does not.
TEST_F(AlertControllerTest, ActionSheetAtItsAnchorClosesOnAPressOutside) {
    auto* anchor = new QPushButton("Style", root->view());
    anchor->setGeometry(20, 20, 80, 30);
    auto* passthrough = new QPushButton("Map", root->view());
    passthrough->setGeometry(400, 300, 80, 30);
    std::vector<std::string> ran;
    auto sheet = AlertController::make("", "", AlertController::Style::actionSheet);
    sheet->addAction(AlertAction::make("Standard", AlertAction::Style::defaultValue));
    sheet->addAction(
        AlertAction::make("Cancel", AlertAction::Style::cancel, [&] { ran.push_back("Cancel"); }));
    auto* popover = sheet->popoverPresentationController();
    ASSERT_NE(popover, nullptr);
    popover->setSourceView(anchor);
    popover->setSourceRect(QRectF(40, 15, 1, 1));
    popover->setPassthroughViews({passthrough});
    root->present(sheet, false);
    // Below the anchor's 1×1 rect, inside the window.
    const QRect panel = sheet->view()->parentWidget()->geometry();
    EXPECT_GT(panel.top(), anchor->geometry().top() + 15);
    EXPECT_TRUE(window->contentView()->rect().contains(panel));
    QTest::mouseClick(passthrough, Qt::LeftButton);
    EXPECT_EQ(root->presentedViewController(), sheet);
    QTest::mouseClick(root->view(), Qt::LeftButton, {}, QPoint(300, 400));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(ran, std::vector<std::string>{"Cancel"});
}

TEST_F(AlertControllerTest, TextFieldTextReachesTheHandler) {
    PresentationRecorder recorder;
    std::string entered;
    auto alert = AlertController::make("New Tag", "", AlertController::Style::alert);
    alert->addTextField([](QLineEdit& field) {
        field.setPlaceholderText("Tag name");
        platform::setKeyboardType(field, platform::KeyboardType::asciiCapable);
    });
    auto save = AlertAction::make("Save", AlertAction::Style::defaultValue,
                                  [&] { entered = alert->textFields()[0]->text().toStdString(); });
    alert->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel));
    alert->addAction(save);
    alert->setPreferredAction(save);
    root->present(alert, false);
    ASSERT_EQ(alert->textFields().size(), 1u);
    EXPECT_EQ(alert->textFields()[0]->placeholderText(), "Tag name");
    EXPECT_EQ(platform::keyboardType(*alert->textFields()[0]), platform::KeyboardType::asciiCapable);
    EXPECT_FALSE(recorder.typeText(1, "x"));
    EXPECT_TRUE(recorder.typeText(0, "Caf\u00e9 \u2615"));
    // Return chooses the preferred action.
    QTest::keyClick(alert->textFields()[0], Qt::Key_Return);
    EXPECT_EQ(entered, "Caf\u00e9 \u2615");
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

// A handler may present the next alert from the same presenter.
TEST_F(AlertControllerTest, HandlerCanPresentTheNextAlert) {
    PresentationRecorder recorder;
    auto second = AlertController::make("Second", "", AlertController::Style::alert);
    second->addAction(AlertAction::make("OK", AlertAction::Style::defaultValue));
    auto first = AlertController::make("First", "", AlertController::Style::alert);
    first->addAction(
        AlertAction::make("Next", AlertAction::Style::defaultValue, [&] { root->present(second, true); }));
    root->present(first, true);
    EXPECT_TRUE(recorder.chooseAction("Next"));
    EXPECT_EQ(recorder.topAlert(), second);
    EXPECT_TRUE(recorder.refusals().empty());
    // Dismissed as its presenter would: no handler runs.
    EXPECT_TRUE(recorder.dismissTop());
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_FALSE(recorder.dismissTop());
    ASSERT_EQ(recorder.entries().size(), 2u);
    EXPECT_TRUE(recorder.entries()[0].dismissed);
    EXPECT_TRUE(recorder.entries()[1].dismissed);
    EXPECT_TRUE(recorder.entries()[1].animated);
    EXPECT_EQ(recorder.entries()[1].title, "Second");
    EXPECT_EQ(recorder.entries()[1].style, platform::ModalPresentationStyle::formSheet);
}

namespace {

// An item that answers per activity type and records the thread of each ask.
class RecordingItem : public platform::ActivityItemSource {
  public:
    std::string placeholderItem() override { return "Harbour"; }
    std::string subject(const std::optional<std::string>&) override { return "Harbour & Co"; }
    std::string item(const std::optional<std::string>& type) override {
        askedOffMain = askedOffMain || !platform::isMainThread();
        types.push_back(type.value_or("(none)"));
        if (type == std::string(platform::UIActivityTypeMail)) {
            return "<html>Look:<br><br><a href=\"https://t.example/abc\">Harbour</a></html>";
        }
        if (type == std::string(platform::UIActivityTypeCopyToPasteboard)) return "https://t.example/abc";
        return "Harbour https://t.example/abc";
    }
    std::vector<std::string> types;
    std::atomic<bool> askedOffMain{false};
};

}  // namespace

TEST_F(AlertControllerTest, ShareSheetRunsEachActivityWithTheItemsText) {
    struct Case {
        const char* type;
        std::string url;        // opened, or empty
        std::string clipboard;  // copied, or empty
    };
    const Case cases[] = {
        {platform::UIActivityTypeCopyToPasteboard, "", "https://t.example/abc"},
        {platform::UIActivityTypeMail,
         "mailto:?subject=Harbour%20%26%20Co&body=Look%3A%0A%0AHarbour%20%3Chttps%3A%2F%2Ft.example%2Fabc%3E",
         ""},
        {platform::kActivityTypeOpenInBrowser, "https://t.example/abc", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        platform::OpenURLRecorder urls;
        platform::Pasteboard::general().setString("before");
        auto item = std::make_shared<RecordingItem>();
        auto sheet = std::make_shared<platform::ShareSheetController>(item);
        std::optional<std::string> reported;
        bool completed = false;
        sheet->setCompletionWithItemsHandler([&](std::optional<std::string> type, bool done) {
            reported = type;
            completed = done;
        });
        root->present(sheet, false);
        auto* preview = sheet->view()->findChild<QLabel*>("sharePreview");
        ASSERT_NE(preview, nullptr);
        EXPECT_EQ(preview->text(), "Harbour");
        auto* button = sheet->view()->findChild<QPushButton*>(QString("shareActivity:") + c.type);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(sheet->isMakingItem());
        EXPECT_FALSE(button->isEnabled());
        ASSERT_TRUE(platform::RunLoop::runUntil([&] { return reported.has_value(); }, 10.0));
        EXPECT_EQ(*reported, c.type);
        EXPECT_TRUE(completed);
        EXPECT_TRUE(item->askedOffMain);
        EXPECT_EQ(item->types, std::vector<std::string>{c.type});
        EXPECT_EQ(urls.urls(), c.url.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.url});
        EXPECT_EQ(platform::Pasteboard::general().string(), c.clipboard.empty() ? "before" : c.clipboard);
        EXPECT_EQ(root->presentedViewController(), nullptr);
    }
    // Escape cancels without asking for the item.
    auto item = std::make_shared<RecordingItem>();
    auto sheet = std::make_shared<platform::ShareSheetController>(item);
    bool called = false;
    sheet->setCompletionWithItemsHandler(
        [&](std::optional<std::string> type, bool done) { called = !type && !done; });
    root->present(sheet, false);
    QTest::keyClick(sheet->view(), Qt::Key_Escape);
    EXPECT_TRUE(called);
    EXPECT_TRUE(item->types.empty());
}

TEST_F(AlertControllerTest, OpenURLRecordsInsteadOfOpeningAndFeedbackIsCounted) {
    platform::OpenURLRecorder urls(false);
    std::optional<bool> result;
    platform::OpenURL::open("https://www.openstreetmap.org/", [&](bool ok) { result = ok; });
    EXPECT_FALSE(result);  // reported later, on the main queue
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return result.has_value(); }, 5.0));
    EXPECT_FALSE(*result);
    EXPECT_EQ(urls.urls(), std::vector<std::string>{"https://www.openstreetmap.org/"});

    using Feedback = platform::NotificationFeedbackGenerator;
    Feedback::resetCountsForTesting();
    Feedback generator;
    generator.prepare();
    generator.notificationOccurred(Feedback::FeedbackType::success);
    generator.notificationOccurred(Feedback::FeedbackType::error);
    generator.notificationOccurred(Feedback::FeedbackType::success);
    EXPECT_EQ(Feedback::notificationCount(), 3u);
    EXPECT_EQ(Feedback::notificationCount(Feedback::FeedbackType::success), 2u);
    EXPECT_EQ(generator.prepareCount(), 1u);
}

// The keyboard goes to the alert while it shows (so Escape and Return reach
// it) and back to where it was afterwards.
TEST_F(AlertControllerTest, KeyboardFocusMovesIntoTheAlertAndBack) {
    auto* search = new QLineEdit(root->view());
    search->show();
    QApplication::setActiveWindow(window.get());
    search->setFocus();
    ASSERT_TRUE(search->hasFocus());
    auto alert = AlertController::make("Rename", "", AlertController::Style::alert);
    alert->addTextField();
    bool cancelled = false;
    alert->addAction(AlertAction::make("Cancel", AlertAction::Style::cancel, [&] { cancelled = true; }));
    root->present(alert, false);
    EXPECT_TRUE(alert->textFields()[0]->hasFocus());
    // Escape typed where the focus is.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(search->hasFocus());
}

// In an active window an alert takes the keys without leaving the window (no part of the card is
// shown as a window of its own on the way) and starts them on the button Return presses: the
// preferred action, the only one, else the first. Return presses the preferred or only action even
// from another button, else the focused one; Tab goes round the alert's buttons only.
TEST_F(AlertControllerTest, ReturnAndTabWorkTheButtonsInAnActiveWindow) {
    auto* behind = new QPushButton("Behind", root->view());
    behind->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    behind->setFocus();
    struct Case {
        const char* name;
        std::vector<std::string> titles;
        int preferred;  // index, or -1
        int tabs;       // presses of Tab before Return
        std::string focusedFirst;
        std::string ran;
    };
    const Case cases[] = {
        {"only action", {"OK"}, -1, 0, "OK", "OK"},
        {"preferred, from another button", {"Later", "Save"}, 1, 1, "Save", "Save"},
        {"none preferred: the first", {"Show", "Skip"}, -1, 0, "Show", "Show"},
        {"none preferred: the one Tab reached", {"Show", "Skip"}, -1, 1, "Show", "Skip"},
        {"none preferred: Tab goes round", {"Show", "Skip"}, -1, 2, "Show", "Show"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> ran;
        auto alert = AlertController::make("Title", "A message", AlertController::Style::alert);
        for (size_t i = 0; i < c.titles.size(); ++i) {
            auto action = AlertAction::make(c.titles[i], AlertAction::Style::defaultValue,
                                            [&ran, title = c.titles[i]] { ran.push_back(title); });
            alert->addAction(action);
            if (static_cast<int>(i) == c.preferred) alert->setPreferredAction(action);
        }
        root->present(alert, false);
        EXPECT_EQ(QApplication::activeWindow(), window.get()) << "the window lost the keys";
        auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        ASSERT_NE(focused, nullptr);
        EXPECT_EQ(focused->text().toStdString(), c.focusedFirst);
        for (int i = 0; i < c.tabs; ++i) {
            QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
            EXPECT_TRUE(alert->view()->isAncestorOf(QApplication::focusWidget())) << "Tab left the alert";
        }
        QTest::keyClick(window->windowHandle(), Qt::Key_Return);
        EXPECT_EQ(ran, std::vector<std::string>{c.ran});
        EXPECT_EQ(root->presentedViewController(), nullptr);
        EXPECT_EQ(QApplication::focusWidget(), behind) << "the keys did not go back";
    }
}
