// The popup bridge: shown only after the bridge controller's first
// appearance, updated in place, dismissed by an update with false (the
// dismissal call after the dismissal) or by the bridge's destruction.
#include <gtest/gtest.h>

#include <QLabel>

#include "PointDetailsTestSupport.hpp"
#include "platform/ui/MainWindow.hpp"
#include "pointscreens/PopupView.hpp"
#include "widgets/popup/PopupViewControllerExtension.hpp"

using tervolo::pointscreens::PopupView;
using tervolo::widgets::popup::PopupStyle;

namespace {

class PopupBridgeTest : public pointscreens_test::PointDetailsTest {
  protected:
    void finishTransitions() {
        for (int i = 0; i < 4; ++i) {
            environment_.advance(0.5);
            settle();
        }
    }
    static PopupView::ContentFactory label(const QString& text, QSize size) {
        return [text, size] {
            auto* widget = new QLabel(text);
            widget->setObjectName(QStringLiteral("content"));
            widget->setFixedSize(size);
            return widget;
        };
    }
    static std::shared_ptr<tervolo::widgets::popup::PopupController> popupOf(
        const PopupView::PopupViewController& bridge) {
        auto hosting = bridge.hostingController();
        return hosting ? tervolo::widgets::popup::popupController(*hosting) : nullptr;
    }
    // The bridge as the window's root, shown.
    void show(const std::shared_ptr<platform::ViewController>& bridge) {
        window_ = std::make_unique<platform::MainWindow>();
        window_->resize(600, 500);
        window_->setRootViewController(bridge);
        window_->show();
        finishTransitions();
    }
};

TEST_F(PopupBridgeTest, ShowsOnlyAfterTheFirstAppearanceAndUpdatesInPlace) {
    auto bridge = PopupView::makeViewController();
    int dismissed = 0;
    PopupView value{.isPresented = true,
                    .style = PopupStyle::formSheet,
                    .onDismiss = [&] { ++dismissed; },
                    .contentView = label("first", QSize(200, 120))};
    value.updateViewController(*bridge);
    EXPECT_EQ(bridge->hostingController(), nullptr);  // not yet appeared
    EXPECT_FALSE(bridge->didAppear());

    show(bridge);
    EXPECT_TRUE(bridge->didAppear());
    ASSERT_NE(bridge->hostingController(), nullptr);
    auto popup = popupOf(*bridge);
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isPresented());
    EXPECT_TRUE(popup->isNavigationBarHidden());
    EXPECT_EQ(tervolo::widgets::popup::contentSizeInPopup(*bridge->hostingController()), QSizeF(200, 120));

    // An update while showing: the same popup, restyled, with the new content and size.
    const auto hosting = bridge->hostingController();
    value.style = PopupStyle::bottomSheet;
    value.contentView = label("second", QSize(260, 150));
    value.updateViewController(*bridge);
    finishTransitions();
    EXPECT_EQ(bridge->hostingController(), hosting);
    EXPECT_EQ(popupOf(*bridge), popup);
    EXPECT_EQ(popup->style(), PopupStyle::bottomSheet);
    auto* content = qobject_cast<QLabel*>(hosting->content());
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->text(), "second");
    EXPECT_EQ(tervolo::widgets::popup::contentSizeInPopup(*hosting), QSizeF(260, 150));

    // False: idle at once, the dismissal call once the popup is gone.
    value.isPresented = false;
    value.updateViewController(*bridge);
    EXPECT_EQ(bridge->hostingController(), nullptr);
    finishTransitions();
    EXPECT_FALSE(popup->isPresented());
    EXPECT_EQ(dismissed, 1);
    // Another false changes nothing.
    value.updateViewController(*bridge);
    finishTransitions();
    EXPECT_EQ(dismissed, 1);
}

TEST_F(PopupBridgeTest, NoContentShowsNothingAndADestroyedBridgeClosesItsPopup) {
    // Embedded in a screen, as the bridge sits inside the view it serves.
    auto host = std::make_shared<pointscreens_test::DetailsHost>();
    show(host);
    auto bridge = PopupView::makeViewController();
    host->addChild(bridge, host->view());
    finishTransitions();
    ASSERT_TRUE(bridge->didAppear());
    PopupView value{.isPresented = true};
    value.updateViewController(*bridge);
    EXPECT_EQ(bridge->hostingController(), nullptr);

    int dismissed = 0;
    value.onDismiss = [&] { ++dismissed; };
    value.contentView = label("content", QSize(100, 80));
    value.updateViewController(*bridge);
    finishTransitions();
    auto popup = popupOf(*bridge);
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(popup->isPresented());

    // The owner drops the bridge without a false update.
    bridge->willMove(nullptr);
    bridge->removeFromParent();
    delete bridge->view();
    bridge.reset();
    finishTransitions();
    EXPECT_FALSE(popup->isPresented());
    EXPECT_EQ(dismissed, 0);  // only an update with false reports a dismissal
}

}  // namespace
