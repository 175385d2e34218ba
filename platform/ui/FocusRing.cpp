#include "platform/ui/FocusRing.hpp"

#include <QPainter>
#include <QKeyEvent>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

#include "platform/ui/Contrast.hpp"

namespace platform {

QColor FocusRing::color(const QPalette& palette, const QColor& backdrop) {
    return legibleForeground(palette.color(QPalette::Active, QPalette::Highlight), backdrop, 3.0);
}

void FocusRing::paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& color) {
    if (bounds.isEmpty()) return;
    const auto stroke = [&](double outside, double width, const QColor& ink) {
        const double middle = outside + width / 2;
        const QRectF line = bounds.adjusted(middle, middle, -middle, -middle);
        if (line.isEmpty()) return;
        const double rounded = std::clamp(radius - middle, 0.0, std::min(line.width(), line.height()) / 2);
        painter.setPen(QPen(ink, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        QPainterPath path;
        path.addRoundedRect(line, rounded, rounded);
        painter.drawPath(path);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    stroke(0, kEdge, blackOrWhiteOn(color));
    stroke(kEdge, kWidth, color);
    painter.restore();
}

}  // namespace platform

namespace platform {

namespace {

class KeyboardPressFilter : public QObject {
  public:
    KeyboardPressFilter(QWidget& widget, std::function<void()> press)
        : QObject(&widget), widget_(widget), press_(std::move(press)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &widget_) return false;
        switch (event->type()) {
            case QEvent::KeyPress: {
                auto* key = static_cast<QKeyEvent*>(event);
                if (!isPressKey(*key)) return false;
                // Return acts when pressed; Space when released, as a button does.
                if (key->key() != Qt::Key_Space && !key->isAutoRepeat()) press_();
                return true;
            }
            case QEvent::KeyRelease: {
                auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() != Qt::Key_Space || !isPressKey(*key)) return false;
                if (!key->isAutoRepeat()) press_();
                return true;
            }
            case QEvent::FocusIn:
            case QEvent::FocusOut:
                widget_.update();
                return false;
            case QEvent::Paint: {
                // The widget paints itself first, the ring goes over it.
                static_cast<QObject&>(widget_).event(event);
                if (widget_.hasFocus()) {
                    QPainter painter(&widget_);
                    const QWidget* under = widget_.parentWidget();
                    const QColor backdrop =
                        (under != nullptr ? under : &widget_)->palette().color(QPalette::Window);
                    const QRectF bounds(widget_.rect());
                    FocusRing::paint(painter, bounds, std::min(bounds.width(), bounds.height()) / 2,
                                     FocusRing::color(widget_.palette(), backdrop));
                }
                return true;
            }
            default:
                return false;
        }
    }

  private:
    static bool isPressKey(const QKeyEvent& key) {
        const bool which =
            key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter || key.key() == Qt::Key_Space;
        return which && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    }

    QWidget& widget_;
    std::function<void()> press_;
};

}  // namespace

void makeKeyboardPressable(QWidget& widget, std::function<void()> press) {
    widget.setFocusPolicy(Qt::TabFocus);
    widget.installEventFilter(new KeyboardPressFilter(widget, std::move(press)));
}

}  // namespace platform
