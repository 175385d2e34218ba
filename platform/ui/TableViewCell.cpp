#include "platform/ui/TableViewCell.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "platform/ui/Contrast.hpp"

namespace platform {

TableViewCell::TableViewCell(Style style, QString reuseIdentifier, QWidget* parent)
    : QWidget(parent), reuseIdentifier_(std::move(reuseIdentifier)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(15, 6, 12, 6);
    layout_->setSpacing(8);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    textLabel_ = new QLabel(this);
    textLabel_->setTextFormat(Qt::PlainText);
    texts->addWidget(textLabel_);
    if (style == Style::Subtitle) {
        detailTextLabel_ = new QLabel(this);
        detailTextLabel_->setTextFormat(Qt::PlainText);
        QFont small = detailTextLabel_->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        detailTextLabel_->setFont(small);
        texts->addWidget(detailTextLabel_);
    }
    layout_->addLayout(texts, 1);
    applyColors();
}

TableViewCell::~TableViewCell() = default;

void TableViewCell::setAccessoryWidget(QWidget* widget) {
    if (widget == accessory_) return;
    delete accessory_;
    accessory_ = widget;
    if (widget) layout_->addWidget(widget, 0, Qt::AlignVCenter);
}

void TableViewCell::prepareForReuse() {
    setSelected(false);
}

void TableViewCell::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    applyColors();
    update();
}

QColor TableViewCell::backgroundColor() const {
    if (!selected_) return palette().color(QPalette::Base);
    // The selection's pair, darkened or lightened where the palette's own pair reads too faintly.
    return legibleBackground(palette().color(QPalette::Highlight),
                             palette().color(QPalette::HighlightedText));
}

QColor TableViewCell::textColor() const {
    return palette().color(selected_ ? QPalette::HighlightedText : QPalette::Text);
}

void TableViewCell::applyColors() {
    // Text and background come in pairs from the cell's palette (base and text, or the selection's
    // highlight and highlighted text), so a row reads in a light and a dark palette alike. The detail
    // line is the text colour moved towards the background: quieter, never below 4.5:1.
    const QColor text = textColor();
    const QColor background = backgroundColor();
    auto paint = [](QLabel* label, const QColor& color) {
        if (label == nullptr) return;
        // A label on a row takes the row's base as its background role and so draws with Text; set
        // both roles, whichever it reads.
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        palette.setColor(QPalette::Text, color);
        label->setPalette(palette);
    };
    const QColor quiet = legibleMix(text, background, 0.72);
    paint(textLabel_, dimmed_ ? quiet : text);
    paint(detailTextLabel_, quiet);
}

void TableViewCell::setDimmed(bool dimmed) {
    if (dimmed_ == dimmed) return;
    dimmed_ = dimmed;
    for (QLabel* label : {textLabel_, detailTextLabel_}) {
        if (label == nullptr) continue;
        QFont font = label->font();
        font.setStrikeOut(dimmed);
        label->setFont(font);
    }
    applyColors();
}

void TableViewCell::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) applyColors();
    QWidget::changeEvent(event);
}

void TableViewCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
    painter.fillRect(QRect(15, height() - 1, width() - 15, 1), palette().color(QPalette::Midlight));
}

}  // namespace platform
