#include "platform/ui/FocusRing.hpp"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

#include "platform/ui/Contrast.hpp"

namespace platform {

QColor FocusRing::color(const QPalette& palette, const QColor& backdrop) {
    return legibleForeground(palette.color(QPalette::Active, QPalette::Highlight), backdrop, kMinimumContrast);
}

QColor FocusRing::color(const QPalette& palette, std::initializer_list<QColor> backdrops) {
    const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight).toRgb();
    const auto weakest = [&](const QColor& candidate) {
        double least = 21;
        for (const QColor& backdrop : backdrops) least = std::min(least, contrastRatio(candidate, backdrop));
        return least;
    };
    // The highlight, taken towards black (or else white) just far enough to stand out from all of
    // them; where neither end gets there, the end that comes nearest.
    QColor best = highlight;
    for (const QColor& end : {QColor(Qt::black), QColor(Qt::white)}) {
        for (int step = 0; step <= 40; ++step) {
            const double weight = step / 40.0;
            const QColor candidate = QColor::fromRgbF(
                static_cast<float>(end.redF() * weight + highlight.redF() * (1 - weight)),
                static_cast<float>(end.greenF() * weight + highlight.greenF() * (1 - weight)),
                static_cast<float>(end.blueF() * weight + highlight.blueF() * (1 - weight)));
            if (weakest(candidate) >= kMinimumContrast) return candidate.toRgb();
            if (weakest(candidate) > weakest(best)) best = candidate.toRgb();
        }
    }
    return best;
}

void FocusRing::paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& color, double edge,
                      double width) {
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
    stroke(0, edge, blackOrWhiteOn(color));
    stroke(edge, width, color);
    painter.restore();
}

namespace {

class KeyboardPressFilter : public QObject {
  public:
    KeyboardPressFilter(QWidget& widget, std::function<void()> press)
        : QObject(&widget), widget_(widget), press_(std::move(press)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &widget_) return false;
        switch (event->type()) {
            case QEvent::KeyPress: {
                const auto& key = static_cast<const QKeyEvent&>(*event);
                if (!isPressKey(key)) return false;
                // Return acts when pressed; Space when released, as a button does. A Space whose
                // press went to another control (one that moved the focus here) presses nothing.
                if (key.isAutoRepeat()) return true;
                if (key.key() == Qt::Key_Space) {
                    spaceDown_ = true;
                } else {
                    press_();
                }
                return true;
            }
            case QEvent::KeyRelease: {
                const auto& key = static_cast<const QKeyEvent&>(*event);
                if (key.key() != Qt::Key_Space || !isPressKey(key)) return false;
                if (!key.isAutoRepeat() && spaceDown_) {
                    spaceDown_ = false;
                    press_();
                }
                return true;
            }
            case QEvent::FocusOut:
                spaceDown_ = false;
                widget_.update();
                return false;
            case QEvent::FocusIn:
                widget_.update();
                return false;
            case QEvent::Paint: {
                // A filter has no hook after the widget's own paint, so it hands the event to the
                // widget itself (its paint runs this once) and ends the delivery, then draws the
                // ring over what the widget painted.
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
    bool spaceDown_ = false;
};

}  // namespace

void makeKeyboardPressable(QWidget& widget, std::function<void()> press) {
    widget.setFocusPolicy(Qt::TabFocus);
    widget.installEventFilter(new KeyboardPressFilter(widget, std::move(press)));
}

}  // namespace platform
