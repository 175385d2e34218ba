#include "widgets/popup/PopupLeftBarItem.hpp"

#include <QMouseEvent>
#include <QPainter>

#include <numbers>

#include "platform/ui/Animator.hpp"

namespace tervolo::widgets::popup {

using platform::Animator;

namespace {

constexpr int kViewWidth = 18;
constexpr int kViewHeight = 44;
constexpr double kQuarterTurn = std::numbers::pi / 4;

// The item's control: paints the two strokes at their presentation frames and
// runs the action on a click released inside it.
class LeftBarItemView : public QWidget {
  public:
    explicit LeftBarItemView(std::function<void()> action) : action_(std::move(action)) {
        setObjectName(QStringLiteral("popupLeftBarItem"));
        setFixedSize(kViewWidth, kViewHeight);
        setCursor(Qt::PointingHandCursor);
    }

    QRectF shown[2];
    QColor color;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);  // edge antialiasing of the rotated strokes
        for (int i = 0; i < 2; ++i) {
            if (shown[i].isEmpty()) continue;
            painter.save();
            painter.translate(shown[i].center());
            painter.rotate((i == 0 ? kQuarterTurn : -kQuarterTurn) * 180 / std::numbers::pi);
            painter.fillRect(
                QRectF(-shown[i].width() / 2, -shown[i].height() / 2, shown[i].width(), shown[i].height()),
                color);
            painter.restore();
        }
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        event->accept();
        if (rect().contains(event->position().toPoint()) && action_) action_();
    }

  private:
    std::function<void()> action_;
};

LeftBarItemView* viewOf(const QPointer<QWidget>& widget) {
    return static_cast<LeftBarItemView*>(widget.data());
}

}  // namespace

PopupLeftBarItem::PopupLeftBarItem(std::function<void()> action)
    : platform::BarButtonItem(new LeftBarItemView(std::move(action))) {
    customView_ = customView();
    if (auto* view = viewOf(customView_)) view->color = tintColor_;
}

void PopupLeftBarItem::setType(Type type, bool animated) {
    type_ = type;
    if (!animated) {
        updateLayout();
        return;
    }
    Animator::animateWithSpring(kMorphDuration, 0, 1.0, 0, {}, [this] { updateLayout(); });
}

void PopupLeftBarItem::setTintColor(QColor color) {
    tintColor_ = color;
    if (auto* view = viewOf(customView_)) {
        view->color = color;
        view->update();
    }
}

QRectF PopupLeftBarItem::presentedBar1Frame() const {
    auto* view = viewOf(customView_);
    return view != nullptr ? view->shown[0] : bar1_.frame;
}

QRectF PopupLeftBarItem::presentedBar2Frame() const {
    auto* view = viewOf(customView_);
    return view != nullptr ? view->shown[1] : bar2_.frame;
}

void PopupLeftBarItem::updateLayout() {
    // Single precision throughout, so the strokes land where the same
    // arithmetic put them on the platform this item was first drawn for.
    const float h = kViewHeight;
    const float w = kViewWidth;
    const float thickness = static_cast<float>(kStrokeThickness);
    float length = 0;
    float x = 0;
    float y1 = 0;
    float y2 = 0;
    if (type_ == Type::cross) {
        length = 2 * h / 5;
        x = (w - length) * 0.5f;
        y1 = y2 = (h - thickness) * 0.5f;
    } else {
        length = h * 0.25f;
        x = (w - length) * 0.5f - length * 0.5f;
        const float d = (length * 0.5f) * static_cast<float>(std::numbers::sqrt2 / 2);
        y1 = (h - thickness) * 0.5f + d;
        y2 = (h - thickness) * 0.5f - d;
    }
    bar1_ = {QRectF(x, y1, length, thickness), kQuarterTurn};
    bar2_ = {QRectF(x, y2, length, thickness), -kQuarterTurn};

    auto* view = viewOf(customView_);
    if (view == nullptr) return;
    for (int i = 0; i < 2; ++i) {
        const QRectF target = i == 0 ? bar1_.frame : bar2_.frame;
        QPointer<LeftBarItemView> guarded = view;
        Animator::setValue(view, i == 0 ? "bar1.frame" : "bar2.frame", view->shown[i], target,
                           [guarded, i](const platform::AnimatableValue& value) {
                               if (!guarded) return;
                               guarded->shown[i] = std::get<QRectF>(value);
                               guarded->update();
                           });
    }
}

}  // namespace tervolo::widgets::popup
