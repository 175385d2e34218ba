#include "platform/ui/Contrast.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QColor mix(const QColor& a, const QColor& b, double weight) {
    auto channel = [&](double x, double y) { return static_cast<float>(x * weight + y * (1 - weight)); };
    return QColor::fromRgbF(channel(a.redF(), b.redF()), channel(a.greenF(), b.greenF()),
                            channel(a.blueF(), b.blueF()));
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor legibleBackground(const QColor& background, const QColor& text, double minimum) {
    if (contrastRatio(text, background) >= minimum) return background;
    // Towards black under light text, towards white under dark text, in small steps.
    const QColor end = luminance(text) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 40; ++step) {
        const QColor candidate = mix(end, background, step / 40.0);
        if (contrastRatio(text, candidate) >= minimum) return candidate.toRgb();
    }
    return end;
}

QColor legibleMix(const QColor& text, const QColor& background, double weight, double minimum) {
    for (double w = std::clamp(weight, 0.0, 1.0); w < 1.0; w += 0.02) {
        const QColor candidate = mix(text, background, w);
        if (contrastRatio(candidate, background) >= minimum) return candidate.toRgb();
    }
    return text;
}

QColor legibleForeground(const QColor& foreground, const QColor& background, double minimum) {
    if (contrastRatio(foreground, background) >= minimum) return foreground;
    // Away from the background: towards white on a dark one, towards black on a light one.
    const QColor end = luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 40; ++step) {
        QColor candidate = mix(end, foreground, step / 40.0).toRgb();
        candidate.setAlphaF(foreground.alphaF());
        if (contrastRatio(candidate, background) >= minimum) return candidate;
    }
    return end;
}

QColor blackOrWhiteOn(const QColor& background) {
    return contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background) ? QColor(Qt::black)
                                                                                        : QColor(Qt::white);
}

}  // namespace platform
