#include "widgets/hud/HUDSquareBaseView.hpp"

#include <cmath>

#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Label.hpp"
#include "widgets/hud/HUDController.hpp"
#include "widgets/hud/HUDImageView.hpp"
#include "widgets/hud/MultilineLabel.hpp"

namespace tervolo::widgets::hud {

namespace {

QString toQString(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

// Row heights are whole points, rounded up as the platform rounds a 32-bit float.
double roundedUp(double value) {
    return std::ceil(static_cast<float>(value));
}

}  // namespace

HUDSquareBaseView::HUDSquareBaseView(const platform::NamedImage& image,
                                     const std::optional<std::string>& title,
                                     const std::optional<std::string>& subtitle, QWidget* parent)
    : QWidget(parent) {
    makeParts();
    setGeometry(defaultSquareFrame());
    imageView_->setImage(image);
    titleLabel_->setText(toQString(title));
    subtitleLabel_->setText(toQString(subtitle));
    imageView_->show();
    titleLabel_->show();
    subtitleLabel_->show();
    widenForSubtitle();
    layoutSubviews();
}

void HUDSquareBaseView::widenForSubtitle() {
    // The subtitle row is a quarter of the panel, two lines of 14 px: a sentence such as "Coordinates
    // can now be pasted into any application." would shrink to about 9 px there. The panel grows
    // sideways (its rows keep their heights) until the subtitle fits at its full size, up to twice its
    // width; only beyond that does the font shrink.
    if (subtitleLabel_->text().isEmpty()) return;
    const auto& hud = HUDController::sharedHUD();
    const double margin = hud.leadingMargin() + hud.trailingMargin();
    const QMargins inner = subtitleLabel_->contentsMargins();
    const QRect square = geometry();
    const double rowHeight = rows(square.size(), margin).subtitle.height();
    for (int width = square.width(); width <= 2 * square.width(); width += 4) {
        const double text = width - 2 * margin - inner.left() - inner.right();
        if (subtitleLabel_->fitsAtFullSize(text, rowHeight) || width + 4 > 2 * square.width()) {
            setGeometry(QRect(square.topLeft(), QSize(width, square.height())));
            return;
        }
    }
}

HUDSquareBaseView::HUDSquareBaseView(const QRect& frame, QWidget* parent) : QWidget(parent) {
    makeParts();
    setGeometry(frame);
    layoutSubviews();
}

void HUDSquareBaseView::makeParts() {
    setAttribute(Qt::WA_TranslucentBackground);
    // Made in stacking order, bottom first: picture, title, subtitle.
    imageView_ = new HUDImageView(this);
    platform::setAlpha(imageView_, 0.85);
    imageView_->hide();

    titleLabel_ = new platform::Label(QString(), this);
    QFont bold = titleLabel_->font();
    bold.setPixelSize(17);
    bold.setBold(true);
    titleLabel_->setFont(bold);
    titleLabel_->setAlignment(Qt::AlignCenter);
    platform::setTextColor(titleLabel_, QColor::fromRgbF(0, 0, 0, 0.85f));
    titleLabel_->setAdjustsFontSizeToFitWidth(true);
    titleLabel_->setMinimumScaleFactor(0.25);
    titleLabel_->hide();

    subtitleLabel_ = new MultilineLabel(this);
    QFont plain = subtitleLabel_->font();
    plain.setPixelSize(14);
    subtitleLabel_->setFont(plain);
    subtitleLabel_->setAlignment(Qt::AlignHCenter);
    subtitleLabel_->setTextColor(QColor::fromRgbF(0, 0, 0, 0.7f));
    subtitleLabel_->setNumberOfLines(2);
    subtitleLabel_->setAdjustsFontSizeToFitWidth(true);
    subtitleLabel_->setMinimumScaleFactor(0.25);
    // The row spans the panel; the wrapped lines keep the wide panel's ten points off its rounded
    // sides.
    subtitleLabel_->setContentsMargins(10, 0, 10, 0);
    subtitleLabel_->hide();
}

HUDSquareBaseView::Rows HUDSquareBaseView::rows(QSizeF bounds, double margin) {
    const double x = margin > 0 ? margin : 0;
    const double width = bounds.width() - 2 * margin;
    const double h = bounds.height();
    const double quarter = roundedUp(h * 0.25);
    const double half = roundedUp(h * 0.5);
    const double threeQuarters = roundedUp(h * 0.25 * 3);
    return Rows{QRectF(x, 0, width, quarter), QRectF(x, quarter, width, half),
                QRectF(x, threeQuarters, width, quarter)};
}

void HUDSquareBaseView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSubviews();
}

void HUDSquareBaseView::layoutSubviews() {
    const auto& hud = HUDController::sharedHUD();
    const Rows r = rows(size(), hud.leadingMargin() + hud.trailingMargin());
    titleLabel_->setGeometry(r.title.toRect());
    imageView_->setGeometry(r.image.toRect());
    subtitleLabel_->setGeometry(r.subtitle.toRect());
}

}  // namespace tervolo::widgets::hud
