#include "location/ui/DetailAccessoryView.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "location/ui/LocationSymbols.hpp"
#include "location/ui/PinInside.hpp"
#include "logging/QLLogging.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/Label.hpp"

namespace tervolo::location {

namespace {

// Points between a symbol and its text, and between the two lines.
constexpr int kSymbolSpacing = 4;
constexpr int kLineSpacing = 2;

platform::ImageView* makeSymbol(const char* name) {
    auto* image = new platform::ImageView();
    image->setImageNamed(QString::fromLatin1(name));
    image->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    image->setAttribute(Qt::WA_TranslucentBackground);
    return image;
}

QLabel* makeText() {
    auto* text = new QLabel();
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(false);
    text->setAutoFillBackground(false);
    text->setTextInteractionFlags(Qt::NoTextInteraction);
    // On the callout's base colour, in its text colour.
    text->setForegroundRole(QPalette::Text);
    return text;
}

}  // namespace

DetailAccessoryView::DetailAccessoryView(QWidget* parent) : QWidget(parent) {
    commonInit();
}

QFont DetailAccessoryView::footnoteFont(const QFont& base) {
    return platform::scaledFont(base, 13.0 / 17.0);
}

QFont DetailAccessoryView::subheadlineFont(const QFont& base) {
    return platform::scaledFont(base, 15.0 / 17.0);
}

void DetailAccessoryView::commonInit() {
    initLocationSymbols();
    contentView_ = new QWidget();
    contentView_->setObjectName(QString::fromLatin1(kCONTENT_XIB_NAME));
    stackView_ = new QVBoxLayout(contentView_);
    stackView_->setContentsMargins(0, 0, 0, 0);
    stackView_->setSpacing(kLineSpacing);
    pinInside(contentView_, this);

    firstLineImage_ = makeSymbol("gauge");
    firstLineText_ = makeText();
    firstLineText_->setFont(subheadlineFont(font()));
    firstLineStack_ = new QHBoxLayout();
    firstLineStack_->setSpacing(kSymbolSpacing);
    firstLineStack_->addWidget(firstLineImage_, 0, Qt::AlignVCenter);
    firstLineStack_->addWidget(firstLineText_, 1);

    secondLineImage_ = makeSymbol("arrow.up.square.fill");
    secondLineText_ = makeText();
    secondLineText_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    secondLineText_->setFont(footnoteFont(font()));
    secondLineStack_ = new QHBoxLayout();
    secondLineStack_->setSpacing(kSymbolSpacing);
    secondLineStack_->addWidget(secondLineImage_, 0, Qt::AlignVCenter);
    secondLineStack_->addWidget(secondLineText_, 1);

    stackView_->addLayout(firstLineStack_);
    stackView_->addLayout(secondLineStack_);

    // No backgrounds: the callout's bubble shows through.
    for (QWidget* widget : {static_cast<QWidget*>(this), contentView_, static_cast<QWidget*>(firstLineText_),
                            static_cast<QWidget*>(secondLineText_)}) {
        widget->setAutoFillBackground(false);
        widget->setAttribute(Qt::WA_TranslucentBackground);
    }
    applySymbolTint();
    updateGeometry();
    invalidateIntrinsicContentSize();
}

void DetailAccessoryView::applySymbolTint() {
    // Symbols are as tall as a line of their text and take the text's colour.
    const QColor tint = palette().color(QPalette::Text);
    const int first = firstLineText_->fontMetrics().height();
    const int second = secondLineText_->fontMetrics().height();
    firstLineImage_->setFixedSize(first, first);
    secondLineImage_->setFixedSize(second, second);
    firstLineImage_->setTintColor(tint);
    secondLineImage_->setTintColor(tint);
}

void DetailAccessoryView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        if (event->type() == QEvent::FontChange) {
            firstLineText_->setFont(subheadlineFont(font()));
            secondLineText_->setFont(footnoteFont(font()));
        }
        applySymbolTint();
        invalidateIntrinsicContentSize();
    }
    QWidget::changeEvent(event);
}

void DetailAccessoryView::setSecondLine(const std::string& text) {
    secondLineText_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    secondLineText_->setFont(footnoteFont(font()));
    secondLineText_->setText(QString::fromStdString(text));
    invalidateIntrinsicContentSize();
}

QSize DetailAccessoryView::intrinsicContentSize() const {
    QLLogDebug("detailAccessoryView: intrinsic content size queried");
    // What the stack needs at the least: symbols and texts never squeezed.
    return stackView_->totalMinimumSize().expandedTo(stackView_->totalSizeHint());
}

void DetailAccessoryView::invalidateIntrinsicContentSize() {
    // The line stacks keep their own sizes until told: a new text must reach
    // the intrinsic size at once, not at the next layout pass.
    firstLineStack_->invalidate();
    secondLineStack_->invalidate();
    stackView_->invalidate();
    updateGeometry();
}

QSize DetailAccessoryView::sizeHint() const {
    return intrinsicContentSize();
}

QSize DetailAccessoryView::minimumSizeHint() const {
    return intrinsicContentSize();
}

}  // namespace tervolo::location
