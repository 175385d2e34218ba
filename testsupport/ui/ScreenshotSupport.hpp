#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QString>

class QWidget;

namespace tervolo::testsupport {

// Saves `image` as <folder>/<name>.png for a person to look at, making the
// folder first; the test fails when the file cannot be written.
void saveScreenshot(const QImage& image, const QString& folder, const QString& name);

// `widget` drawn at a device pixel ratio (2: every point is two pixels each
// way) over `background`.
QImage renderWidget(QWidget& widget, double devicePixelRatio, const QColor& background = Qt::transparent);

// `widget` drawn at a device pixel ratio over its own window colour, as it
// stands on screen.
QImage renderOnWindowColour(QWidget& widget, double devicePixelRatio);

// The dark desktop palette the screens' screenshots are taken in: light text
// on dark window, base and button colours. Tests set the further roles their
// screen draws with on top of it.
QPalette darkScreenshotPalette();

}  // namespace tervolo::testsupport
