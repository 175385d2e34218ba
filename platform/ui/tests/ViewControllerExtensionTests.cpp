#include <gtest/gtest.h>

#include "ViewControllerTestSupport.hpp"
#include "WidgetKitTestSupport.hpp"
#include "platform/ui/ViewControllerExtension.hpp"

using platform::ViewController;
using viewcontroller_test::CallLog;
using viewcontroller_test::LoggingController;
using Calls = std::vector<std::string>;

namespace {

class ViewControllerExtensionTest : public widgetkit_test::WidgetTest {};

// Takes dismissals over and answers the presentation links with another controller.
class Redirect : public platform::ViewControllerExtension {
  public:
    explicit Redirect(CallLog& log) : log_(log) {}
    void viewWillLoad(ViewController& controller) override {
        log_.calls.push_back("viewWillLoad");
        controller.viewIfLoaded()->setGeometry(0, 0, 120, 80);
    }
    bool dismiss(ViewController&, bool, std::function<void()>& completion) override {
        log_.calls.push_back("dismiss taken");
        taken = std::move(completion);
        return true;
    }
    std::shared_ptr<ViewController> presentationLinksOwner(const ViewController&) const override {
        return owner;
    }
    std::function<void()> taken;
    std::shared_ptr<ViewController> owner;

  private:
    CallLog& log_;
};

const char kKey = 0;

}  // namespace

// The extension sees the view before viewDidLoad and may take calls over;
// removed, the controller behaves as before.
TEST_F(ViewControllerExtensionTest, ExtensionHooksRunAndCanBeRemoved) {
    CallLog log;
    auto controller = std::make_shared<LoggingController>("A", log);
    auto redirect = std::make_shared<Redirect>(log);
    controller->setExtension(&kKey, redirect);
    EXPECT_EQ(controller->extension(&kKey), redirect.get());
    EXPECT_EQ(controller->view()->geometry(), QRect(0, 0, 120, 80));
    EXPECT_EQ(log.take(), (Calls{"viewWillLoad", "A.viewDidLoad"}));

    bool completed = false;
    controller->dismiss(false, [&] { completed = true; });
    EXPECT_EQ(log.take(), Calls{"dismiss taken"});
    EXPECT_FALSE(completed) << "the extension owns the completion";
    redirect->taken();
    EXPECT_TRUE(completed);

    auto presenter = std::make_shared<ViewController>();
    auto presented = std::make_shared<ViewController>();
    presenter->present(presented, false);
    redirect->owner = presenter;
    EXPECT_EQ(controller->presentedViewController(), presented);

    controller->setExtension(&kKey, nullptr);
    EXPECT_EQ(controller->extension(&kKey), nullptr);
    EXPECT_EQ(controller->presentedViewController(), nullptr);
    completed = false;
    controller->dismiss(false, [&] { completed = true; });
    EXPECT_TRUE(completed) << "nothing to dismiss: at once";
}
