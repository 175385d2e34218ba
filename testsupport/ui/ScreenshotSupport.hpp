#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QRectF>
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

// `window` drawn at device pixel ratio 2 over its window colour in the default palette and in
// darkScreenshotPalette, set on the application in turn, and saved as <folder>/<name>-light@2x.png
// and <folder>/<name>-dark@2x.png; the application has the default palette again afterwards.
void saveLightAndDarkScreenshots(QWidget& window, const QString& folder, const QString& name);

// Every colour role of a common dark desktop theme (the "darker" scheme Qt's
// platform-theme configurator ships), as a dark theme hands it to the
// application: its selection blue #12608a reads at only 1.6:1 on its base
// #3d3d3d, so screens that draw their tint with the selection colour fade.
// Screens are tested with it set on the application, as the theme would.
QPalette darkDesktopPalette();

// The best contrast any pixel of `image` inside `area` (in the image's points, so the same rect at
// any pixel ratio) has against `background`: the ink of a title or an icon, read off the screen. At
// least 4.5 for text, 3 for icons. 1 for an empty area.
double strongestContrast(const QImage& image, const QRectF& area, const QColor& background);

// The number of pixels of `image` inside `area` (points) that differ from `background` by more than
// a faint antialiasing fringe: ink, whatever its colour.
int inkPixels(const QImage& image, const QRectF& area, const QColor& background);

}  // namespace tervolo::testsupport
