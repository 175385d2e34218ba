#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/KeyboardNotifications.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/tests/ViewControllerTestSupport.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "widgets/popup/PopupController.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

using platform::MainWindow;
using platform::ViewController;
using tervolo::widgets::popup::PopupController;
using tervolo::widgets::popup::PopupControllerTransitioning;
using tervolo::widgets::popup::PopupControllerTransitioningContext;
using tervolo::widgets::popup::PopupLeftBarItem;
using tervolo::widgets::popup::PopupStyle;
using tervolo::widgets::popup::PopupTransitionStyle;
using viewcontroller_test::CallLog;
using viewcontroller_test::LoggingController;
namespace popup = tervolo::widgets::popup;
using Calls = std::vector<std::string>;

namespace {

std::shared_ptr<ViewController> content(QSizeF size, std::string title = {}) {
    auto controller = std::make_shared<ViewController>();
    popup::setContentSizeInPopup(*controller, size);
    if (!title.empty()) controller->setTitle(std::move(title));
    return controller;
}

class PopupControllerTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        window = std::make_unique<MainWindow>();
        window->resize(800, 600);
        window->setRootViewController(root);
        window->show();
    }
    void TearDown() override {
        window.reset();
        WidgetTest::TearDown();
    }
    // The size of what the popup covers.
    QSize screen() const { return window->contentView()->size(); }
    QRect card(const PopupController& p) const { return platform::frame(p.containerView()); }
    double dragOffset(const PopupController& p) const { return platform::transform(p.containerView()).dy(); }
    void presentAndSettle(PopupController& p) {
        bool done = false;
        p.present(*root, [&] { done = true; });
        time.advance(0.6);
        ASSERT_TRUE(done);
    }

    tervolo::testsupport::VirtualClockScope time;
    std::shared_ptr<ViewController> root = std::make_shared<ViewController>();
    std::unique_ptr<MainWindow> window;
};

// A transition that moves nothing and reports when the test says so.
class HeldTransition : public PopupControllerTransitioning {
  public:
    double popupControllerTransitionDuration(const PopupControllerTransitioningContext&) override {
        return 0.3;
    }
    void popupControllerAnimateTransition(const PopupControllerTransitioningContext& context,
                                          std::function<void()> completion) override {
        actions.push_back(context.action());
        pending = std::move(completion);
    }
    std::vector<PopupControllerTransitioningContext::Action> actions;
    std::function<void()> pending;
};

}  // namespace

// Form sheet: centred, content below the bar. Bottom sheet: standing on the
// bottom edge above the bottom inset, running 80 pt past the screen's edge.
TEST_F(PopupControllerTest, CardLayoutForBothStyles) {
    struct Case {
        PopupStyle style;
        QSizeF size;
        bool barHidden;
        double bottomInset;
    };
    for (const Case& c :
         {Case{PopupStyle::formSheet, {300, 200}, false, 0}, Case{PopupStyle::formSheet, {400, 300}, true, 0},
          Case{PopupStyle::bottomSheet, {800, 200}, false, 0},
          Case{PopupStyle::bottomSheet, {500, 250}, false, 34},
          Case{PopupStyle::bottomSheet, {500, 250}, true, 34}}) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.style) << " " << c.size.width() << "x"
                                        << c.size.height() << " hidden " << c.barHidden);
        auto p = PopupController::make(content(c.size, "Card"));
        p->setStyle(c.style);
        p->setNavigationBarHidden(c.barHidden);
        if (c.bottomInset > 0) p->setSafeAreaInsets(QMarginsF(0, 0, 0, c.bottomInset));
        presentAndSettle(*p);
        const int W = screen().width();
        const int H = screen().height();
        const int bar = c.barHidden ? 0 : 44;
        const int w = c.size.width();
        const int h = c.size.height();
        const QRect expected = c.style == PopupStyle::formSheet
                                   ? QRect((W - w) / 2, (H - h - bar) / 2, w, h + bar)
                                   : QRect((W - w) / 2, H - (h + bar + int(c.bottomInset)), w,
                                           h + bar + int(c.bottomInset) + 80);
        EXPECT_EQ(card(*p), expected);
        EXPECT_EQ(platform::frame(p->contentView()), QRect(0, bar, w, h));
        EXPECT_EQ(platform::frame(p->navigationBar()), QRect(0, 0, w, 44)) << "laid out also when hidden";
        EXPECT_EQ(p->navigationBar()->isVisible(), !c.barHidden);
        EXPECT_EQ(p->topViewController()->view()->geometry(), QRect(0, 0, w, h));
        EXPECT_EQ(p->backgroundView()->geometry(), QRect(QPoint(), screen()));
        p->dismiss();
        time.advance(0.5);
        EXPECT_FALSE(p->isPresented());
    }
}

// A change of the top controller's size re-lays the card out with a spring;
// the landscape size is not used on a desktop, whose orientation is unknown.
TEST_F(PopupControllerTest, ContentSizeChangeRelaysCard) {
    auto top = content({300, 200});
    popup::setLandscapeContentSizeInPopup(*top, {600, 100});
    auto p = PopupController::make(top);
    presentAndSettle(*p);
    EXPECT_EQ(card(*p).size(), QSize(300, 244));
    popup::setContentSizeInPopup(*top, {400, 300});
    EXPECT_EQ(card(*p).size(), QSize(400, 344));
    EXPECT_EQ(card(*p).y(), (screen().height() - 344) / 2);
}

// Push and pop cross-fade a picture of the leaving screen; the popup link,
// containment and observers follow the stack.
TEST_F(PopupControllerTest, PushPopAndPopToRootKeepTheBooks) {
    CallLog log;
    auto a = std::make_shared<LoggingController>("A", log);
    auto b = std::make_shared<LoggingController>("B", log);
    auto c = std::make_shared<LoggingController>("C", log);
    for (auto* controller : {a.get(), b.get(), c.get()})
        popup::setContentSizeInPopup(*controller, {320, 240});
    a->setTitle("First");
    b->setTitle("Second");
    auto p = PopupController::make(a);
    EXPECT_EQ(popup::popupController(*a), p);
    presentAndSettle(*p);
    auto container = p->containerViewController();
    EXPECT_EQ(p->defaultLeftBarItem().type(), PopupLeftBarItem::Type::cross);
    EXPECT_EQ(log.take(),
              (Calls{"A.willMove", "A.viewDidLoad", "A.viewWillAppear", "A.viewDidAppear", "A.didMove"}));

    p->pushViewController(b, true);
    EXPECT_EQ(popup::popupController(*b), p);
    EXPECT_NE(p->containerView()->findChild<QWidget*>(QStringLiteral("popupTransitionSnapshot")), nullptr);
    EXPECT_EQ(p->defaultLeftBarItem().type(), PopupLeftBarItem::Type::arrow);
    EXPECT_EQ(p->navigationBar()->displayedTitle(), "Second");
    EXPECT_NE(p->navigationBar()->findChild<QWidget*>(QStringLiteral("popupOutgoingTitle")), nullptr);
    time.advance(0.6);
    EXPECT_EQ(p->navigationBar()->findChild<QWidget*>(QStringLiteral("popupOutgoingTitle")), nullptr);
    EXPECT_EQ(p->containerView()->findChild<QWidget*>(QStringLiteral("popupTransitionSnapshot")), nullptr);
    EXPECT_EQ(log.take(),
              (Calls{"A.viewWillDisappear", "A.willMove(null)", "B.viewDidLoad", "B.viewWillAppear",
                     "B.willMove", "A.didMove(null)", "B.didMove", "A.viewDidDisappear", "B.viewDidAppear"}));
    EXPECT_EQ(container->children(), (std::vector<std::shared_ptr<ViewController>>{b}));
    EXPECT_EQ(b->view()->parentWidget(), p->contentView());
    EXPECT_EQ(a->viewIfLoaded()->parentWidget(), nullptr);

    p->pushViewController(c, false);
    EXPECT_EQ(container->children(), (std::vector<std::shared_ptr<ViewController>>{c}));
    p->popToRootViewController(false);
    EXPECT_EQ(p->viewControllers(), (std::vector<std::shared_ptr<ViewController>>{a}));
    EXPECT_EQ(popup::popupController(*b), nullptr);
    EXPECT_EQ(popup::popupController(*c), nullptr);
    EXPECT_EQ(popup::popupController(*a), p);
    EXPECT_EQ(container->children(), (std::vector<std::shared_ptr<ViewController>>{a}));
    EXPECT_EQ(p->defaultLeftBarItem().type(), PopupLeftBarItem::Type::cross);
    EXPECT_EQ(p->navigationBar()->displayedTitle(), "First");
    // A popped controller's changes no longer reach the bar.
    b->setTitle("Gone");
    EXPECT_EQ(p->navigationBar()->displayedTitle(), "First");
    // The top controller's do.
    a->setTitle("Renamed");
    EXPECT_EQ(p->navigationBar()->displayedTitle(), "Renamed");

    p->pushViewController(b, false);
    p->leftBarItemDidTap();  // back arrow: pops
    time.advance(0.6);
    EXPECT_EQ(p->viewControllers().size(), 1u);
    EXPECT_EQ(popup::popupController(*b), nullptr);
    p->popToRootViewController(true);  // a single controller: nothing
    EXPECT_TRUE(p->isPresented());
    log.take();
    p->popViewController(true);  // the last one: the popup goes
    time.advance(0.5);
    EXPECT_FALSE(p->isPresented());
    EXPECT_EQ(log.take(),
              (Calls{"A.viewWillDisappear", "A.willMove(null)", "A.viewDidDisappear", "A.didMove(null)"}));
    EXPECT_TRUE(container->children().empty());
}

// The left item: close at the root unless hidden, back above it; none when the
// top's item hides the back button, its own items when it brings them.
TEST_F(PopupControllerTest, LeftItemFollowsStackAndItemSettings) {
    auto rootContent = content({300, 200}, "Root");
    auto p = PopupController::make(rootContent);
    presentAndSettle(*p);
    auto leftItems = [&] { return p->navigationBar()->topItem()->leftBarButtonItems(); };
    ASSERT_EQ(leftItems().size(), 1u);
    EXPECT_EQ(leftItems().front().get(), &p->defaultLeftBarItem());

    p->setHidesCloseButton(true);
    EXPECT_TRUE(leftItems().empty());
    auto pushed = content({300, 200}, "Pushed");
    p->pushViewController(pushed, false);
    ASSERT_EQ(leftItems().size(), 1u) << "the back arrow stays";
    EXPECT_EQ(p->defaultLeftBarItem().type(), PopupLeftBarItem::Type::arrow);

    pushed->navigationItem().setHidesBackButton(true);
    EXPECT_TRUE(leftItems().empty());
    auto own = std::make_shared<platform::BarButtonItem>("Own", platform::BarButtonItem::Style::plain, [] {});
    pushed->navigationItem().setLeftBarButtonItem(own);
    EXPECT_EQ(leftItems(), (std::vector<std::shared_ptr<platform::BarButtonItem>>{own}));
    auto right =
        std::make_shared<platform::BarButtonItem>("Done", platform::BarButtonItem::Style::done, [] {});
    pushed->navigationItem().setRightBarButtonItem(right);
    EXPECT_EQ(p->navigationBar()->topItem()->rightBarButtonItem(), right);

    // A title view lent to the bar goes back to its controller when it leaves.
    auto* titleView = new QLabel(QStringLiteral("Custom"));
    pushed->navigationItem().setTitleView(titleView);
    EXPECT_TRUE(p->navigationBar()->isAncestorOf(titleView));
    p->popViewController(false);
    QPointer<QWidget> guarded = titleView;
    EXPECT_NE(guarded, nullptr);
    EXPECT_EQ(pushed->navigationItem().titleView(), titleView);
}

// Keyboard avoidance of a card: centred between status bar and keyboard when
// it fits, else pushed up until its top meets the status bar, unless the
// focused input would still be hidden; then the input ends 5 pt above the
// keyboard.
TEST_F(PopupControllerTest, KeyboardOffsetTable) {
    struct Case {
        const char* name;
        PopupStyle style;
        double statusBar, y, h, inputTop, inputHeight;
        std::optional<double> offset;
    };
    // H = 800, k = 300.
    const Case cases[] = {
        {"fits: centred", PopupStyle::formSheet, 0, 200, 400, 300, 30, 150},
        {"fits exactly", PopupStyle::formSheet, 0, 150, 500, 300, 30, 150},
        {"fits under a status bar", PopupStyle::formSheet, 20, 200, 400, 300, 30, 140},
        {"too tall: top meets status bar", PopupStyle::formSheet, 0, 100, 600, 300, 30, 100},
        {"too tall: input still hidden", PopupStyle::formSheet, 0, 100, 600, 600, 30, 135},
        {"too tall: stays above keyboard anyway", PopupStyle::formSheet, 0, -20, 510, 100, 30, std::nullopt},
        {"bottom sheet", PopupStyle::bottomSheet, 0, 400, 400, 500, 30, 266},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PopupController::KeyboardAvoidance g;
        g.style = c.style;
        g.viewHeight = 800;
        g.keyboardHeight = 300;
        g.statusBarHeight = c.statusBar;
        g.cardY = c.y;
        g.cardHeight = c.h;
        g.inputTop = c.inputTop;
        g.inputHeight = c.inputHeight;
        g.safeAreaBottom = c.style == PopupStyle::bottomSheet ? 34 : 0;
        EXPECT_EQ(PopupController::keyboardOffset(g), c.offset);
    }
}

// Synthetic keyboard notifications move the card only while a text input in
// it has the focus, and the hide notification brings it back.
TEST_F(PopupControllerTest, KeyboardNotificationsMoveCardAroundFocusedInput) {
    auto top = content({400, 500});
    auto* field = new QLineEdit(top->view());
    field->setGeometry(20, 440, 200, 30);
    auto p = PopupController::make(top);
    presentAndSettle(*p);
    const int H = screen().height();
    const double keyboard = H / 2.0;
    platform::NotificationCenter::UserInfo info{
        {platform::UIKeyboardFrameEndUserInfoKey, QRectF(0, H - keyboard, screen().width(), keyboard)},
        {platform::UIKeyboardAnimationDurationUserInfoKey, 0.25}};
    auto& center = platform::NotificationCenter::defaultCenter();

    center.post(platform::UIKeyboardWillShowNotification, nullptr, info);
    EXPECT_EQ(dragOffset(*p), 0) << "no focused input: ignored";

    field->setFocus();
    center.post(platform::UIKeyboardWillShowNotification, nullptr, info);
    time.advance(0.3);
    // The card (544 high) cannot fit above the keyboard: its top meets the
    // window's top, and the field, still hidden, ends 5 pt above the keyboard.
    const double fieldBottom = card(*p).y() + 44 + 440 + 30;
    EXPECT_DOUBLE_EQ(dragOffset(*p), -(fieldBottom - (H - keyboard - 5)));

    center.post(platform::UIKeyboardWillHideNotification, nullptr, info);
    time.advance(0.3);
    EXPECT_EQ(platform::transform(p->containerView()), QTransform());
}

// Dragging the bar moves the card; a bottom sheet ignores upward drags past
// 80 pt; a release after 150 pt dismisses with the slide even under the fade
// style, which is back afterwards; a shorter one springs back.
TEST_F(PopupControllerTest, DragThresholdsAndStyleRestore) {
    auto p = PopupController::make(content({400, 300}));
    p->setStyle(PopupStyle::bottomSheet);
    p->setTransitionStyle(PopupTransitionStyle::fade);
    presentAndSettle(*p);
    auto& bar = *p->navigationBar();
    p->popupNavigationBarTouchDidMove(bar, -60);
    EXPECT_EQ(dragOffset(*p), -60);
    p->popupNavigationBarTouchDidMove(bar, -81);
    EXPECT_EQ(dragOffset(*p), -60) << "left where it was";
    p->popupNavigationBarTouchDidMove(bar, 120);
    p->popupNavigationBarTouchDidEnd(bar, 150);
    time.advance(0.5);
    EXPECT_EQ(dragOffset(*p), 0);
    EXPECT_TRUE(p->isPresented());

    p->popupNavigationBarTouchDidMove(bar, 170);
    p->popupNavigationBarTouchDidEnd(bar, 170);
    EXPECT_EQ(p->transitionStyle(), PopupTransitionStyle::slideVertical);
    // The card leaves from where the finger let go, through the bottom edge.
    const QRect frame = card(*p);
    EXPECT_GE(frame.y() + dragOffset(*p), screen().height());
    time.advance(0.2);
    EXPECT_TRUE(p->isPresented()) << "the slide takes 0.35 s";
    time.advance(0.2);
    EXPECT_FALSE(p->isPresented());
    EXPECT_EQ(p->transitionStyle(), PopupTransitionStyle::fade);
    EXPECT_EQ(dragOffset(*p), 0);
}

// Each transition takes its own time; the background fades with it and has its
// old alpha when the popup comes back, and a faded card is opaque again.
TEST_F(PopupControllerTest, TransitionDurationsAndRestoredAlpha) {
    struct Case {
        PopupTransitionStyle style;
        double present;
        double dismiss;
    };
    for (const Case& c : {Case{PopupTransitionStyle::slideVertical, 0.5, 0.35},
                          Case{PopupTransitionStyle::fade, 0.25, 0.2}}) {
        SCOPED_TRACE(static_cast<int>(c.style));
        auto p = PopupController::make(content({300, 200}));
        p->setTransitionStyle(c.style);
        QWidget* background = p->backgroundView();
        for (int round = 0; round < 2; ++round) {
            bool presented = false;
            p->present(*root, [&] { presented = true; });
            EXPECT_EQ(platform::alpha(background), 1) << "the model value at once";
            time.advance(c.present / 2);
            EXPECT_LT(platform::presentationAlpha(background), 1);
            EXPECT_FALSE(presented);
            time.advance(c.present / 2 + 0.02);
            EXPECT_TRUE(presented);
            EXPECT_EQ(platform::presentationAlpha(background), 1);
            EXPECT_EQ(platform::alpha(p->containerView()), 1);
            EXPECT_FALSE(p->containerView()->testAttribute(Qt::WA_TransparentForMouseEvents));

            bool dismissed = false;
            p->dismiss([&] { dismissed = true; });
            EXPECT_TRUE(p->containerView()->testAttribute(Qt::WA_TransparentForMouseEvents));
            time.advance(c.dismiss - 0.03);
            EXPECT_FALSE(dismissed);
            time.advance(0.05);
            EXPECT_TRUE(dismissed);
            EXPECT_EQ(platform::alpha(background), 1);
            EXPECT_EQ(platform::alpha(p->containerView()), 1);
        }
    }
}

// A second present while presented and a dismiss while not are silent.
TEST_F(PopupControllerTest, RepeatedPresentAndStrayDismissDoNothing) {
    auto p = PopupController::make(content({300, 200}));
    bool strayDismiss = false;
    p->dismiss([&] { strayDismiss = true; });
    presentAndSettle(*p);
    bool second = false;
    p->present(*root, [&] { second = true; });
    time.advance(1.0);
    EXPECT_FALSE(second);
    EXPECT_FALSE(strayDismiss);
    EXPECT_TRUE(p->isPresented());
}

// A custom transition style without its object slides; a custom transition
// that never reports is finished a second after its duration, so the popup
// does not stay half on screen and deaf.
TEST_F(PopupControllerTest, CustomTransitionFallbackAndWatchdog) {
    auto p = PopupController::make(content({300, 200}));
    p->setTransitionStyle(PopupTransitionStyle::custom);
    presentAndSettle(*p);
    EXPECT_TRUE(p->isPresented());
    p->dismiss();
    time.advance(0.4);
    EXPECT_FALSE(p->isPresented());

    auto held = std::make_shared<HeldTransition>();
    p->setTransitioning(held);
    bool presented = false;
    p->present(*root, [&] { presented = true; });
    ASSERT_EQ(held->actions.size(), 1u);
    EXPECT_EQ(held->actions[0], PopupControllerTransitioningContext::Action::present);
    time.advance(1.25);
    EXPECT_FALSE(presented);
    EXPECT_TRUE(p->containerView()->testAttribute(Qt::WA_TransparentForMouseEvents));
    time.advance(0.1);
    EXPECT_TRUE(presented);
    EXPECT_FALSE(p->containerView()->testAttribute(Qt::WA_TransparentForMouseEvents));
    held->pending();  // a late report changes nothing

    bool dismissed = false;
    p->dismiss([&] { dismissed = true; });
    ASSERT_EQ(held->actions.size(), 2u);
    held->pending();
    EXPECT_TRUE(dismissed);
    time.advance(2);
    EXPECT_FALSE(p->isPresented());
}

// A presented popup keeps itself alive until its dismissal has finished.
TEST_F(PopupControllerTest, PresentedPopupHoldsItself) {
    auto top = content({300, 200});
    std::weak_ptr<PopupController> weak;
    {
        auto p = PopupController::make(top);
        weak = p;
        presentAndSettle(*p);
    }
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(popup::popupController(*top), weak.lock());
    weak.lock()->leftBarItemDidTap();  // the close cross
    time.advance(0.5);
    time.advance(1.5);  // the transition's watchdog lets go too
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(popup::popupController(*top), nullptr) << "no dangling link";
}

// A popup dropped without being shown leaves no link behind, and its
// controllers present and dismiss like any other.
TEST_F(PopupControllerTest, DestroyedPopupLeavesNoDanglingLink) {
    auto top = content({300, 200});
    auto p = PopupController::make(top);
    p.reset();
    EXPECT_EQ(popup::popupController(*top), nullptr);
    bool dismissed = false;
    top->dismiss(false, [&] { dismissed = true; });
    EXPECT_TRUE(dismissed) << "nothing to dismiss: at once, as the platform does";
}

// Inside a popup a controller's dismiss ends the whole popup (animated even
// when asked not to), presents go above the popup, and the presentation
// links are the popup's; a child controller finds the popup through its parent.
TEST_F(PopupControllerTest, ControllersInsidePopupAreRedirected) {
    auto first = content({300, 200});
    auto second = content({300, 200});
    auto p = PopupController::make(first);
    p->pushViewController(second, false);
    presentAndSettle(*p);
    auto container = p->containerViewController();
    EXPECT_EQ(first->presentingViewController(), root);
    EXPECT_EQ(second->presentingViewController(), root);

    auto child = std::make_shared<ViewController>();
    second->addChild(child);
    EXPECT_EQ(popup::popupController(*child), p);

    auto alert = std::make_shared<ViewController>();
    first->present(alert, false);  // first is below the top, outside the container's children
    time.advance(0.5);
    EXPECT_EQ(container->presentedViewController(), alert);
    EXPECT_EQ(first->presentedViewController(), alert);
    alert->dismiss(false);
    time.advance(0.5);
    EXPECT_EQ(first->presentedViewController(), nullptr);

    bool done = false;
    child->dismiss(false, [&] { done = true; });
    EXPECT_TRUE(p->isPresented()) << "animated";
    EXPECT_FALSE(done);
    time.advance(0.4);
    EXPECT_FALSE(p->isPresented());
    EXPECT_TRUE(done);
}

// The frame a controller asks for is its view's frame at load; without sizes
// the view keeps its own. A width of zero takes the window's width.
TEST_F(PopupControllerTest, SizesAtLoadAndWidthFillIn) {
    auto sized = content({320, 180});
    EXPECT_EQ(sized->view()->geometry(), QRect(0, 0, 320, 180));
    auto plain = std::make_shared<ViewController>();
    const QRect ownFrame = QWidget().geometry();
    EXPECT_EQ(plain->view()->geometry(), ownFrame);

    auto filled = std::make_shared<ViewController>();
    root->addChild(filled, nullptr);
    popup::setContentSizeInPopup(*filled, {0, 300});
    EXPECT_EQ(popup::contentSizeInPopup(*filled), QSizeF(window->width(), 300));
    popup::setLandscapeContentSizeInPopup(*filled, {0, 200});
    EXPECT_EQ(popup::landscapeContentSizeInPopup(*filled), QSizeF(window->height(), 200));
    EXPECT_EQ(popup::contentSizeInPopup(*plain), QSizeF(0, 0));
}

// Any widget taking the focus is announced; one that refuses it is not.
TEST_F(PopupControllerTest, FocusChangesAreAnnounced) {
    auto p = PopupController::make(content({300, 200}));
    auto* field = new QLineEdit(root->view());
    auto* inert = new QWidget(root->view());
    inert->setEnabled(false);  // refuses the focus
    field->show();
    inert->show();
    std::vector<void*> objects;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        popup::PopupFirstResponderDidChangeNotification, nullptr,
        [&](const platform::NotificationCenter::Notification& note) {
            objects.push_back(note.object.get());
        });
    QApplication::setActiveWindow(window.get());
    field->setFocus();
    inert->setFocus();
    EXPECT_EQ(objects, (std::vector<void*>{field}));
}

// The bar hides and shows, animated or not, and ends fully visible when shown;
// a re-layout for a new orientation fades the card out and back in.
TEST_F(PopupControllerTest, BarHidingAndOrientationRelayout) {
    auto p = PopupController::make(content({300, 200}));
    presentAndSettle(*p);
    auto* bar = p->navigationBar();
    p->setNavigationBarHidden(true, true);
    EXPECT_TRUE(bar->isVisible()) << "fades out first";
    EXPECT_EQ(platform::frame(p->contentView()).y(), 0);
    time.advance(0.6);
    EXPECT_FALSE(bar->isVisible());
    p->setNavigationBarHidden(false, false);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(platform::alpha(bar), 1);
    EXPECT_EQ(platform::presentationAlpha(bar), 1);
    EXPECT_EQ(platform::frame(p->contentView()).y(), 44);

    const QRect before = card(*p);
    p->orientationDidChange();
    time.advance(0.2);
    EXPECT_LT(platform::presentationAlpha(p->containerView()), 0.1);
    time.advance(0.3);
    EXPECT_EQ(platform::alpha(p->containerView()), 1);
    EXPECT_EQ(card(*p), before);
}

// A click on the dimmed background ends editing in the card.
TEST_F(PopupControllerTest, BackgroundClickEndsEditing) {
    auto top = content({300, 200});
    auto* field = new QLineEdit(top->view());
    auto p = PopupController::make(top);
    presentAndSettle(*p);
    QApplication::setActiveWindow(window.get());
    field->setFocus();
    ASSERT_TRUE(field->hasFocus());
    QTest::mouseClick(p->backgroundView(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(field->hasFocus());
}
