#include <gtest/gtest.h>

#include <QLabel>

#include <mutex>
#include <thread>

#include "ViewControllerTestSupport.hpp"
#include "WidgetKitTestSupport.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/ViewController.hpp"

using platform::MainWindow;
using platform::ModalPresentationStyle;
using platform::NavigationController;
using platform::ViewController;
using viewcontroller_test::CallLog;
using viewcontroller_test::HeldPresentationAnimator;
using viewcontroller_test::LoggingController;
using Calls = std::vector<std::string>;

namespace {

class ViewControllerTest : public widgetkit_test::WidgetTest {};

class MapScreenStandIn : public ViewController {};
class DetailScreenStandIn : public MapScreenStandIn {};

}  // namespace

TEST_F(ViewControllerTest, ViewDidLoadRunsOnceHoweverOftenTheViewIsRead) {
    CallLog log;
    auto a = std::make_shared<LoggingController>("A", log);
    EXPECT_FALSE(a->isViewLoaded());
    QWidget* first = a->view();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a->view(), first);
    EXPECT_EQ(log.take(), Calls{"A.viewDidLoad"});
    EXPECT_EQ(ViewController::owning(first), a.get());
    auto* inner = new QLabel(first);
    EXPECT_EQ(ViewController::owning(inner), a.get());
}

TEST_F(ViewControllerTest, WindowShowAndHideMakeTheRootAppearAndDisappear) {
    CallLog log;
    auto a = std::make_shared<LoggingController>("A", log);
    MainWindow window;
    window.resize(400, 300);
    window.setRootViewController(a);
    EXPECT_EQ(log.take(), Calls{"A.viewDidLoad"});
    window.show();
    EXPECT_EQ(log.take(), (Calls{"A.viewWillAppear", "A.viewDidAppear"}));
    window.show();
    EXPECT_TRUE(log.take().empty());
    window.hide();
    EXPECT_EQ(log.take(), (Calls{"A.viewWillDisappear", "A.viewDidDisappear"}));
    EXPECT_EQ(a->window(), &window);
    EXPECT_EQ(window.rootViewController(), a);
}

TEST_F(ViewControllerTest, ScreenAppearedHookGetsClassNameAndInheritanceChain) {
    std::vector<platform::ScreenAppearance> seen;
    auto previous = ViewController::setScreenAppearedHook(
        [&](ViewController&, const platform::ScreenAppearance& appearance) { seen.push_back(appearance); });
    auto detail = std::make_shared<DetailScreenStandIn>();
    auto navigation = std::make_shared<NavigationController>(detail);
    MainWindow window;
    window.setRootViewController(navigation);
    window.show();
    ViewController::setScreenAppearedHook(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].className, "NavigationController");
    EXPECT_EQ(seen[0].inheritanceChain, (std::vector<std::string>{"NavigationController", "ViewController"}));
    EXPECT_EQ(seen[1].className, "DetailScreenStandIn");
    EXPECT_EQ(seen[1].inheritanceChain,
              (std::vector<std::string>{"DetailScreenStandIn", "MapScreenStandIn", "ViewController"}));
}

namespace {

// A window showing a root controller "A" that logs into `log`.
struct ShownRoot {
    explicit ShownRoot(CallLog& log) : root(std::make_shared<LoggingController>("A", log)) {
        window.resize(800, 600);
        window.setRootViewController(root);
        window.show();
        log.take();
    }
    std::shared_ptr<LoggingController> root;
    MainWindow window;
};

}  // namespace

// Present and dismiss, animated (held between the "will" and "did" calls) or
// not, for a style that covers the presenter and one that does not.
TEST_F(ViewControllerTest, PresentAndDismissCallOrder) {
    struct Case {
        ModalPresentationStyle style;
        bool animated;
        Calls presentWill;  // before the transition ends (all of it when not animated)
        Calls presentDid;
        Calls dismissWill;
        Calls dismissDid;
    };
    const Calls coverWill{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear"};
    const Calls coverDid{"A.viewDidDisappear", "B.viewDidAppear", "completion"};
    const Calls uncoverWill{"B.viewWillDisappear", "A.viewWillAppear"};
    const Calls uncoverDid{"B.viewDidDisappear", "A.viewDidAppear", "completion"};
    const Calls sheetWill{"B.viewDidLoad", "B.viewWillAppear"};
    const Calls sheetDid{"B.viewDidAppear", "completion"};
    const Calls sheetGoneWill{"B.viewWillDisappear"};
    const Calls sheetGoneDid{"B.viewDidDisappear", "completion"};
    const Case cases[] = {
        {ModalPresentationStyle::fullScreen, false, coverWill, coverDid, uncoverWill, uncoverDid},
        {ModalPresentationStyle::fullScreen, true, coverWill, coverDid, uncoverWill, uncoverDid},
        {ModalPresentationStyle::formSheet, false, sheetWill, sheetDid, sheetGoneWill, sheetGoneDid},
        {ModalPresentationStyle::formSheet, true, sheetWill, sheetDid, sheetGoneWill, sheetGoneDid},
        {ModalPresentationStyle::overCurrentContext, true, sheetWill, sheetDid, sheetGoneWill, sheetGoneDid},
        {ModalPresentationStyle::custom, false, sheetWill, sheetDid, sheetGoneWill, sheetGoneDid},
        {ModalPresentationStyle::popover, true, sheetWill, sheetDid, sheetGoneWill, sheetGoneDid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "style " << static_cast<int>(c.style) << " animated " << c.animated);
        CallLog log;
        ShownRoot shown(log);
        HeldPresentationAnimator held;
        auto b = std::make_shared<LoggingController>("B", log);
        b->setModalPresentationStyle(c.style);
        auto concat = [](Calls a, const Calls& b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        };

        shown.root->present(b, c.animated, [&] { log.calls.push_back("completion"); });
        if (c.animated) {
            EXPECT_EQ(log.take(), c.presentWill);
            EXPECT_TRUE(b->isBeingPresented());
            ASSERT_EQ(held.pending(), 1u);
            held.finishOne();
            EXPECT_EQ(log.take(), c.presentDid);
        } else {
            EXPECT_EQ(held.pending(), 0u);
            EXPECT_EQ(log.take(), concat(c.presentWill, c.presentDid));
        }
        EXPECT_EQ(shown.root->presentedViewController(), b);
        EXPECT_EQ(b->presentingViewController(), shown.root);
        EXPECT_TRUE(b->view()->isVisible());

        b->dismiss(c.animated, [&] { log.calls.push_back("completion"); });
        if (c.animated) {
            EXPECT_EQ(log.take(), c.dismissWill);
            EXPECT_TRUE(b->isBeingDismissed());
            held.finishOne();
            EXPECT_EQ(log.take(), c.dismissDid);
        } else {
            EXPECT_EQ(log.take(), concat(c.dismissWill, c.dismissDid));
        }
        EXPECT_EQ(shown.root->presentedViewController(), nullptr);
        EXPECT_EQ(b->presentingViewController(), nullptr);
        EXPECT_FALSE(b->view()->isVisible());
    }
}

TEST_F(ViewControllerTest, PushPopAndPopToRootCallOrder) {
    for (bool animated : {false, true}) {
        SCOPED_TRACE(animated ? "animated" : "not animated");
        CallLog log;
        auto r = std::make_shared<LoggingController>("R", log);
        auto navigation = std::make_shared<NavigationController>(r);
        MainWindow window;
        window.resize(600, 400);
        window.setRootViewController(navigation);
        window.show();
        EXPECT_EQ(log.take(),
                  (Calls{"R.willMove", "R.didMove", "R.viewDidLoad", "R.viewWillAppear", "R.viewDidAppear"}));
        HeldPresentationAnimator held;
        auto finish = [&] {
            if (animated) {
                ASSERT_EQ(held.pending(), 1u);
                held.finishOne();
            }
        };

        auto a = std::make_shared<LoggingController>("A", log);
        navigation->pushViewController(a, animated);
        finish();
        EXPECT_EQ(log.take(), (Calls{"A.willMove", "A.viewDidLoad", "R.viewWillDisappear", "A.viewWillAppear",
                                     "R.viewDidDisappear", "A.viewDidAppear", "A.didMove"}));
        auto b = std::make_shared<LoggingController>("B", log);
        navigation->pushViewController(b, animated);
        finish();
        log.take();
        EXPECT_EQ(navigation->topViewController(), b);
        EXPECT_EQ(b->navigationController(), navigation.get());

        EXPECT_EQ(navigation->popViewController(animated), b);
        finish();
        EXPECT_EQ(log.take(), (Calls{"B.willMove(null)", "B.viewWillDisappear", "A.viewWillAppear",
                                     "B.viewDidDisappear", "A.viewDidAppear", "B.didMove(null)"}));
        EXPECT_EQ(b->parent(), nullptr);

        navigation->pushViewController(b, animated);
        finish();
        log.take();
        EXPECT_EQ(navigation->popToRootViewController(animated),
                  (std::vector<std::shared_ptr<ViewController>>{a, b}));
        finish();
        EXPECT_EQ(log.take(),
                  (Calls{"B.willMove(null)", "A.willMove(null)", "B.viewWillDisappear", "R.viewWillAppear",
                         "B.viewDidDisappear", "R.viewDidAppear", "B.didMove(null)", "A.didMove(null)"}));
        EXPECT_EQ(navigation->viewControllers().size(), 1u);
        EXPECT_EQ(navigation->popViewController(animated), nullptr);  // the root stays
        EXPECT_EQ(held.pending(), 0u);
    }
}

TEST_F(ViewControllerTest, ChildAddAndRemoveCallOrder) {
    CallLog log;
    ShownRoot shown(log);
    auto c = std::make_shared<LoggingController>("C", log);
    shown.root->addChild(c, nullptr);
    EXPECT_EQ(log.take(),
              (Calls{"C.willMove", "C.viewDidLoad", "C.viewWillAppear", "C.viewDidAppear", "C.didMove"}));
    EXPECT_EQ(c->parent(), shown.root.get());
    EXPECT_TRUE(shown.root->view()->isAncestorOf(c->view()));

    // A visible child follows its parent's appearance.
    shown.window.hide();
    EXPECT_EQ(log.take(), (Calls{"A.viewWillDisappear", "C.viewWillDisappear", "A.viewDidDisappear",
                                 "C.viewDidDisappear"}));
    shown.window.show();
    log.take();

    shown.root->removeChild(c);
    EXPECT_EQ(log.take(),
              (Calls{"C.willMove(null)", "C.viewWillDisappear", "C.viewDidDisappear", "C.didMove(null)"}));
    EXPECT_EQ(c->parent(), nullptr);
    EXPECT_TRUE(shown.root->children().empty());

    // Off screen: containment calls only.
    shown.window.hide();
    log.take();
    shown.root->addChild(c, nullptr);
    shown.root->removeChild(c);
    EXPECT_EQ(log.take(), (Calls{"C.willMove", "C.didMove", "C.willMove(null)", "C.didMove(null)"}));
}

// A presentation asked for during a running transition waits for it; one on
// a controller that already presents is refused with a log line and its
// completion never runs; a chain dismissed from its bottom goes at once.
TEST_F(ViewControllerTest, PresentationsQueueWhileRunningAndRefuseWhenOccupied) {
    CallLog log;
    ShownRoot shown(log);
    platform::PresentationRecorder recorder;
    HeldPresentationAnimator held;
    auto b = std::make_shared<LoggingController>("B", log);
    auto c = std::make_shared<LoggingController>("C", log);
    shown.root->present(b, true);
    b->present(c, false, [&] { log.calls.push_back("C presented"); });  // B is still being presented
    EXPECT_EQ(b->presentedViewController(), nullptr);
    held.finishOne();
    EXPECT_EQ(b->presentedViewController(), c);
    EXPECT_EQ(log.take(),
              (Calls{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear", "A.viewDidDisappear",
                     "B.viewDidAppear", "C.viewDidLoad", "B.viewWillDisappear", "C.viewWillAppear",
                     "B.viewDidDisappear", "C.viewDidAppear", "C presented"}));
    EXPECT_EQ(shown.root->topMostViewController(), c);

    auto d = std::make_shared<LoggingController>("D", log);
    bool completed = false;
    b->present(d, false, [&] { completed = true; });
    EXPECT_FALSE(completed);
    ASSERT_EQ(recorder.refusals().size(), 1u);
    EXPECT_NE(recorder.refusals()[0].find("already presenting"), std::string::npos);
    EXPECT_EQ(d->presentingViewController(), nullptr);

    shown.root->dismiss(false, [&] { log.calls.push_back("dismissed"); });
    EXPECT_EQ(log.take(), (Calls{"C.viewWillDisappear", "A.viewWillAppear", "C.viewDidDisappear",
                                 "A.viewDidAppear", "dismissed"}));
    EXPECT_EQ(shown.root->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentedViewController(), nullptr);
    EXPECT_EQ(recorder.presentedClassNames(),
              (std::vector<std::string>{"LoggingController", "LoggingController"}));
}

// A controller inside a navigation stack presents from the stack's
// navigation controller, and the bar follows the top item.
TEST_F(ViewControllerTest, ChildPresentsFromItsRootAncestor) {
    CallLog log;
    auto r = std::make_shared<LoggingController>("R", log);
    auto navigation = std::make_shared<NavigationController>(r);
    MainWindow window;
    window.setRootViewController(navigation);
    window.show();
    auto sheet = std::make_shared<LoggingController>("S", log);
    sheet->setModalPresentationStyle(ModalPresentationStyle::formSheet);
    r->present(sheet, false);
    EXPECT_EQ(sheet->presentingViewController(), navigation);
    EXPECT_EQ(r->presentedViewController(), sheet);
    EXPECT_EQ(navigation->visibleViewController(), sheet);
    sheet->dismiss(false);
    EXPECT_EQ(navigation->visibleViewController(), r);
}

// Controllers outlive their window: deleting it makes them disappear,
// dismisses what the root presents, and their views stay theirs.
TEST_F(ViewControllerTest, ControllersOutliveTheirWindow) {
    CallLog log;
    auto a = std::make_shared<LoggingController>("A", log);
    auto b = std::make_shared<LoggingController>("B", log);
    b->setModalPresentationStyle(ModalPresentationStyle::formSheet);
    QPointer<QWidget> aView, bView;
    {
        MainWindow window;
        window.setRootViewController(a);
        window.show();
        a->present(b, false);
        aView = a->view();
        bView = b->view();
        log.take();
    }
    EXPECT_EQ(log.take(), (Calls{"B.viewWillDisappear", "A.viewWillDisappear", "B.viewDidDisappear",
                                 "A.viewDidDisappear"}));
    EXPECT_FALSE(aView.isNull());
    EXPECT_FALSE(bView.isNull());
    EXPECT_EQ(a->view(), aView.data());
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);

    // Another window takes the root and shows it; replacing the root again
    // dismisses what it presents meanwhile.
    MainWindow second;
    second.setRootViewController(a);
    second.show();
    a->present(b, false);
    EXPECT_EQ(log.take(),
              (Calls{"A.viewWillAppear", "A.viewDidAppear", "B.viewWillAppear", "B.viewDidAppear"}));
    second.setRootViewController(std::make_shared<ViewController>());
    EXPECT_EQ(log.take(), (Calls{"B.viewWillDisappear", "A.viewWillDisappear", "B.viewDidDisappear",
                                 "A.viewDidDisappear"}));
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(a->view()->parentWidget(), nullptr);
    EXPECT_EQ(b->view()->parentWidget(), nullptr);
}

// Debug builds catch use of the UI layer off the main thread.
TEST_F(ViewControllerTest, OffMainThreadUseIsReportedInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds only";
#else
    std::vector<std::string> messages;
    std::mutex mutex;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view, std::string_view message) {
            std::lock_guard lock(mutex);
            messages.emplace_back(message);
        });
    std::thread worker([] { platform::setPresentationAnimator({}); });
    worker.join();
    EXPECT_EQ(messages, std::vector<std::string>{"UI object used off the main thread"});
#endif
}
