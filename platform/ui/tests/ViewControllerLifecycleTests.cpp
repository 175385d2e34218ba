#include <gtest/gtest.h>

#include <QLabel>

#include "ViewControllerTestSupport.hpp"
#include "WidgetKitTestSupport.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
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
