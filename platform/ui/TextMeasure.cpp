#include "platform/ui/TextMeasure.hpp"

#include <QFontMetricsF>

namespace platform {

QSizeF textSize(const QFont& font, const QString& text) {
    const QFontMetricsF metrics(font);
    if (text.isEmpty()) return QSizeF(0, metrics.height());
    return metrics.size(Qt::TextExpandTabs, text);
}

}  // namespace platform
