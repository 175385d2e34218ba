#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include <cmath>
#include <numbers>

#include "platform/ui/Animator.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "widgets/popup/PopupLeftBarItem.hpp"
#include "widgets/popup/PopupNavigationBar.hpp"

using tervolo::widgets::popup::PopupLeftBarItem;
using tervolo::widgets::popup::PopupNavigationBar;
using tervolo::widgets::popup::PopupNavigationTouchEventDelegate;
using Type = PopupLeftBarItem::Type;

namespace {

class PopupBarTest : public widgetkit_test::WidgetTest {};

struct StrokeCase {
    Type type;
    double length;
    double x;
    double y1;
    double y2;
};

void expectStrokes(const PopupLeftBarItem& item, const StrokeCase& expected) {
    for (const auto& [stroke, y, rotation] : {std::tuple{item.bar1(), expected.y1, std::numbers::pi / 4},
                                              std::tuple{item.bar2(), expected.y2, -std::numbers::pi / 4}}) {
        EXPECT_NEAR(stroke.frame.width(), expected.length, 1e-3);
        EXPECT_NEAR(stroke.frame.height(), 1.5, 1e-9);
        EXPECT_NEAR(stroke.frame.x(), expected.x, 1e-3);
        EXPECT_NEAR(stroke.frame.y(), y, 1e-3);
        EXPECT_DOUBLE_EQ(stroke.rotation, rotation);
    }
}

const StrokeCase kCross{Type::cross, 17.6, 0.2, 21.25, 21.25};
const StrokeCase kArrow{Type::arrow, 11.0, -2.0, 25.139, 17.361};

struct RecordingDelegate : PopupNavigationTouchEventDelegate {
    void popupNavigationBarTouchDidMove(PopupNavigationBar&, double offset) override {
        moved.push_back(offset);
    }
    void popupNavigationBarTouchDidEnd(PopupNavigationBar&, double offset) override {
        ended.push_back(offset);
    }
    std::vector<double> moved;
    std::vector<double> ended;
};

}  // namespace

// The cross is two strokes crossing at the centre of the 18 × 44 view; the
// arrow's strokes meet at its left tip.
TEST_F(PopupBarTest, StrokesFormCrossAndArrow) {
    PopupLeftBarItem item([] {});
    EXPECT_TRUE(item.bar1().frame.isEmpty()) << "no frames before the first type is set";
    ASSERT_NE(item.customView(), nullptr);
    EXPECT_EQ(item.customView()->size(), QSize(18, 44));
    for (const StrokeCase& expected : {kCross, kArrow, kCross}) {
        SCOPED_TRACE(static_cast<int>(expected.type));
        item.setType(expected.type);
        expectStrokes(item, expected);
        EXPECT_EQ(item.presentedBar1Frame(), item.bar1().frame) << "without animation the strokes jump";
    }
}

// Animated, the strokes morph over 0.5 s: the model is final at once, the
// screen catches up.
TEST_F(PopupBarTest, AnimatedTypeChangeMorphsForHalfASecond) {
    tervolo::testsupport::VirtualClockScope time;
    PopupLeftBarItem item([] {});
    item.setType(Type::cross);
    item.setType(Type::arrow, true);
    expectStrokes(item, kArrow);
    time.advance(0.2);
    const QRectF midway = item.presentedBar1Frame();
    EXPECT_NE(midway, item.bar1().frame);
    EXPECT_NE(midway, QRectF(0.2, 21.25, 17.6, 1.5));
    time.advance(0.35);
    EXPECT_EQ(item.presentedBar1Frame(), item.bar1().frame);
    EXPECT_EQ(item.presentedBar2Frame(), item.bar2().frame);
}

// The tint colours both strokes; a click released on the item runs its action.
TEST_F(PopupBarTest, TintColoursStrokesAndClickRunsAction) {
    int taps = 0;
    PopupLeftBarItem item([&] { ++taps; });
    item.setType(Type::cross);
    item.setTintColor(QColor(255, 0, 0));
    QWidget* view = item.customView();
    const QImage image = widgetkit_test::render(*view);
    // The centre, where both strokes cross, and a point on each diagonal.
    for (const QPoint p : {QPoint(9, 22), QPoint(5, 18), QPoint(5, 25), QPoint(12, 18)}) {
        const QColor c = image.pixelColor(p);
        EXPECT_GT(c.red(), 150) << p.x() << "," << p.y();
        EXPECT_LT(c.green(), 100) << p.x() << "," << p.y();
    }
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(9, 22));
    EXPECT_EQ(taps, 1);
}

// A drag that starts on the bar's surface reports offsets from the start;
// one starting on a nested control does not; either way a draggable bar
// keeps the touch for itself.
TEST_F(PopupBarTest, DragOnBarReportsOffsets) {
    PopupNavigationBar bar;
    bar.resize(320, 44);
    auto delegate = std::make_shared<RecordingDelegate>();
    bar.setTouchEventDelegate(delegate);
    EXPECT_TRUE(bar.isDraggable());

    EXPECT_TRUE(bar.touchesBegan(&bar, {10, 100}));
    EXPECT_TRUE(bar.touchesBegan(&bar, {10, 300})) << "a second touch is ignored";
    bar.touchesMoved({10, 130.25});
    bar.touchesMoved({10, 40});
    bar.touchesEnded({10, 260});
    EXPECT_EQ(delegate->moved, (std::vector<double>{30.25, -60}));
    EXPECT_EQ(delegate->ended, (std::vector<double>{160}));
    EXPECT_FALSE(bar.isMoving());

    // Surface: a view placed directly on the bar's content; nested: a control inside such a view.
    auto* surface = new QWidget(&bar);
    auto* onSurface = new QWidget(surface);
    auto* nested = new QWidget(onSurface);
    auto* nestedControl = new QWidget(nested);
    EXPECT_TRUE(bar.touchesBegan(onSurface, {10, 100}));
    EXPECT_TRUE(bar.isMoving());
    bar.touchesCancelled({10, 110});
    EXPECT_EQ(delegate->ended.back(), 10);

    delegate->moved.clear();
    EXPECT_TRUE(bar.touchesBegan(nestedControl, {10, 100})) << "not passed on while draggable";
    EXPECT_FALSE(bar.isMoving());
    bar.touchesMoved({10, 150});
    EXPECT_TRUE(delegate->moved.empty());

    bar.setDraggable(false);
    EXPECT_FALSE(bar.touchesBegan(&bar, {10, 100})) << "a plain bar passes touches on";
    EXPECT_FALSE(bar.touchesMoved({10, 150}));
    EXPECT_FALSE(bar.isMoving());
}

// The mouse drives the same path: press on the title, move, release.
TEST_F(PopupBarTest, MouseDragOnTitleReachesDelegate) {
    QWidget window;
    window.resize(320, 200);
    auto* bar = new PopupNavigationBar(&window);
    bar->setGeometry(0, 0, 320, 44);
    auto item = std::make_shared<platform::NavigationItem>();
    item->setTitle("Title");
    bar->setItems({item});
    auto delegate = std::make_shared<RecordingDelegate>();
    bar->setTouchEventDelegate(delegate);
    window.show();
    auto* title = bar->findChild<QLabel*>(QStringLiteral("titleLabel"));
    ASSERT_NE(title, nullptr);
    const QPoint start = title->rect().center();
    QTest::mousePress(title, Qt::LeftButton, {}, start);
    QTest::mouseMove(title, start + QPoint(0, 40));
    QTest::mouseRelease(title, Qt::LeftButton, {}, start + QPoint(0, 70));
    EXPECT_EQ(delegate->moved, (std::vector<double>{40}));
    EXPECT_EQ(delegate->ended, (std::vector<double>{70}));
}

// The process-wide look reaches bars made after it was set; earlier bars keep theirs.
TEST_F(PopupBarTest, AppearanceReachesBarsMadeLater) {
    auto& look = PopupNavigationBar::appearance();
    const auto saved = look;
    PopupNavigationBar before;
    QFont light = before.font();
    light.setPixelSize(16);
    light.setWeight(QFont::Light);
    look.titleTextAttributes.font = light;
    look.titleTextAttributes.foregroundColor = QColor(Qt::black);
    look.barButtonItemFont = light;
    PopupNavigationBar after;
    EXPECT_EQ(after.titleTextAttributes().font, light);
    EXPECT_EQ(after.titleTextAttributes().foregroundColor, QColor(Qt::black));
    EXPECT_EQ(after.font().pixelSize(), 16);
    EXPECT_FALSE(before.titleTextAttributes().font.has_value());
    look = saved;
}
