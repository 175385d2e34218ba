#include "widgets/taglist/TagView.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

#include "platform/ui/Contrast.hpp"
#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/TextMeasure.hpp"

namespace tervolo::widgets::taglist {

namespace {

QFont defaultTagTextFont() {
    QFont font;
    font.setPointSizeF(12);
    return font;
}

Qt::TextElideMode elideMode(LineBreakMode mode) {
    switch (mode) {
        case LineBreakMode::byTruncatingHead:
            return Qt::ElideLeft;
        case LineBreakMode::byTruncatingTail:
            return Qt::ElideRight;
        case LineBreakMode::byTruncatingMiddle:
            return Qt::ElideMiddle;
        default:
            return Qt::ElideNone;
    }
}

}  // namespace

TagView::TagView(const QString& title, QWidget* parent)
    : QAbstractButton(parent), textFont_(defaultTagTextFont()) {
    setText(title);
    labelFont_ = font();
    titleColor_ = palette().color(QPalette::ButtonText);
    setupView();
    // Highlighted while the button is held down, as the platform's buttons are.
    connect(this, &QAbstractButton::pressed, this, [this] { setHighlighted(true); });
    connect(this, &QAbstractButton::released, this, [this] { setHighlighted(false); });
}

void TagView::setupView() {
    setFocusPolicy(Qt::NoFocus);
    const QSizeF size = intrinsicContentSize();
    resize(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())));
    removeButton_ = new CloseButton(this);
    removeButton_->setTagView(this);
    removeButton_->hide();
    auto* recognizer =
        new platform::LongPressGestureRecognizer([this](platform::GestureRecognizer&) { longPress(); });
    platform::addGestureRecognizer(this, recognizer);
}

void TagView::setTitle(const QString& title) {
    intrinsicSize_.reset();
    setText(title);
    update();
}

void TagView::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    update();
}

void TagView::setBorderWidth(double width) {
    borderWidth_ = width;
    layerBorderWidth_ = width;
    update();
}

void TagView::setBorderColor(std::optional<QColor> color) {
    borderColor_ = color;
    reloadStyles();
}

void TagView::setTextColor(const QColor& color) {
    textColor_ = color;
    reloadStyles();
}

void TagView::setSelectedTextColor(const QColor& color) {
    selectedTextColor_ = color;
    reloadStyles();
}

void TagView::setTitleLineBreakMode(LineBreakMode mode) {
    titleLineBreakMode_ = mode;
    update();
}

void TagView::setPaddingY(double padding) {
    intrinsicSize_.reset();
    paddingY_ = padding;
    titleInsets_.setTop(padding);
    titleInsets_.setBottom(padding);
    update();
}

void TagView::setPaddingX(double padding) {
    intrinsicSize_.reset();
    paddingX_ = padding;
    titleInsets_.setLeft(padding);
    updateRightInsets();
}

void TagView::setTagBackgroundColor(const QColor& color) {
    tagBackgroundColor_ = color;
    reloadStyles();
}

void TagView::setHighlightedBackgroundColor(std::optional<QColor> color) {
    highlightedBackgroundColor_ = color;
    reloadStyles();
}

void TagView::setSelectedBorderColor(std::optional<QColor> color) {
    selectedBorderColor_ = color;
    reloadStyles();
}

void TagView::setSelectedBackgroundColor(std::optional<QColor> color) {
    selectedBackgroundColor_ = color;
    reloadStyles();
}

void TagView::setTextFont(const QFont& font) {
    intrinsicSize_.reset();
    textFont_ = font;
    labelFont_ = font;
    update();
}

void TagView::setEnableRemoveButton(bool enable) {
    intrinsicSize_.reset();
    enableRemoveButton_ = enable;
    removeButton_->setVisible(enable);
    updateRightInsets();
    layoutSubviews();
}

void TagView::setRemoveButtonIconSize(double size) {
    intrinsicSize_.reset();
    removeButtonIconSize_ = size;
    removeButton_->setIconSize(size);
    updateRightInsets();
    layoutSubviews();
}

void TagView::setRemoveIconLineWidth(double width) {
    removeIconLineWidth_ = width;
    removeButton_->setLineWidth(width);
}

void TagView::setRemoveIconLineColor(const QColor& color) {
    removeIconLineColor_ = color;
    removeButton_->setLineColor(color);
}

void TagView::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    reloadStyles();
}

void TagView::setSelected(bool selected) {
    selected_ = selected;
    reloadStyles();
}

void TagView::reloadStyles() {
    if (highlighted_) {
        // Without a highlight colour the chip keeps what the last restyle set.
        if (highlightedBackgroundColor_) backgroundColor_ = highlightedBackgroundColor_;
    } else if (selected_) {
        backgroundColor_ = selectedBackgroundColor_.value_or(tagBackgroundColor_);
        layerBorderColor_ = selectedBorderColor_ ? selectedBorderColor_ : borderColor_;
        titleColor_ = selectedTextColor_;
    } else {
        backgroundColor_ = tagBackgroundColor_;
        layerBorderColor_ = borderColor_;
        titleColor_ = textColor_;
    }
    update();
}

namespace {

// `color` as it shows over `background` (its alpha blended in).
QColor over(const QColor& color, const QColor& background) {
    const double a = color.alphaF();
    return QColor::fromRgbF(static_cast<float>(color.redF() * a + background.redF() * (1 - a)),
                            static_cast<float>(color.greenF() * a + background.greenF() * (1 - a)),
                            static_cast<float>(color.blueF() * a + background.blueF() * (1 - a)));
}

}  // namespace

QColor TagView::drawnTitleColor() const {
    if (!backgroundColor_ || backgroundColor_->alpha() == 0) return titleColor_;
    const QColor face = over(*backgroundColor_, palette().color(QPalette::Window));
    if (platform::contrastRatio(over(titleColor_, face), face) >= 4.5) return titleColor_;
    return platform::blackOrWhiteOn(face);
}

QColor TagView::drawnRemoveIconColor() const {
    const QColor line = removeButton_->lineColor();
    if (!backgroundColor_ || backgroundColor_->alpha() == 0) return line;
    const QColor face = over(*backgroundColor_, palette().color(QPalette::Window));
    if (platform::contrastRatio(over(line, face), face) >= 3.0) return line;
    // The label's colour, still a little quieter than the title.
    QColor shown = platform::blackOrWhiteOn(face);
    shown.setAlphaF(std::max(0.75f, line.alphaF()));
    return shown;
}

void TagView::updateRightInsets() {
    titleInsets_.setRight(enableRemoveButton_ ? paddingX_ + removeButtonIconSize_ + paddingX_ : paddingX_);
    update();
}

QSizeF TagView::intrinsicContentSize() const {
    if (intrinsicSize_) return *intrinsicSize_;
    const double textWidth = text().isEmpty() ? 0.0 : platform::textSize(textFont_, text()).width();
    // One line of the title as the font lays it out (its line spacing, or the taller fallback fonts of
    // CJK or Arabic titles), not the font's point size taken as pixels, which cut descenders.
    const double height = std::ceil(platform::lineHeight(textFont_, text())) + 2 * paddingY_;
    double width = textWidth + 2 * paddingX_;
    if (width < height) width = height;  // never narrower than tall
    if (enableRemoveButton_) width += removeButtonIconSize_ + paddingX_;
    intrinsicSize_ = QSizeF(width, height);
    return *intrinsicSize_;
}

QSize TagView::sizeHint() const {
    const QSizeF size = intrinsicContentSize();
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
}

void TagView::layoutSubviews() {
    if (!enableRemoveButton_) return;  // hidden: its frame is left alone
    const double buttonWidth = paddingX_ + removeButtonIconSize_ + paddingX_;
    removeButton_->setGeometry(static_cast<int>(std::round(width() - buttonWidth)), 0,
                               static_cast<int>(std::round(buttonWidth)), height());
}

void TagView::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    layoutSubviews();
}

void TagView::longPress() {
    if (onLongPress) onLongPress(this);
}

void TagView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    if (cornerRadius_ > 0) {
        shape.addRoundedRect(bounds, cornerRadius_, cornerRadius_);
        painter.setClipPath(shape);
    } else {
        shape.addRect(bounds);
    }
    if (backgroundColor_) painter.fillPath(shape, *backgroundColor_);
    if (layerBorderWidth_ > 0 && layerBorderColor_) {
        // The border lies inside the bounds, as a layer border does.
        const double inset = layerBorderWidth_ / 2;
        QPainterPath border;
        const QRectF inner = bounds.adjusted(inset, inset, -inset, -inset);
        if (cornerRadius_ > 0) {
            border.addRoundedRect(inner, std::max(0.0, cornerRadius_ - inset),
                                  std::max(0.0, cornerRadius_ - inset));
        } else {
            border.addRect(inner);
        }
        painter.setPen(QPen(*layerBorderColor_, layerBorderWidth_));
        painter.drawPath(border);
    }
    const QRectF textRect = bounds.marginsRemoved(titleInsets_);
    painter.setFont(labelFont_);
    painter.setPen(drawnTitleColor());
    // Frames are whole pixels while the measured title is fractional: a title
    // that fits within a pixel is drawn whole, not cut.
    QString shown = text();
    if (platform::textSize(labelFont_, shown).width() > textRect.width() + 1.0) {
        shown = painter.fontMetrics().elidedText(shown, elideMode(titleLineBreakMode_),
                                                 static_cast<int>(std::floor(textRect.width())));
    }
    // The insets come from the font's point size, less than its line height:
    // centred in them, the glyphs reach past them and must not be cut there
    // (the chip's own shape clips what lies outside it).
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, shown);
}

}  // namespace tervolo::widgets::taglist
