#include "platform/ui/TableViewCell.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

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
        QPalette palette = detailTextLabel_->palette();
        palette.setColor(QPalette::WindowText, QColor(0x6e, 0x6e, 0x73));
        detailTextLabel_->setPalette(palette);
        texts->addWidget(detailTextLabel_);
    }
    layout_->addLayout(texts, 1);
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
    update();
}

void TableViewCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), selected_ ? QColor(0xd1, 0xd1, 0xd6) : palette().color(QPalette::Base));
    painter.fillRect(QRect(15, height() - 1, width() - 15, 1), QColor(0xc6, 0xc6, 0xc8));
}

}  // namespace platform
