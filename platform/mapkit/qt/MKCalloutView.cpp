#include "platform/mapkit/qt/MKCalloutView.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "platform/mapkit/qt/MKMapView.hpp"

namespace platform {

// ---- Accessories

MKCalloutAccessoryWidget::MKCalloutAccessoryWidget(QWidget* widget) : widget_(widget) {}

MKCalloutAccessoryWidget::~MKCalloutAccessoryWidget() {
    delete widget_.data();
}

bool MKCalloutAccessoryWidget::isControl() const {
    return qobject_cast<QAbstractButton*>(widget_.data()) != nullptr;
}

std::optional<MKCalloutAccessoryView::Rect> MKCalloutAccessoryWidget::frameInMapView() const {
    if (!widget_) return std::nullopt;
    for (QWidget* ancestor = widget_->parentWidget(); ancestor != nullptr;
         ancestor = ancestor->parentWidget()) {
        if (qobject_cast<MKMapView*>(ancestor) == nullptr) continue;
        if (!widget_->isVisibleTo(ancestor)) return std::nullopt;
        const QPoint origin = widget_->mapTo(ancestor, QPoint(0, 0));
        return Rect{static_cast<double>(origin.x()), static_cast<double>(origin.y()),
                    static_cast<double>(widget_->width()), static_cast<double>(widget_->height())};
    }
    return std::nullopt;
}

bool MKCalloutAccessoryWidget::hitTest(Point point) const {
    return widget_ && widget_->isEnabled() && MKCalloutAccessoryView::hitTest(point);
}

void MKCalloutAccessoryWidget::click(Point point) const {
    if (!widget_) return;
    // A press and a release where the click landed, as a real click: a button runs its own action,
    // and the map's filter sees the release and reports the control afterwards.
    const QPointF local(point.x, point.y);
    const QPointF global = widget_->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget_.data(), &press);
    if (!widget_) return;
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget_.data(), &release);
}

// ---- Callout

MKCalloutView::MKCalloutView(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::ArrowCursor);
}

void MKCalloutView::setContent(const std::shared_ptr<MKAnnotationView>& view) {
    auto* map = qobject_cast<MKMapView*>(parentWidget());
    // Accessories of the previous view leave the bubble.
    if (view_ != view && view_) {
        for (const auto& accessory : {view_->leftCalloutAccessoryView(), view_->rightCalloutAccessoryView(),
                                      view_->detailCalloutAccessoryView()}) {
            if (const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
                holder != nullptr && holder->widget() != nullptr) {
                holder->widget()->hide();
                if (map != nullptr) holder->widget()->removeEventFilter(map);
            }
        }
    }
    view_ = view;
    if (!view_ || !view_->annotation()) {
        title_.clear();
        subtitle_.clear();
        return;
    }
    title_ = QString::fromStdString(view_->annotation()->title());
    subtitle_ = QString::fromStdString(view_->annotation()->subtitle());
    for (const auto& accessory : {view_->leftCalloutAccessoryView(), view_->rightCalloutAccessoryView(),
                                  view_->detailCalloutAccessoryView()}) {
        if (const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
            holder != nullptr && holder->widget() != nullptr) {
            if (holder->widget()->parentWidget() != this) holder->widget()->setParent(this);
            if (map != nullptr) {
                holder->widget()->removeEventFilter(map);
                holder->widget()->installEventFilter(map);
            }
            holder->widget()->show();
        }
    }
    relayout();
}

namespace {

// The size a widget asks for, within the bounds it was given (a fixed size wins over its hint).
QSize preferredSize(const QWidget* widget) {
    return widget->sizeHint().boundedTo(widget->maximumSize()).expandedTo(widget->minimumSize());
}

QWidget* accessoryWidget(const std::shared_ptr<MKCalloutAccessoryView>& accessory) {
    const auto* holder = dynamic_cast<const MKCalloutAccessoryWidget*>(accessory.get());
    return holder != nullptr ? holder->widget() : nullptr;
}

constexpr int kCalloutPadding = 10;
constexpr int kCalloutPointer = 10;

QFont titleFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(14);
    font.setBold(true);
    return font;
}

QFont subtitleFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(12);
    return font;
}

// One line of the callout in the painter's font, cut at the width, starting at the side its own
// writing direction starts from: a Hebrew or Arabic title sits at the right, as it is read.
void drawLine(QPainter& painter, const QRect& area, const QString& text) {
    const bool rightToLeft = text.isRightToLeft();
    const Qt::LayoutDirection before = painter.layoutDirection();
    painter.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    const QString shown = QFontMetrics(painter.font()).elidedText(text, Qt::ElideRight, area.width());
    painter.drawText(
        area, Qt::AlignAbsolute | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, shown);
    painter.setLayoutDirection(before);
}

}  // namespace

void MKCalloutView::relayout() {
    if (!view_) return;
    QWidget* left = accessoryWidget(view_->leftCalloutAccessoryView());
    QWidget* right = accessoryWidget(view_->rightCalloutAccessoryView());
    QWidget* detail = accessoryWidget(view_->detailCalloutAccessoryView());
    const QFontMetrics titleMetrics(titleFont(font()));
    const QFontMetrics subtitleMetrics(subtitleFont(font()));
    // Two points of slack: advances are fractional and elision must not cut a text that fits.
    int textWidth = std::min(titleMetrics.horizontalAdvance(title_) + 2, 320);
    int textHeight = title_.isEmpty() ? 0 : titleMetrics.height();
    if (detail != nullptr) {
        const QSize hint = preferredSize(detail);
        textWidth = std::max(textWidth, hint.width());
        textHeight += hint.height();
    } else if (!subtitle_.isEmpty()) {
        textWidth = std::max(textWidth, std::min(subtitleMetrics.horizontalAdvance(subtitle_) + 2, 320));
        textHeight += subtitleMetrics.height();
    }
    const QSize leftSize = left != nullptr ? preferredSize(left) : QSize();
    const QSize rightSize = right != nullptr ? preferredSize(right) : QSize();
    if (maxWidth_ > 0) {
        // The texts give way (they are elided) so the bubble fits its area.
        const int others = 2 * kCalloutPadding + (left != nullptr ? leftSize.width() + 8 : 0) +
                           (right != nullptr ? rightSize.width() + 8 : 0);
        textWidth = std::max(40, std::min(textWidth, maxWidth_ - others));
    }
    const int contentHeight = std::max({textHeight, leftSize.height(), rightSize.height(), 20});
    int x = kCalloutPadding;
    if (left != nullptr) {
        left->setGeometry(x, kCalloutPadding + (contentHeight - leftSize.height()) / 2, leftSize.width(),
                          leftSize.height());
        x += leftSize.width() + 8;
    }
    const int textX = x;
    x += textWidth;
    if (detail != nullptr) {
        const QSize hint = preferredSize(detail);
        const int top = kCalloutPadding + (title_.isEmpty() ? 0 : titleMetrics.height());
        detail->setGeometry(textX, top + (contentHeight - textHeight) / 2, hint.width(), hint.height());
    }
    if (right != nullptr) {
        x += 8;
        right->setGeometry(x, kCalloutPadding + (contentHeight - rightSize.height()) / 2, rightSize.width(),
                           rightSize.height());
        x += rightSize.width();
    }
    bubble_ = QSize(std::max(x + kCalloutPadding, 60), contentHeight + 2 * kCalloutPadding);
    resize(bubble_.width(), bubble_.height() + kCalloutPointer);
    update();
}

void MKCalloutView::placeAt(QPointF tip, const QRectF& area) {
    maxWidth_ = area.isValid() ? static_cast<int>(std::floor(area.width())) : 0;
    relayout();
    double left = tip.x() - width() / 2.0;
    if (area.isValid()) {
        left = std::max(area.left(), std::min(left, area.right() - width()));
        // The pointer stays on the tip, clear of the bubble's rounded corners.
        const double inner = 8 + kCalloutPointer;
        left = std::clamp(left, tip.x() - (width() - inner), tip.x() - inner);
    }
    const int x = static_cast<int>(std::lround(left));
    pointerX_ = tip.x() - x;
    move(x, static_cast<int>(std::lround(tip.y() - height())));
    update();
}

QPointF MKCalloutView::pointerTip() const {
    return {pointerX_ >= 0 ? pointerX_ : width() / 2.0, static_cast<double>(height())};
}

void MKCalloutView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bubble;
    const QRectF body(0.5, 0.5, bubble_.width() - 1, bubble_.height() - 1);
    bubble.addRoundedRect(body, 8, 8);
    QPainterPath pointer;
    const double middle = pointerTip().x();
    pointer.moveTo(middle - kCalloutPointer, body.bottom() - 1);
    pointer.lineTo(middle, body.bottom() + kCalloutPointer - 0.5);
    pointer.lineTo(middle + kCalloutPointer, body.bottom() - 1);
    pointer.closeSubpath();
    bubble = bubble.united(pointer);
    // The palette's text on its base colour, so the bubble and the accessories in it (which take the
    // same palette) read in a light and a dark theme alike.
    const QColor text = palette().color(QPalette::Text);
    QColor fill = palette().color(QPalette::Base);
    fill.setAlpha(245);
    QColor border = text;
    border.setAlpha(60);
    const QColor base = palette().color(QPalette::Base);
    const QColor secondary =
        QColor::fromRgbF(text.redF() * 0.7f + base.redF() * 0.3f, text.greenF() * 0.7f + base.greenF() * 0.3f,
                         text.blueF() * 0.7f + base.blueF() * 0.3f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawPath(bubble);
    if (!view_) return;
    int textX = kCalloutPadding;
    if (QWidget* left = accessoryWidget(view_->leftCalloutAccessoryView()))
        textX = left->geometry().right() + 9;
    const int textRight = [&] {
        if (QWidget* right = accessoryWidget(view_->rightCalloutAccessoryView()))
            return right->geometry().left() - 8;
        return bubble_.width() - kCalloutPadding;
    }();
    const QFontMetrics titleMetrics(titleFont(font()));
    const QFontMetrics subtitleMetrics(subtitleFont(font()));
    const bool hasDetail = accessoryWidget(view_->detailCalloutAccessoryView()) != nullptr;
    const int textHeight = (title_.isEmpty() ? 0 : titleMetrics.height()) +
                           (!hasDetail && !subtitle_.isEmpty() ? subtitleMetrics.height() : 0);
    int y = kCalloutPadding + std::max(0, (bubble_.height() - 2 * kCalloutPadding - textHeight) / 2);
    if (hasDetail) y = kCalloutPadding;
    if (!title_.isEmpty()) {
        painter.setFont(titleFont(font()));
        painter.setPen(text);
        drawLine(painter, QRect(textX, y, textRight - textX, titleMetrics.height()), title_);
        y += titleMetrics.height();
    }
    if (!hasDetail && !subtitle_.isEmpty()) {
        painter.setFont(subtitleFont(font()));
        painter.setPen(secondary);
        drawLine(painter, QRect(textX, y, textRight - textX, subtitleMetrics.height()), subtitle_);
    }
}

void MKCalloutView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void MKCalloutView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        QRect(QPoint(0, 0), bubble_).contains(event->position().toPoint()) && onBodyClick) {
        onBodyClick();
    }
}

}  // namespace platform
