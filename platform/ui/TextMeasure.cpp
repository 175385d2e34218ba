#include "platform/ui/TextMeasure.hpp"

#include <QFontMetricsF>
#include <QTextLayout>

#include <algorithm>

namespace platform {

QSizeF textSize(const QFont& font, const QString& text) {
    const QFontMetricsF metrics(font);
    if (text.isEmpty()) return QSizeF(0, metrics.height());
    return metrics.size(Qt::TextExpandTabs, text);
}

double lineHeight(const QFont& font, const QString& text) {
    const QFontMetricsF metrics(font);
    double height = metrics.lineSpacing();
    if (text.isEmpty()) return height;
    // The laid-out line takes the ascent and descent of every font its glyphs come from.
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) line.setLineWidth(1e6);
    layout.endLayout();
    if (line.isValid()) height = std::max(height, line.height() + metrics.leading());
    return height;
}

}  // namespace platform
