#include "pointscreens/PDFTextEngine.hpp"

#include <QGlyphRun>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <limits>

namespace tervolo::pointscreens {

namespace {

QFont makeFont(double pointSize, QFont::Weight weight, QPaintDevice* device) {
    QFont font;
    font.setFamilies({QString::fromLatin1(PDFTextEngine::kFontFamily)});
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    font.setStyleHint(QFont::SansSerif);
    // Unhinted outlines: the advances are the font's design values at every
    // resolution, so the layout does not depend on the screen.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(true);
    return QFont(font, device);
}

// Lays `text` out into lines of `width`; wrapping or not. Returns the number
// of lines.
int layOut(QTextLayout& layout, const QString& text, bool wraps, Qt::Alignment alignment, double width) {
    QTextOption option;
    option.setWrapMode(wraps ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    // The text's own direction (that of its first strong character) decides
    // which side "natural" is. QTextLayout takes the alignment literally, so
    // leading alignment is turned into the visual side here.
    const bool rightToLeft = text.isRightToLeft();
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    if ((alignment & Qt::AlignLeft) && rightToLeft) alignment = (alignment & ~Qt::AlignLeft) | Qt::AlignRight;
    option.setAlignment(alignment);
    option.setUseDesignMetrics(true);
    layout.setText(text);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    double y = 0;
    int count = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++count;
    }
    layout.endLayout();
    return count;
}

// A font whose glyphs are colour pictures (emoji): bitmaps (CBDT, sbix), layers (COLR) or SVG.
bool isColourFont(const QRawFont& font) {
    for (const char* table : {"CBDT", "sbix", "COLR", "SVG "}) {
        if (!font.fontTable(table).isEmpty()) return true;
    }
    return false;
}

// A PDF has no way to carry a colour font's glyphs (they would come out blank): such a run goes
// into the page as a picture of itself, drawn at four times the page's resolution. Qt's PDF engine
// never sees the colour font at all: embedding it read the font at its design size through the
// face the screen's text shares, and from then on the list's emoji were drawn at their old size
// with too small an advance, over the letters after them.
void drawAsPicture(QPainter& painter, const QGlyphRun& run, QPointF origin) {
    const QRectF bounds = run.boundingRect();
    if (bounds.isEmpty()) return;
    constexpr double kScale = 4;
    QImage picture((bounds.size() * kScale).toSize().expandedTo({1, 1}), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter inner(&picture);
        inner.setRenderHint(QPainter::Antialiasing);
        inner.setRenderHint(QPainter::SmoothPixmapTransform);
        inner.scale(kScale, kScale);
        inner.translate(-bounds.topLeft());
        inner.drawGlyphRun(QPointF(0, 0), run);
    }
    painter.drawImage(QRectF(origin + bounds.topLeft(), bounds.size()), picture);
}

// Draws one laid-out line at `origin` (the layout's position), run by run.
void drawLine(QPainter& painter, const QTextLine& line, QPointF origin) {
    for (const QGlyphRun& run : line.glyphRuns()) {
        if (isColourFont(run.rawFont())) {
            drawAsPicture(painter, run, origin);
        } else {
            painter.drawGlyphRun(origin, run);
        }
    }
}

}  // namespace

PDFTextEngine::PDFTextEngine(QPaintDevice* device)
    : device_(device),
      titleFont_(makeFont(PDFLayout::kTitleFontSize, QFont::Bold, device)),
      textFont_(makeFont(PDFLayout::kTextFontSize, QFont::Normal, device)) {}

const QFont& PDFTextEngine::font(PDFLayout::Style style) const {
    return style == PDFLayout::Style::title ? titleFont_ : textFont_;
}

QString PDFTextEngine::layoutText(const std::string& text) {
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    for (QChar& c : result) {
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator) c = QChar::LineSeparator;
    }
    return result;
}

PDFLayout::Measure PDFTextEngine::measure(const std::string& text, PDFLayout::Style style, double wrapWidth) {
    const QString string = layoutText(text);
    QTextLayout layout(QString(), font(style), device_);
    const int lineCount = layOut(layout, string, true, Qt::AlignLeft, wrapWidth);

    PDFLayout::Measure result;
    result.lineHeights.reserve(static_cast<size_t>(lineCount));
    double widest = 0;
    for (int i = 0; i < lineCount; ++i) {
        const QTextLine line = layout.lineAt(i);
        result.lineHeights.push_back(line.height());
        widest = std::max(widest, line.naturalTextWidth());
    }
    const int paragraphs = static_cast<int>(string.count(QChar::LineSeparator)) + 1;
    if (lineCount <= paragraphs) {
        // Nothing wrapped: the wrapped lines are the natural ones.
        result.naturalWidth = widest;
        for (double height : result.lineHeights) result.naturalHeight += height;
        return result;
    }
    // Something wrapped: set the text once more without a width limit for its
    // natural extent (a tenth of a typical list; the rest measures once).
    QTextLayout unwrapped(QString(), font(style), device_);
    const int naturalLines =
        layOut(unwrapped, string, false, Qt::AlignLeft, std::numeric_limits<float>::max() / 4);
    for (int i = 0; i < naturalLines; ++i) {
        const QTextLine line = unwrapped.lineAt(i);
        result.naturalWidth = std::max(result.naturalWidth, line.naturalTextWidth());
        result.naturalHeight += line.height();
    }
    return result;
}

void PDFTextEngine::draw(QPainter& painter, const PDFLayout::PlacedText& placed) const {
    QTextLayout layout(QString(), font(placed.style), device_);
    const Qt::Alignment alignment =
        placed.alignment == PDFLayout::Alignment::centre ? Qt::AlignHCenter : Qt::AlignLeft;
    const int lineCount = layOut(layout, layoutText(placed.text), placed.wraps, alignment, placed.width);
    if (lineCount == 0 || placed.firstLine >= static_cast<size_t>(lineCount)) return;

    painter.setPen(Qt::black);
    const double top = layout.lineAt(static_cast<int>(placed.firstLine)).y();
    const size_t end = std::min(placed.firstLine + placed.lineCount, static_cast<size_t>(lineCount));
    for (size_t i = placed.firstLine; i < end; ++i) {
        drawLine(painter, layout.lineAt(static_cast<int>(i)), QPointF(placed.x, placed.y - top));
    }
}

}  // namespace tervolo::pointscreens
