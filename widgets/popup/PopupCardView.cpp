#include "widgets/popup/PopupCardView.hpp"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tervolo::widgets::popup {

PopupCardView::PopupCardView(QWidget* parent) : QWidget(parent) {
    // Not filled by Qt: the corners outside the rounded shape show what lies behind the card.
    setAutoFillBackground(false);
    adoptPalette();
}

void PopupCardView::setCornerRadius(double radius) {
    cornerRadius_ = std::max(radius, 0.0);
    update();
}

void PopupCardView::adoptPalette() {
    // The card is a sheet of the base colour: its window colours (which labels and the bar read) are
    // the base and text colours of the palette it lives in, so the pairs stay matched.
    adopting_ = true;
    QPalette palette = parentWidget() != nullptr ? parentWidget()->palette() : QApplication::palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, palette.color(group, QPalette::Base));
        palette.setColor(group, QPalette::WindowText, palette.color(group, QPalette::Text));
    }
    setPalette(palette);
    adopting_ = false;
}

void PopupCardView::changeEvent(QEvent* event) {
    // A new desktop palette reaches the card through its parent (or the application): adopt it anew.
    const auto type = event->type();
    if (!adopting_ && (type == QEvent::PaletteChange || type == QEvent::ApplicationPaletteChange ||
                       type == QEvent::ParentChange)) {
        adoptPalette();
    }
    QWidget::changeEvent(event);
}

void PopupCardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (cornerRadius_ <= 0) {
        painter.fillRect(rect(), background);
        return;
    }
    const double r = std::min(cornerRadius_, std::min(width(), height()) / 2.0);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), r, r);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(shape, background);
}

}  // namespace tervolo::widgets::popup
