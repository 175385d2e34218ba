#include "widgets/hud/HUDTextView.hpp"

#include "widgets/hud/MultilineLabel.hpp"

namespace tervolo::widgets::hud {

HUDTextView::HUDTextView(const std::optional<std::string>& text, QWidget* parent)
    : HUDWideBaseView(parent), titleLabel_(new MultilineLabel(this)) {
    QFont bold = titleLabel_->font();
    bold.setPixelSize(17);
    bold.setBold(true);
    titleLabel_->setFont(bold);
    titleLabel_->setAlignment(Qt::AlignHCenter);
    titleLabel_->setTextColor(QColor::fromRgbF(0, 0, 0, 0.85f));
    titleLabel_->setNumberOfLines(3);
    // No smallest scale is given, and for the platform's label that means the full size is the
    // smallest: a long text is cut rather than shrunk.
    titleLabel_->setAdjustsFontSizeToFitWidth(true);
    titleLabel_->setMinimumScaleFactor(0);
    titleLabel_->setText(text ? QString::fromStdString(*text) : QString());
    layoutSubviews();
}

void HUDTextView::resizeEvent(QResizeEvent* event) {
    HUDWideBaseView::resizeEvent(event);
    layoutSubviews();
}

void HUDTextView::layoutSubviews() {
    titleLabel_->setGeometry(rect().adjusted(10, 10, -10, -10));
}

}  // namespace tervolo::widgets::hud
