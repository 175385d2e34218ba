#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QTest>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/ui/HoverGestureRecognizer.hpp"
#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/PanGestureRecognizer.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"

using platform::GestureRecognizer;
using GestureState = platform::GestureRecognizer::State;

namespace {

class GestureTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        view = std::make_unique<QWidget>();
        view->resize(200, 200);
        view->show();
    }
    void TearDown() override {
        view.reset();
        WidgetTest::TearDown();
    }

    // Records "<name><state number>" for every action call.
    GestureRecognizer::Action record(const std::string& name) {
        return [this, name](GestureRecognizer& r) {
            log.push_back(name + std::to_string(static_cast<int>(r.state())));
        };
    }
    platform::LongPressGestureRecognizer* addLongPress(double minimum) {
        auto* longPress = new platform::LongPressGestureRecognizer(record("long"));
        longPress->setMinimumPressDuration(minimum);
        platform::addGestureRecognizer(view.get(), longPress);
        return longPress;
    }
    void press(QPoint at = {50, 50}) { QTest::mousePress(view.get(), Qt::LeftButton, {}, at); }
    void release(QPoint at = {50, 50}) { QTest::mouseRelease(view.get(), Qt::LeftButton, {}, at); }
    void move(QPoint to) {
        QMouseEvent event(QEvent::MouseMove, QPointF(to), view->mapToGlobal(QPointF(to)), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &event);
    }

    tervolo::testsupport::VirtualClockScope time;
    std::unique_ptr<QWidget> view;
    std::vector<std::string> log;
};

struct DelegateStub : platform::GestureRecognizerDelegate {
    bool begin = true;
    bool together = false;
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return begin; }
    bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) override { return together; }
};

}  // namespace

// Press lengths against which recognisers are attached: a long press of 0.7 s wins from its minimum
// on, and the tap beside it then fails even though it alone would fire.
TEST_F(GestureTest, PressLengthDecidesBetweenTapAndLongPress) {
    using Log = std::vector<std::string>;
    struct Case {
        double held;
        bool tap;
        bool longPress;
        Log expected;
    };
    const Case cases[] = {
        {0.2, true, false, {"tap3"}},
        {0.69, true, false, {"tap3"}},
        {0.71, true, false, {"tap3"}},
        {1.5, true, false, {"tap3"}},
        {0.2, false, true, {}},
        {0.69, false, true, {}},
        {0.71, false, true, {"long1", "long3"}},
        {1.5, false, true, {"long1", "long3"}},
        {0.2, true, true, {"tap3"}},
        {0.69, true, true, {"tap3"}},
        {0.71, true, true, {"long1", "long3"}},
        {1.5, true, true, {"long1", "long3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "held " << c.held << " tap " << c.tap << " long " << c.longPress);
        for (auto* r : platform::gestureRecognizers(view.get())) delete r;
        log.clear();
        if (c.tap)
            platform::addGestureRecognizer(view.get(), new platform::TapGestureRecognizer(record("tap")));
        if (c.longPress) addLongPress(0.7);
        press();
        time.advance(c.held);
        release();
        time.advance(2);  // a stale long-press timer must stay quiet
        EXPECT_EQ(log, c.expected);
    }
}

TEST_F(GestureTest, PanCancelsAPendingLongPressAndReportsTranslation) {
    auto* longPress = addLongPress(0.5);
    auto* pan = new platform::PanGestureRecognizer(record("pan"));
    platform::addGestureRecognizer(view.get(), pan);
    press({50, 50});
    time.advance(0.1);
    move({53, 53});  // under the pan's distance: nothing yet
    EXPECT_TRUE(log.empty());
    move({56, 50});  // inside the long press's tolerance, but the pan begins
    EXPECT_EQ(longPress->state(), GestureState::Failed);
    time.advance(1);
    move({80, 60});
    release({90, 60});
    EXPECT_EQ(log, (std::vector<std::string>{"pan1", "pan2", "pan3"}));
    EXPECT_EQ(pan->translation(), QPointF(40, 10));

    // Once a long press has begun, a pan may not start beside it; with a delegate allowing both it may.
    log.clear();
    press({50, 50});
    time.advance(0.6);
    move({70, 50});
    release({70, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"long1", "long2", "long3"}));
    auto delegate = std::make_shared<DelegateStub>();
    delegate->together = true;
    pan->setDelegate(delegate);
    log.clear();
    press({50, 50});
    time.advance(0.6);
    move({70, 50});
    release({70, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"long1", "long2", "pan1", "long3", "pan3"}));
}

TEST_F(GestureTest, DelegateVetoMultiTapAndMovement) {
    auto* tap = new platform::TapGestureRecognizer(record("tap"));
    platform::addGestureRecognizer(view.get(), tap);
    auto delegate = std::make_shared<DelegateStub>();
    delegate->begin = false;
    tap->setDelegate(delegate);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, {20, 20});
    EXPECT_EQ(tap->state(), GestureState::Failed);
    EXPECT_TRUE(log.empty());

    delegate->begin = true;
    press({20, 20});
    move({40, 20});  // moved off: not a tap
    release({40, 20});
    EXPECT_TRUE(log.empty());

    tap->setNumberOfTapsRequired(2);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, {20, 20});
    time.advance(0.5);  // too slow for a double tap
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, {20, 20});
    EXPECT_TRUE(log.empty());
    time.advance(0.1);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, {22, 20});
    EXPECT_EQ(log, std::vector<std::string>{"tap3"});
    EXPECT_EQ(tap->location(), QPointF(22, 20));
}

TEST_F(GestureTest, HoverReportsEnterMoveLeaveAndRecognizersAreListedPerWidget) {
    auto* hover = new platform::HoverGestureRecognizer(record("hover"));
    auto* tap = new platform::TapGestureRecognizer(record("tap"));
    platform::addGestureRecognizer(view.get(), hover);
    platform::addGestureRecognizer(view.get(), tap);
    EXPECT_EQ(platform::gestureRecognizers(view.get()), (std::vector<GestureRecognizer*>{hover, tap}));

    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)));
    QApplication::sendEvent(view.get(), &enter);
    QMouseEvent hoverMove(QEvent::MouseMove, QPointF(30, 40), view->mapToGlobal(QPointF(30, 40)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &hoverMove);
    EXPECT_EQ(hover->location(), QPointF(30, 40));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_EQ(log, (std::vector<std::string>{"hover1", "hover2", "hover3"}));

    platform::removeGestureRecognizer(view.get(), tap);
    EXPECT_EQ(platform::gestureRecognizers(view.get()), std::vector<GestureRecognizer*>{hover});
    log.clear();
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, {20, 20});
    EXPECT_TRUE(log.empty());
    delete tap;

    // The test hook drives states straight through the actions.
    hover->simulateState(GestureState::Changed, {5, 6});
    EXPECT_EQ(log, std::vector<std::string>{"hover2"});
    EXPECT_EQ(hover->location(), QPointF(5, 6));
}
