#include "widgets/hud/MultilineLabel.hpp"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

#include "platform/ui/Label.hpp"

namespace tervolo::widgets::hud {

namespace {

struct Line {
    int start;
    int length;
};

// The lines `text` breaks into at `width`: at word boundaries, inside a word only when the word
// alone is wider.
std::vector<Line> wrap(const QFont& font, const QString& text, double width) {
    std::vector<Line> lines;
    if (text.isEmpty()) return lines;
    // A line feed in the text is a forced break (Qt's text layout breaks only at
    // the line separator); one character for one keeps the indices into `text`.
    QString laidOut = text;
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines.push_back(Line{line.textStart(), line.textLength()});
    }
    layout.endLayout();
    return lines;
}

}  // namespace

int MultilineLabel::lineCount(const QFont& font, const QString& text, double width) {
    return static_cast<int>(wrap(font, text, width).size());
}

MultilineLabel::MultilineLabel(QWidget* parent) : QWidget(parent), font_(QWidget::font()) {
    setAttribute(Qt::WA_TranslucentBackground);
    fit();
}

void MultilineLabel::setText(const QString& text) {
    text_ = text;
    fit();
}

void MultilineLabel::setFont(const QFont& font) {
    font_ = font;
    fit();
}

void MultilineLabel::setTextColor(const QColor& color) {
    color_ = color;
    update();
}

void MultilineLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void MultilineLabel::setNumberOfLines(int lines) {
    lines_ = std::max(0, lines);
    fit();
}

void MultilineLabel::setAdjustsFontSizeToFitWidth(bool adjusts) {
    adjusts_ = adjusts;
    fit();
}

void MultilineLabel::setMinimumScaleFactor(double factor) {
    minimumScale_ = std::clamp(factor, 0.0, 1.0);
    fit();
}

void MultilineLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fit();
}

bool MultilineLabel::fitsAtFullSize(double width, double height) const {
    if (text_.isEmpty()) return true;
    const auto lines = wrap(font_, text_, width);
    const int count = static_cast<int>(lines.size());
    if (lines_ > 0 && count > lines_) return false;
    return count * QFontMetricsF(font_).lineSpacing() <= height + 0.5;
}

void MultilineLabel::fit() {
    const double width = contentsRect().width();
    const double height = contentsRect().height();
    auto fits = [&](const QFont& font) {
        const auto lines = wrap(font, text_, width);
        const int count = static_cast<int>(lines.size());
        if (lines_ > 0 && count > lines_) return false;
        return count * QFontMetricsF(font).lineSpacing() <= height + 0.5;
    };
    double scale = 1;
    QFont shown = font_;
    if (adjusts_ && minimumScale_ > 0 && minimumScale_ < 1 && width > 0 && !fits(font_)) {
        scale = 1;
        while (scale > minimumScale_) {
            scale = std::max(minimumScale_, scale - 0.02);
            shown = platform::scaledFont(font_, scale);
            if (fits(shown)) break;
        }
    }
    appliedScale_ = scale;
    shownFont_ = shown;

    shown_.clear();
    if (width > 0) {
        const auto lines = wrap(shown, text_, width);
        const QFontMetricsF metrics(shown);
        int keep = static_cast<int>(lines.size());
        if (lines_ > 0) keep = std::min(keep, lines_);
        for (int i = 0; i < keep; ++i) {
            const bool last = i == keep - 1 && keep < static_cast<int>(lines.size());
            if (last) {
                // The rest of the text ends the last line, cut at the width.
                const QString rest = text_.mid(lines[i].start).simplified();
                shown_.push_back(metrics.elidedText(rest, Qt::ElideRight, width));
            } else {
                shown_.push_back(text_.mid(lines[i].start, lines[i].length).trimmed());
            }
        }
    }
    update();
}

void MultilineLabel::setShowsPlate(bool shows) {
    if (plate_ == shows) return;
    plate_ = shows;
    update();
}

std::vector<QRectF> MultilineLabel::lineRects() const {
    std::vector<QRectF> rects;
    const QRectF area = contentsRect();
    const QFontMetricsF metrics(shownFont_);
    const double spacing = metrics.lineSpacing();
    double y = area.top() + (area.height() - spacing * shown_.size()) / 2;
    const Qt::Alignment horizontal = alignment_ & Qt::AlignHorizontal_Mask;
    for (const QString& line : shown_) {
        const double width = std::min(area.width(), metrics.horizontalAdvance(line));
        double x = area.left();
        if (horizontal & Qt::AlignRight) {
            x = area.right() - width;
        } else if (horizontal & Qt::AlignHCenter) {
            x = area.left() + (area.width() - width) / 2;
        }
        rects.emplace_back(x, y, width, spacing);
        y += spacing;
    }
    return rects;
}

QRectF MultilineLabel::plateRect() const {
    if (!plate_ || shown_.isEmpty()) return {};
    QRectF box;
    for (const QRectF& line : lineRects()) box = box.united(line);
    return box.adjusted(-kPlatePadding, -1, kPlatePadding, 1).intersected(QRectF(rect()));
}

void MultilineLabel::paintEvent(QPaintEvent*) {
    if (shown_.isEmpty()) return;
    QPainter painter(this);
    if (plate_) {
        painter.setRenderHint(QPainter::Antialiasing);
        QColor plate = palette().color(QPalette::Window);
        plate.setAlpha(200);
        painter.setPen(Qt::NoPen);
        painter.setBrush(plate);
        painter.drawRoundedRect(plateRect(), 3, 3);
    }
    painter.setFont(shownFont_);
    painter.setPen(plate_ ? palette().color(QPalette::WindowText) : color_);
    const QRectF area = contentsRect();
    const Qt::Alignment horizontal = alignment_ & Qt::AlignHorizontal_Mask;
    const std::vector<QRectF> rects = lineRects();
    for (int i = 0; i < shown_.size(); ++i) {
        const QRectF& line = rects[size_t(i)];
        painter.drawText(QRectF(area.left(), line.top(), area.width(), line.height()),
                         horizontal | Qt::AlignTop, shown_[i]);
    }
}

}  // namespace tervolo::widgets::hud
