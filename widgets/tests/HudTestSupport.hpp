#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>

#include <memory>
#include <optional>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "widgets/hud/ContainerView.hpp"
#include "widgets/hud/FrameView.hpp"
#include "widgets/hud/HUDController.hpp"

namespace hud_test {

namespace hud = tervolo::widgets::hud;

// Something to show the HUD over: coloured bands and a few words, so the dimming and the blurred
// panel can be judged on the screenshots.
class Backdrop : public QWidget {
  public:
    Backdrop() { resize(480, 360); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QColor bands[] = {QColor(0x2e, 0x86, 0xde), QColor(0x10, 0xac, 0x84), QColor(0xfe, 0xca, 0x57),
                                QColor(0xee, 0x52, 0x53), QColor(0x54, 0x6d, 0xe5)};
        const int band = width() / 5 + 1;
        for (int i = 0; i < 5; ++i) painter.fillRect(i * band, 0, band, height(), bands[i]);
        QFont font = painter.font();
        font.setPixelSize(28);
        painter.setFont(font);
        painter.setPen(Qt::white);
        for (int y = 40; y < height(); y += 60) painter.drawText(20, y, QStringLiteral("Tervolo map points"));
    }
};

// A fresh HUD controller in place of the shared one, a virtual clock, and a shown 480 × 360 window
// to show it on; everything is taken down before the QApplication goes.
class HudTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        target_ = std::make_unique<Backdrop>();
        target_->show();
        hud_ = std::make_unique<hud::HUDController>();
        replacement_.emplace(*hud_);
        // The panel's styling waits for a turn of the main queue, as on the platform.
        platform::RunLoop::runUntilIdle();
    }

    void TearDown() override {
        replacement_.reset();
        hud_.reset();
        target_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        WidgetTest::TearDown();
    }

    hud::HUDController& hud() { return *hud_; }
    QWidget* target() { return target_.get(); }
    hud::ContainerView& box() { return hud_->container(); }
    hud::FrameView* frame() { return hud_->container().frameView(); }
    void advance(double seconds) { time_.advance(seconds); }
    // The dimming's and the panel's opacity on screen now.
    double dimShown() { return platform::presentationAlpha(box().backgroundView()); }
    double panelShown() { return platform::presentationAlpha(frame()); }
    // Whether the HUD lies in the target (attached), whatever its visibility.
    bool attached() { return box().parentWidget() == target(); }

    tervolo::testsupport::VirtualClockScope time_;

  private:
    std::unique_ptr<QWidget> target_;
    std::unique_ptr<hud::HUDController> hud_;
    std::optional<platform::SharedInstance<hud::HUDController>::Replacement> replacement_;
};

}  // namespace hud_test
