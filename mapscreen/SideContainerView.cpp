#include "mapscreen/SideContainerView.hpp"

#include <QChildEvent>
#include <QEvent>
#include <QRegion>

namespace tervolo::mapscreen {

SideContainerView::SideContainerView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SideContainerView"));
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    updateHitMask();
}

QWidget* SideContainerView::hitTest(QPointF point) const {
    const QPoint at = point.toPoint();
    if (!rect().contains(at)) return nullptr;
    QWidget* hit = childAt(at);
    // The column itself (or nothing) is not a target: the map beneath takes the click.
    if (hit == nullptr || hit == this) return nullptr;
    return hit;
}

bool SideContainerView::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ChildAdded:
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())) {
                child->installEventFilter(this);
            }
            updateHitMask();
            break;
        case QEvent::ChildRemoved:
        case QEvent::Resize:
            updateHitMask();
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

bool SideContainerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched->parent() == this) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                updateHitMask();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SideContainerView::updateHitMask() {
    QRegion region;
    for (QObject* object : children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child != nullptr && !child->isHidden()) region += child->geometry();
    }
    // An empty mask means "no mask" to Qt; a column without buttons keeps a
    // one-point mask outside itself so that it still takes no click.
    if (region.isEmpty()) region = QRegion(-1, -1, 1, 1);
    setMask(region);
}

}  // namespace tervolo::mapscreen
