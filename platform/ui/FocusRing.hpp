#pragma once

#include <QColor>
#include <QPalette>
#include <QRectF>

#include <functional>
#include <initializer_list>

class QPainter;
class QWidget;

namespace platform {

// The keyboard focus ring of controls that draw themselves (map buttons, the map): a band of the
// palette's highlight colour, darkened or lightened just enough to stand out (3:1, as outlines
// need) from `backdrop`, what usually lies around the control, edged outside by a thin line of
// black or white, whichever stands out from the band, so it also reads on a backdrop of the band's
// own lightness (a map drawn dark). Main thread only; lengths in points.
struct FocusRing {
    static constexpr double kWidth = 3.0;
    static constexpr double kEdge = 1.0;
    // Between the ring and the control it surrounds, so the ring reads as a ring and not a border.
    static constexpr double kGap = 1.5;
    // How far a control drawn inside its own bounds moves its content in to make room for the ring.
    static constexpr double kInset = kEdge + kWidth + kGap;

    // What outlines need against what lies beside them.
    static constexpr double kMinimumContrast = 3.0;

    static QColor color(const QPalette& palette, const QColor& backdrop);
    // The same for a ring that lies between several colours (a control's face and edge on one side,
    // the map's sea and land on the other), each of which it must stand out from.
    static QColor color(const QPalette& palette, std::initializer_list<QColor> backdrops);
    // Strokes the ring along the inside of `bounds`, its corners rounded by `radius`: the outer edge
    // `edge` wide, then the band `width` wide.
    static void paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& color,
                      double edge = kEdge, double width = kWidth);
};

// Makes a small control that only a click worked (a clickable label, a flat icon button) a Tab
// stop: it takes the focus from Tab and Shift+Tab (never from a click), draws the focus ring along
// its bounds while focused, and runs `press` on Return, keypad Enter and Space, as a click does.
// Main thread only; the filter goes with the widget.
void makeKeyboardPressable(QWidget& widget, std::function<void()> press);

}  // namespace platform
