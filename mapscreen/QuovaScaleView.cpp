#include "mapscreen/QuovaScaleView.hpp"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "logging/QLLogging.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "platform/ui/GraphicsContext.hpp"
#include "points/AppTextsAndColors.hpp"

namespace tervolo::mapscreen {

namespace {

const QString kLabelFamily = QStringLiteral("Apple SD Gothic Neo");

bool hasLabelFamily() {
    return QFontDatabase::families().contains(kLabelFamily);
}

// The label's face where it exists (the family of the PostScript name
// "AppleSDGothicNeo-SemiBold"), otherwise the interface font; semibold at 12
// view points either way, as the bar's geometry is in view points.
QFont labelFont() {
    QFont font;
    if (hasLabelFamily()) font.setFamily(kLabelFamily);
    font.setWeight(QFont::DemiBold);
    font.setPixelSize(12);
    return font;
}

}  // namespace

QuovaScaleView::Geometry QuovaScaleView::geometryFor(QSizeF size, double inset) {
    const double w = size.width();
    const double hView = size.height();
    Geometry g;
    const double h = 0.4 * hView;
    const double barWidth = w - 2 * inset;
    const double top = hView - h;
    g.segmentWidth = barWidth / 4;
    g.bar = QRectF(inset, top, barWidth, h);
    for (int k = 0; k < 4; ++k) g.segments[k] = QRectF(inset + k * g.segmentWidth, top, g.segmentWidth, h);
    for (int k = 0; k < 5; ++k) {
        const double x = inset + k * g.segmentWidth;
        g.ticks[k] = QLineF(x, hView - 1.5 * h, x, hView);
    }
    g.label = QRectF(w - 2 * inset, 0, 2 * inset, hView / 3);
    return g;
}

QuovaScaleView::QuovaScaleView(QWidget* parent)
    : QWidget(parent), buttonBlue_(platform::MKQtGraphicsContext::toQColor(points::appTintColor())) {
    // Only the bar is drawn; the map shows through everywhere else.
    setAutoFillBackground(false);
}

platform::Label* QuovaScaleView::maxLabel() {
    if (maxLabel_) return maxLabel_;
    auto* label = new platform::Label(QString(), this);
    label->setFont(labelFont());
    platform::setTextColor(label, lightMode_ ? QColor(Qt::white) : buttonBlue_);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(false);
    label->setAllowsDefaultTighteningForTruncation(true);
    if (!hasLabelFamily()) {
        // The label is two insets wide, which the narrow face fills with the longest scale
        // texts ("5000 km"); wider stand-in faces shrink a little instead of losing the unit.
        label->setAdjustsFontSizeToFitWidth(true);
        label->setMinimumScaleFactor(0.75);
    }
    // The label only shows text: clicks pass through it to what lies under the scale bar.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    maxLabel_ = label;
    placeLabelWidget();
    label->show();
    return label;
}

void QuovaScaleView::setMaxLabelFrame(const QRectF& frame) {
    maxLabelFrame_ = frame;
    placeLabelWidget();
}

void QuovaScaleView::placeLabelWidget() {
    if (!maxLabel_) return;
    const QRectF frame = maxLabelFrame_;
    const double lineHeight = std::ceil(QFontMetricsF(maxLabel_->font()).height());
    const double height = std::max(frame.height(), lineHeight);
    // Centred where the frame is centred, then kept inside the view's top edge.
    const double top = std::max(0.0, frame.center().y() - height / 2);
    maxLabel_->setGeometry(QRectF(frame.x(), top, frame.width(), height).toAlignedRect());
}

void QuovaScaleView::setLightMode(bool lightMode) {
    if (lightMode == lightMode_) return;
    lightMode_ = lightMode;
    if (maxLabel_) {
        platform::setTextColor(maxLabel_, lightMode_ ? QColor(Qt::white) : buttonBlue_);
        maxLabel_->update();
    }
    update();
}

void QuovaScaleView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSubviews();
}

void QuovaScaleView::layoutSubviews() {
    QLLogDebug("layoutSubviews()");
    maxLabel();
    setMaxLabelFrame(barGeometry().label);
}

void QuovaScaleView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    platform::GraphicsContext context(&painter);
    draw(context);
}

void QuovaScaleView::draw(platform::GraphicsContext& context) const {
    if (!context.isActive()) return;
    const Geometry g = barGeometry();
    context.setStrokeColor(buttonBlue_);
    context.setLineWidth(1.0);
    context.setFillColor(buttonBlue_);
    context.fillRect(g.segments[0]);
    context.fillRect(g.segments[2]);
    context.setFillColor(Qt::white);
    context.fillRect(g.segments[1]);
    context.fillRect(g.segments[3]);

    context.setStrokeColor(outlineColor());
    context.setLineWidth(1.0);
    context.strokeRect(g.bar);
    context.setLineWidth(2.0);

    // The ticks are one path with a width of its own, 1, whatever the
    // context's line width was left at.
    QPainterPath ticks;
    for (const QLineF& tick : g.ticks) {
        ticks.moveTo(tick.p1());
        ticks.lineTo(tick.p2());
    }
    context.painter()->strokePath(ticks, QPen(outlineColor(), 1.0));
}

}  // namespace tervolo::mapscreen
