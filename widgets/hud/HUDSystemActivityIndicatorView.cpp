#include "widgets/hud/HUDSystemActivityIndicatorView.hpp"

#include <cmath>

#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/AnimationWidget.hpp"

namespace tervolo::widgets::hud {

HUDSystemActivityIndicatorView::HUDSystemActivityIndicatorView(QWidget* parent)
    : HUDSystemActivityIndicatorView(defaultSquareFrame(), parent) {}

HUDSystemActivityIndicatorView::HUDSystemActivityIndicatorView(const QRect& frame, QWidget* parent)
    : HUDSquareBaseView(frame, parent) {
    setUp();
}

void HUDSystemActivityIndicatorView::setUp() {
    activityIndicatorView_ = new platform::ActivityIndicator(platform::ActivityIndicator::Style::Large, this);
    activityIndicatorView_->setColor(Qt::black);
    platform::setAlpha(this, 0.8);
    layoutSubviews();
}

void HUDSystemActivityIndicatorView::layoutSubviews() {
    HUDSquareBaseView::layoutSubviews();
    if (!activityIndicatorView_) return;
    const QSize size = activityIndicatorView_->sizeHint();
    const QPointF middle = QRectF(rect()).center();
    activityIndicatorView_->setGeometry(static_cast<int>(std::lround(middle.x() - size.width() / 2.0)),
                                        static_cast<int>(std::lround(middle.y() - size.height() / 2.0)),
                                        size.width(), size.height());
}

void HUDSystemActivityIndicatorView::startAnimation() {
    activityIndicatorView_->startAnimating();
}

}  // namespace tervolo::widgets::hud
