#include "platform/ui/AnimationWidget.hpp"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include "platform/ui/Animator.hpp"

namespace platform {

namespace {

constexpr const char* kAlpha = "alpha";
constexpr const char* kFrame = "frame";
constexpr const char* kTransform = "transform";

// Paints a picture of the widget it stands in for; covers the whole parent so a scaled-up picture
// is not clipped, and lets every mouse event through.
class SnapshotOverlay final : public QWidget {
  public:
    explicit SnapshotOverlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setObjectName(QStringLiteral("animationSnapshot"));
    }
    QPixmap picture;
    QRectF frame;
    QTransform transform;
    double alpha = 1;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setOpacity(std::clamp(alpha, 0.0, 1.0));
        const QPointF centre = frame.center();
        painter.translate(centre);
        painter.setTransform(transform, true);
        painter.translate(-centre);
        painter.drawPixmap(frame, picture, QRectF(picture.rect()));
    }
};

class WidgetAnimationState final : public QObject {
  public:
    explicit WidgetAnimationState(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QStringLiteral("widgetAnimationState"));
        modelFrame = widget->geometry();
        shownFrame = modelFrame;
    }
    ~WidgetAnimationState() override { delete overlay; }

    double modelAlpha = 1;
    double shownAlpha = 1;
    QRect modelFrame;
    QRectF shownFrame;
    QTransform modelTransform;
    QTransform shownTransform;
    QPointer<SnapshotOverlay> overlay;
    bool madeTransparent = false;
    bool frameManaged = false;  // set through setFrame; otherwise layouts own the geometry

    void refresh() {
        QWidget* w = widget_;
        if (w->isWindow()) {
            w->setWindowOpacity(std::clamp(shownAlpha, 0.0, 1.0));
            if (frameManaged) w->setGeometry(shownFrame.toRect());
            return;
        }
        const bool alphaMoving = Animator::presentationValue(w, kAlpha).has_value();
        const bool hasChildren = !w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).isEmpty();
        const bool transformMoving = Animator::presentationValue(w, kTransform).has_value();
        const bool snapshot = !shownTransform.isIdentity() || transformMoving || (alphaMoving && hasChildren);
        if (frameManaged && w->geometry() != shownFrame.toRect()) w->setGeometry(shownFrame.toRect());
        if (snapshot) {
            if (!overlay) {
                setOpacity(1);
                auto* made = new SnapshotOverlay(w->parentWidget());
                made->picture = w->grab();
                made->setGeometry(w->parentWidget()->rect());
                made->show();
                made->raise();
                overlay = made;
            }
            overlay->frame = shownFrame;
            overlay->transform = shownTransform;
            overlay->alpha = shownAlpha;
            overlay->setVisible(!w->isHidden());
            overlay->update();
            setOpacity(0);
        } else {
            delete overlay;
            setOpacity(shownAlpha);
        }
        const bool passThrough = modelAlpha < 0.01;
        if (passThrough != madeTransparent) {
            w->setAttribute(Qt::WA_TransparentForMouseEvents, passThrough);
            madeTransparent = passThrough;
        }
    }

  private:
    void setOpacity(double value) {
        QWidget* w = widget_;
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(w->graphicsEffect());
        if (value >= 1) {
            if (effect) w->setGraphicsEffect(nullptr);
            return;
        }
        if (!effect) {
            effect = new QGraphicsOpacityEffect(w);
            w->setGraphicsEffect(effect);
        }
        effect->setOpacity(std::max(value, 0.0));
    }

    QWidget* widget_;
};

WidgetAnimationState* find(const QWidget* widget) {
    return widget->findChild<WidgetAnimationState*>(QStringLiteral("widgetAnimationState"),
                                                    Qt::FindDirectChildrenOnly);
}

WidgetAnimationState& stateOf(QWidget* widget) {
    if (auto* found = find(widget)) return *found;
    return *new WidgetAnimationState(widget);
}

}  // namespace

void setAlpha(QWidget* widget, double value) {
    if (!widget) return;
    auto& s = stateOf(widget);
    s.modelAlpha = value;
    QPointer<QWidget> guard(widget);
    Animator::setValue(widget, kAlpha, s.shownAlpha, value, [guard](const AnimatableValue& shown) {
        if (!guard) return;
        auto& st = stateOf(guard);
        st.shownAlpha = std::get<double>(shown);
        st.refresh();
    });
}

double alpha(const QWidget* widget) {
    const auto* s = widget ? find(widget) : nullptr;
    return s ? s->modelAlpha : 1.0;
}

double presentationAlpha(const QWidget* widget) {
    const auto* s = widget ? find(widget) : nullptr;
    return s ? s->shownAlpha : 1.0;
}

void setFrame(QWidget* widget, const QRect& value) {
    if (!widget) return;
    auto& s = stateOf(widget);
    if (!s.frameManaged) s.shownFrame = widget->geometry();
    s.frameManaged = true;
    s.modelFrame = value;
    QPointer<QWidget> guard(widget);
    Animator::setValue(widget, kFrame, s.shownFrame, QRectF(value), [guard](const AnimatableValue& shown) {
        if (!guard) return;
        auto& st = stateOf(guard);
        st.shownFrame = std::get<QRectF>(shown);
        st.refresh();
    });
}

QRect frame(const QWidget* widget) {
    if (!widget) return {};
    const auto* s = find(widget);
    return s ? s->modelFrame : widget->geometry();
}

void setTransform(QWidget* widget, const QTransform& value) {
    if (!widget) return;
    auto& s = stateOf(widget);
    s.modelTransform = value;
    QPointer<QWidget> guard(widget);
    Animator::setValue(widget, kTransform, s.shownTransform, value, [guard](const AnimatableValue& shown) {
        if (!guard) return;
        auto& st = stateOf(guard);
        st.shownTransform = std::get<QTransform>(shown);
        st.refresh();
    });
    s.refresh();  // the snapshot appears as soon as the transform starts moving
}

QTransform transform(const QWidget* widget) {
    const auto* s = widget ? find(widget) : nullptr;
    return s ? s->modelTransform : QTransform();
}

bool isShowingSnapshot(const QWidget* widget) {
    const auto* s = widget ? find(widget) : nullptr;
    return s && s->overlay;
}

}  // namespace platform
