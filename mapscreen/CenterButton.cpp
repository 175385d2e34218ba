#include "mapscreen/CenterButton.hpp"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>

#include "mapscreen/TervoloButtonKit.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::mapscreen {

CenterButton::CenterButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
}

namespace {

bool plainKey(const QKeyEvent& event) {
    return (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !event.isAutoRepeat();
}

}  // namespace

void CenterButton::keyPressEvent(QKeyEvent* event) {
    // As a button: Return and Enter act when pressed, Space when released.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (plainKey(*event)) emit activated();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    // The menu key comes as a key press on some desktops and as a context-menu event on others;
    // either way it acts once, here or in contextMenuEvent.
    const bool menuKey = event->key() == Qt::Key_Menu && plainKey(*event);
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier &&
                          !event->isAutoRepeat();
    if (menuKey || shiftF10) {
        emit alternateActivated();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CenterButton::contextMenuEvent(QContextMenuEvent* event) {
    // A right click, or the menu key where the desktop turns it into this event: it goes no further
    // (the map below would take it for a menu of its own).
    emit alternateActivated();
    event->accept();
}

void CenterButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        if (plainKey(*event)) emit activated();
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void CenterButton::setTintColor(const QColor& color) {
    if (tintColor_ == color) return;
    tintColor_ = color;
    update();
}

void CenterButton::setLayer(const ButtonLayer& layer) {
    if (layer_ == layer) return;
    layer_ = layer;
    update();
}

void CenterButton::paintEvent(QPaintEvent*) {
    // Read at every paint: the screen changes the stored mode and asks for a repaint, nothing else.
    const int64_t mode = platform::UserDefaults::standard().integerValue(kTrackingModeKey).value_or(0);
    QPainter painter(this);
    paintMapButton(painter, *this, layer_, [mode](platform::GraphicsContext& context, const QRectF& frame) {
        constexpr auto fill = TervoloButtonKit::ResizingBehavior::proportionalFill;
        if (mode == 2) {
            TervoloButtonKit::drawLocationArrowBearing(context, frame, fill);
        } else {
            TervoloButtonKit::drawLocationArrow(context, frame, fill, mode == 1);
        }
    });
}

}  // namespace tervolo::mapscreen
