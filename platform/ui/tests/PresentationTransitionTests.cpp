#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "ViewControllerTestSupport.hpp"
#include "WidgetKitTestSupport.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/PresentationTransitioning.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "platform/ui/Toolbar.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"

using platform::BarButtonItem;
using platform::MainWindow;
using platform::ModalPresentationStyle;
using platform::NavigationController;
using platform::ViewController;
using platform::ViewControllerContextTransitioning;
using viewcontroller_test::CallLog;
using viewcontroller_test::LoggingController;
using Calls = std::vector<std::string>;
using Key = ViewControllerContextTransitioning::Key;

namespace {

class PresentationTransitionTest : public widgetkit_test::WidgetTest {
  protected:
    platform::ImmediateAnimationsScope immediate;
};

// Places the presented view itself and finishes when the test says so, as a
// popup's animator does.
class HeldAnimator : public platform::ViewControllerAnimatedTransitioning {
  public:
    double transitionDuration(const ViewControllerContextTransitioning&) const override { return 0.25; }
    void animateTransition(ViewControllerContextTransitioning& context) override {
        this->context = &context;
        presenting = context.view(Key::to) != nullptr;
        if (presenting) {
            QWidget* view = context.view(Key::to);
            view->setParent(context.containerView());
            const QRectF final = context.finalFrame(*context.viewController(Key::to));
            view->setGeometry(
                final.toRect().adjusted(100, 100, -100, -100));  // a card, not the whole container
            view->show();
        }
    }
    void animationEnded(bool completed) override {
        ended.push_back(completed);
        cancelled.push_back(context->transitionWasCancelled());
    }
    ViewControllerContextTransitioning* context = nullptr;
    bool presenting = false;
    std::vector<bool> ended;
    std::vector<bool> cancelled;
};

class Delegate : public platform::ViewControllerTransitioningDelegate {
  public:
    std::shared_ptr<platform::ViewControllerAnimatedTransitioning> animationControllerForPresented(
        ViewController&, ViewController&, ViewController&) override {
        return animator;
    }
    std::shared_ptr<platform::ViewControllerAnimatedTransitioning> animationControllerForDismissed(
        ViewController&) override {
        return animator;
    }
    std::shared_ptr<HeldAnimator> animator = std::make_shared<HeldAnimator>();
};

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

// The custom style: the delegate's animator places the view in the container
// and ends the transition when it likes; the presenter stays visible.
TEST_F(PresentationTransitionTest, CustomTransitionRunsTheDelegatesAnimator) {
    CallLog log;
    ShownRoot shown(log);
    auto delegate = std::make_shared<Delegate>();
    auto b = std::make_shared<LoggingController>("B", log);
    b->setModalPresentationStyle(ModalPresentationStyle::custom);
    b->setTransitioningDelegate(delegate);
    shown.root->present(b, true, [&] { log.calls.push_back("completion"); });
    auto& animator = *delegate->animator;
    ASSERT_NE(animator.context, nullptr);
    EXPECT_TRUE(animator.presenting);
    EXPECT_TRUE(animator.context->isAnimated());
    EXPECT_EQ(animator.context->viewController(Key::from), shown.root);
    EXPECT_EQ(animator.context->viewController(Key::to), b);
    EXPECT_EQ(animator.context->view(Key::from), nullptr);
    EXPECT_EQ(animator.context->containerView()->geometry(), shown.window.contentView()->rect());
    EXPECT_EQ(log.take(), (Calls{"B.viewDidLoad", "B.viewWillAppear"}));
    animator.context->completeTransition(true);
    animator.context->completeTransition(true);  // ignored
    EXPECT_EQ(log.take(), (Calls{"B.viewDidAppear", "completion"}));
    EXPECT_EQ(animator.ended, std::vector<bool>{true});
    EXPECT_EQ(b->view()->geometry(), QRect(100, 100, 600, shown.window.contentView()->height() - 200));

    animator.context = nullptr;
    b->dismiss(true);
    ASSERT_NE(animator.context, nullptr);
    EXPECT_FALSE(animator.presenting);
    EXPECT_EQ(animator.context->view(Key::from), b->view());
    EXPECT_EQ(animator.context->initialFrame(*b), QRectF(animator.context->containerView()->rect()));
    EXPECT_EQ(log.take(), (Calls{"B.viewWillDisappear"}));
    EXPECT_EQ(shown.root->presentedViewController(), nullptr);
    animator.context->completeTransition(true);
    EXPECT_EQ(log.take(), (Calls{"B.viewDidDisappear"}));
    EXPECT_EQ(b->view()->parentWidget(), nullptr);
}

// A cancelled presentation leaves nothing presented and the controller never
// appeared; a cancelled dismissal leaves it presented.
TEST_F(PresentationTransitionTest, CancelledTransitionsUndoTheirChange) {
    CallLog log;
    ShownRoot shown(log);
    auto delegate = std::make_shared<Delegate>();
    auto b = std::make_shared<LoggingController>("B", log);
    b->setModalPresentationStyle(ModalPresentationStyle::custom);
    b->setTransitioningDelegate(delegate);
    shown.root->present(b, true);
    delegate->animator->context->completeTransition(false);
    EXPECT_EQ(log.take(),
              (Calls{"B.viewDidLoad", "B.viewWillAppear", "B.viewWillDisappear", "B.viewDidDisappear"}));
    EXPECT_EQ(shown.root->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);

    shown.root->present(b, true);
    delegate->animator->context->completeTransition(true);
    log.take();
    b->dismiss(true);
    delegate->animator->context->completeTransition(false);
    EXPECT_EQ(log.take(), (Calls{"B.viewWillDisappear", "B.viewWillAppear", "B.viewDidAppear"}));
    EXPECT_EQ(shown.root->presentedViewController(), b);
    EXPECT_FALSE(b->isBeingDismissed());
    EXPECT_EQ(delegate->animator->ended, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(delegate->animator->cancelled, (std::vector<bool>{true, false, true}));
}

// A popover anchored at a bar button item opens below the item's button,
// inside the window.
TEST_F(PresentationTransitionTest, PopoverAnchorsAtABarButtonItem) {
    auto screen = std::make_shared<ViewController>();
    auto item = std::make_shared<BarButtonItem>("Layers", BarButtonItem::Style::plain, [] {});
    screen->navigationItem().setRightBarButtonItem(item);
    auto navigation = std::make_shared<NavigationController>(screen);
    MainWindow window;
    window.resize(700, 500);
    window.setRootViewController(navigation);
    window.show();
    ASSERT_NE(item->view(), nullptr);
    auto popover = std::make_shared<ViewController>();
    popover->setModalPresentationStyle(ModalPresentationStyle::popover);
    popover->popoverPresentationController()->setBarButtonItem(item);
    popover->setPreferredContentSize(QSizeF(240, 160));
    screen->present(popover, false);
    const QRect panel = popover->view()->parentWidget()->geometry();
    const QRect button(item->view()->mapTo(window.contentView(), QPoint(0, 0)), item->view()->size());
    EXPECT_EQ(popover->view()->size(), QSize(240, 160));
    EXPECT_GT(panel.top(), button.bottom());
    EXPECT_TRUE(window.contentView()->rect().contains(panel));
    // Escape closes it.
    popover->view()->setFocus();
    auto* field = new QLineEdit(popover->view());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

namespace {

class SizeWatcher : public ViewController {
  public:
    void viewWillTransition(QSizeF size) override {
        sizes.push_back(size);
        viewSizeAtCall.push_back(view()->size());
    }
    void traitCollectionDidChange(const platform::TraitCollection& previous) override {
        previousStyles.push_back(previous.userInterfaceStyle);
    }
    std::vector<QSizeF> sizes;
    std::vector<QSize> viewSizeAtCall;
    std::vector<platform::TraitCollection::UserInterfaceStyle> previousStyles;
};

}  // namespace

// A new window size reaches the root and its children before their views
// take it; a palette change between light and dark reaches everyone once.
TEST_F(PresentationTransitionTest, SizeAndTraitChangesReachTheControllers) {
    auto root = std::make_shared<SizeWatcher>();
    auto child = std::make_shared<SizeWatcher>();
    MainWindow window;
    window.resize(500, 400);
    window.setRootViewController(root);
    window.show();
    root->addChild(child, nullptr);
    root->sizes.clear();
    root->viewSizeAtCall.clear();
    const QSize before = root->view()->size();
    window.resize(640, 480);
    QApplication::processEvents();
    ASSERT_FALSE(root->sizes.empty());
    EXPECT_EQ(root->sizes.back(), QSizeF(window.contentView()->size()));
    EXPECT_EQ(root->viewSizeAtCall.back(), before);
    EXPECT_EQ(root->view()->size(), window.contentView()->size());
    ASSERT_FALSE(child->sizes.empty());
    EXPECT_EQ(child->sizes.back(), root->sizes.back());

    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    QApplication::processEvents();
    QApplication::setPalette(light);
    QApplication::processEvents();
    using Style = platform::TraitCollection::UserInterfaceStyle;
    EXPECT_EQ(root->previousStyles, (std::vector<Style>{Style::light, Style::dark}));
    EXPECT_EQ(child->previousStyles, (std::vector<Style>{Style::light, Style::dark}));
    EXPECT_EQ(root->traitCollection().userInterfaceStyle, Style::light);
}

TEST_F(PresentationTransitionTest, ToolbarSearchFieldSlotTakesOneWidget) {
    MainWindow window;
    auto& toolbar = window.toolbar();
    EXPECT_EQ(&window.toolbar(), &toolbar);
    EXPECT_EQ(toolbar.objectName(), "main");
    EXPECT_EQ(toolbar.toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    int clicks = 0;
    QAction* add = toolbar.addItem("add", QIcon(), "Add", [&] { ++clicks; });
    EXPECT_EQ(toolbar.addItem("add", QIcon(), "Other", nullptr), add);
    add->trigger();
    EXPECT_EQ(clicks, 1);
    QPointer<QLineEdit> first = new QLineEdit();
    toolbar.setSearchFieldWidget(first);
    auto* second = new QLineEdit();
    toolbar.setSearchFieldWidget(second);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(toolbar.searchFieldWidget(), second);
    EXPECT_EQ(toolbar.itemIdentifiers(), (std::vector<std::string>{"add", "searchField"}));
    EXPECT_EQ(MainWindow::windowOf(second), &window);
}

namespace {

class Restorable : public ViewController {
  public:
    Restorable() { setRestorationIdentifier("Main"); }
    void encodeRestorableState(platform::RestorationCoder& coder) override {
        coder.encode("mapStyle", "Hybrid");
    }
};

}  // namespace

// The archive is written when the application quits, as the lifecycle source
// reports it.
TEST_F(PresentationTransitionTest, RestorationArchiveIsWrittenAtQuit) {
    tervolo::testsupport::TemporaryFolder folder;
    platform::ApplicationLifecycle lifecycle(*QCoreApplication::instance(), {},
                                             platform::NotificationCenter::defaultCenter());
    MainWindow window;
    window.setRootViewController(std::make_shared<Restorable>());
    platform::RestorationArchive archive(folder.file("state.json"));
    auto gate = std::make_shared<platform::AppVersionRestorationGate>([] { return std::string("7"); });
    archive.setDelegate(gate);
    archive.saveOnResignActiveAndQuit();
    {
        // An archive gone before the quit leaves no hook behind.
        platform::RestorationArchive gone(folder.file("gone.json"));
        gone.setDelegate(gate);
        gone.saveOnResignActiveAndQuit();
    }
    QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
    QApplication::exec();
    auto bytes = platform::FileManager::defaultManager().readFile(folder.file("state.json"));
    ASSERT_TRUE(bytes);
    std::string reason;
    auto contents = platform::RestorationArchive::decodeFile(*bytes, reason);
    ASSERT_TRUE(contents) << reason;
    EXPECT_EQ(contents->application.at("appVersion"), platform::PropertyValue("7"));
    EXPECT_EQ(contents->controllers.at("Main").at("mapStyle"), platform::PropertyValue("Hybrid"));
    EXPECT_FALSE(platform::FileManager::defaultManager().fileExists(folder.file("gone.json")));
}

// Without a test animator, an animated presentation runs on the animation
// helper's clock: the overlay fades in over the transition's duration, and
// the "did" calls come when it ends, not before.
namespace {

// Animations run on the clock here (no immediate mode).
class PresentationOnVirtualTimeTest : public widgetkit_test::WidgetTest {};

}  // namespace

TEST_F(PresentationOnVirtualTimeTest, AnimatedSheetFadesInAndOutOnTheClock) {
    {
        tervolo::testsupport::VirtualClockScope time;
        CallLog log;
        ShownRoot shown(log);
        auto b = std::make_shared<LoggingController>("B", log);
        b->setModalPresentationStyle(ModalPresentationStyle::formSheet);
        shown.root->present(b, true);
        QWidget* overlay = b->view()->parentWidget()->parentWidget();
        EXPECT_EQ(log.take(), (Calls{"B.viewDidLoad", "B.viewWillAppear"}));
        EXPECT_EQ(platform::alpha(overlay), 1.0);  // the model value at once
        time.advance(platform::kPresentationTransitionDuration / 2);
        EXPECT_GT(platform::presentationAlpha(overlay), 0.0);
        EXPECT_LT(platform::presentationAlpha(overlay), 1.0);
        EXPECT_TRUE(log.take().empty());
        time.advance(platform::kPresentationTransitionDuration / 2 + 0.05);
        EXPECT_EQ(log.take(), (Calls{"B.viewDidAppear"}));
        EXPECT_EQ(platform::presentationAlpha(overlay), 1.0);

        b->dismiss(true);
        EXPECT_EQ(log.take(), (Calls{"B.viewWillDisappear"}));
        time.advance(platform::kPresentationTransitionDuration + 0.05);
        EXPECT_EQ(log.take(), (Calls{"B.viewDidDisappear"}));
        EXPECT_EQ(shown.root->presentedViewController(), nullptr);
    }
}
