#include "widgets/taglist/CloseButton.hpp"

#include "platform/ui/FocusRing.hpp"

#include "widgets/taglist/TagView.hpp"

#include <QPainter>
#include <QPainterPath>

namespace tervolo::widgets::taglist {

CloseButton::CloseButton(QWidget* parent) : QAbstractButton(parent) {
    platform::makeKeyboardPressable(*this, [this] { click(); });
    setCursor(Qt::PointingHandCursor);
}

TagView* CloseButton::tagView() const {
    return tagView_;
}
void CloseButton::setTagView(TagView* tagView) {
    tagView_ = tagView;
}

QRectF CloseButton::iconRect(QSizeF size) const {
    return QRectF((size.width() - iconSize_) / 2, (size.height() - iconSize_) / 2, iconSize_, iconSize_);
}

void CloseButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square = iconRect(size());
    QPainterPath cross;
    cross.moveTo(square.topLeft());
    cross.lineTo(square.bottomRight());
    cross.moveTo(square.topRight());
    cross.lineTo(square.bottomLeft());
    QPen pen(tagView_ != nullptr ? tagView_->drawnRemoveIconColor() : lineColor_, lineWidth_, Qt::SolidLine,
             Qt::RoundCap);
    painter.setPen(pen);
    painter.drawPath(cross);
}

}  // namespace tervolo::widgets::taglist
