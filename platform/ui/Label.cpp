#include "platform/ui/Label.hpp"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

#include "platform/ui/TextMeasure.hpp"

namespace platform {

QFont scaledFont(const QFont& font, double factor) {
    QFont scaled = font;
    if (font.pixelSize() > 0) {
        scaled.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * factor))));
    } else {
        scaled.setPointSizeF(std::max(0.5, font.pointSizeF() * factor));
    }
    return scaled;
}

void setTextColor(QLabel* label, const QColor& color) {
    if (!label) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

Label::Label(const QString& text, QWidget* parent) : QLabel(parent), fullText_(text), font_(QLabel::font()) {
    setTextFormat(Qt::PlainText);
    fit();
}

void Label::setText(const QString& text) {
    fullText_ = text;
    updateGeometry();
    fit();
}

void Label::setFont(const QFont& font) {
    font_ = font;
    updateGeometry();
    fit();
}

void Label::setAdjustsFontSizeToFitWidth(bool adjusts) {
    adjusts_ = adjusts;
    fit();
}

void Label::setMinimumScaleFactor(double factor) {
    minimumScale_ = std::clamp(factor, 0.0, 1.0);
    fit();
}

void Label::setLineBreakMode(Qt::TextElideMode mode) {
    elide_ = mode;
    fit();
}

void Label::setAllowsDefaultTighteningForTruncation(bool allows) {
    tightens_ = allows;
    fit();
}

QSize Label::sizeHint() const {
    const QSizeF natural = textSize(font_, fullText_);
    const QMargins m = contentsMargins();
    return QSize(static_cast<int>(std::ceil(natural.width())) + m.left() + m.right(),
                 static_cast<int>(std::ceil(natural.height())) + m.top() + m.bottom());
}

QSize Label::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void Label::sizeToFit() {
    resize(sizeHint());
}

void Label::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fit();
}

void Label::fit() {
    const double available = contentsRect().width();
    double scale = 1;
    QFont shown = font_;
    const double natural = textSize(font_, fullText_).width();
    if (adjusts_ && natural > available && natural > 0 && available > 0) {
        // Width is close to proportional to the size; step down from there until it fits.
        scale = std::max(minimumScale_, available / natural);
        while (scale > minimumScale_ && textSize(scaledFont(font_, scale), fullText_).width() > available) {
            scale = std::max(minimumScale_, scale - 0.02);
        }
        shown = scaledFont(font_, scale);
    }
    appliedScale_ = scale;
    appliedSpacing_ = 0;
    if (tightens_ && available > 0 && textSize(shown, fullText_).width() > available) {
        // Tighten in quarter-pixel steps, at most a tenth of the line height per letter.
        const double limit = -0.1 * QFontMetricsF(shown).height();
        for (double spacing = -0.25; spacing >= limit; spacing -= 0.25) {
            QFont tighter = shown;
            tighter.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
            appliedSpacing_ = spacing;
            if (textSize(tighter, fullText_).width() <= available) break;
        }
        shown.setLetterSpacing(QFont::AbsoluteSpacing, appliedSpacing_);
    }
    QLabel::setFont(shown);
    QString text = fullText_;
    if (available > 0 && textSize(shown, fullText_).width() > available) {
        text = QFontMetricsF(shown).elidedText(fullText_, elide_, available);
    }
    if (QLabel::text() != text) QLabel::setText(text);
}

}  // namespace platform
