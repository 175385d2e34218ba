// A control made pressable from the keyboard, in a shown window with keys and
// clicks delivered to the window: Tab reaches it and a click does not, Return
// and Space press it once each, its own paint runs once a frame with the ring
// over it while it has the keys. And the ring's colour between several
// backdrops.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <memory>
#include <optional>

#include "platform/ui/Contrast.hpp"
#include "platform/ui/FocusRing.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace {

// Paints a plain grey face and counts its paints.
class CountingFace : public QWidget {
  public:
    using QWidget::QWidget;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(rect(), QColor(200, 200, 200));
    }
};

class KeyboardPressable : public ::testing::Test {
  protected:
    void SetUp() override {
        // An application of the test's own: other tests of this binary make theirs.
        app_.emplace("tervolo_platform_ui_tests");
        windowHolder_ = std::make_unique<QWidget>();
        QWidget& shown = *windowHolder_;
        auto* row = new QHBoxLayout(&shown);
        before_ = new QLineEdit(&shown);
        face_ = new CountingFace(&shown);
        face_->setFixedSize(40, 40);
        after_ = new QLineEdit(&shown);
        row->addWidget(before_);
        row->addWidget(face_);
        row->addWidget(after_);
        platform::makeKeyboardPressable(*face_, [this] { ++presses_; });
        shown.show();
        shown.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&shown));
        before_->setFocus();
        QCoreApplication::processEvents();
    }

    void TearDown() override {
        windowHolder_.reset();
        app_.reset();
    }

    QWidget& window() const { return *windowHolder_; }
    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window().windowHandle(), which, modifiers);
        QCoreApplication::processEvents();
    }

    std::optional<tervolo::testsupport::ScopedTestApplication> app_;
    std::unique_ptr<QWidget> windowHolder_;
    QLineEdit* before_ = nullptr;
    CountingFace* face_ = nullptr;
    QLineEdit* after_ = nullptr;
    int presses_ = 0;
};

TEST_F(KeyboardPressable, TabReachesItAClickDoesNotAndTheKeysPressItOnce) {
    QTest::mouseClick(window().windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      face_->mapTo(&window(), face_->rect().center()));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), before_) << "a click took the keys";

    key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), face_);
    key(Qt::Key_Return);
    EXPECT_EQ(presses_, 1);
    QTest::keyClick(window().windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(presses_, 2);
    key(Qt::Key_Space);
    EXPECT_EQ(presses_, 3);
    // With a modifier the keys are not a press.
    key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(presses_, 3);
    // A Space pressed elsewhere and released here (its press moved the keys) presses nothing.
    key(Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), before_);
    QTest::keyPress(window().windowHandle(), Qt::Key_Space);
    key(Qt::Key_Tab);
    QTest::keyRelease(window().windowHandle(), Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_EQ(presses_, 3);
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after_);
}

TEST_F(KeyboardPressable, ItsOwnPaintRunsOnceWithTheRingOverItWhileFocused) {
    const QImage plain = face_->grab().toImage();
    key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), face_);
    face_->paints = 0;
    face_->repaint();
    EXPECT_EQ(face_->paints, 1);
    const QImage ringed = face_->grab().toImage();
    EXPECT_NE(ringed, plain);
    // The ring lies along the edge; the middle shows the face.
    EXPECT_EQ(ringed.pixelColor(ringed.rect().center()), QColor(200, 200, 200));
    key(Qt::Key_Tab);
    EXPECT_EQ(face_->grab().toImage(), plain);
}

// Between light and mid-blue neighbours (a map's sea and land, a button's face and blue edge) the
// ring is taken dark enough to stand out from every one of them.
TEST(FocusRingColour, StandsOutFromEveryBackdrop) {
    const std::initializer_list<QColor> around = {QColor(203, 216, 222), QColor(245, 244, 240), Qt::white,
                                                  QColor(51, 102, 153)};
    for (const QColor highlight : {QColor(0x30, 0x8c, 0xc6), QColor(0x3d, 0xae, 0xe9), QColor(0x12, 0x60, 0x8a)}) {
        QPalette palette;
        palette.setColor(QPalette::Active, QPalette::Highlight, highlight);
        const QColor ring = platform::FocusRing::color(palette, around);
        for (const QColor& backdrop : around) {
            EXPECT_GE(platform::contrastRatio(ring, backdrop), platform::FocusRing::kMinimumContrast)
                << highlight.name().toStdString() << " on " << backdrop.name().toStdString();
        }
    }
    // Where one backdrop alone is given, the highlight changes only as far as it must.
    QPalette palette;
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(0x12, 0x60, 0x8a));
    EXPECT_EQ(platform::FocusRing::color(palette, QColor(Qt::white)), QColor(0x12, 0x60, 0x8a));
}

}  // namespace
