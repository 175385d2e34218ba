#pragma once

#include <QRect>
#include <QTransform>

class QWidget;

namespace platform {

// Alpha, frame and transform of a widget as model values that Animator block animations move.
// Reading gives the model value at once (what the last set asked for), while the screen catches up:
//
//   Animator::animate(0.3, [&] { setAlpha(card, 0); setTransform(card, QTransform::fromScale(0.8, 0.8)); });
//   alpha(card) == 0 now; the card shrinks and fades over 0.3 s.
//
// A live widget cannot be scaled, and fading a whole subtree through a graphics effect re-renders it
// every frame, so while a transform is not the identity, or while the alpha of a widget with
// children animates, a snapshot of the widget is shown in its place (same parent, above it, mouse
// events pass through) and painted with the presentation transform (about the frame's centre) and
// alpha. At rest with the identity transform the live widget is shown again, its alpha through a
// QGraphicsOpacityEffect (none at 1). A widget whose alpha is below 0.01 lets mouse events through,
// as the hit test of the platform the program came from skips it. Top-level windows take alpha as
// window opacity and ignore transforms. Main thread only.
void setAlpha(QWidget* widget, double alpha);
double alpha(const QWidget* widget);
void setFrame(QWidget* widget, const QRect& frame);
QRect frame(const QWidget* widget);  // the geometry when never set through setFrame
void setTransform(QWidget* widget, const QTransform& transform);
QTransform transform(const QWidget* widget);

// True while a snapshot stands in for the widget.
bool isShowingSnapshot(const QWidget* widget);
// The alpha on screen now (tests).
double presentationAlpha(const QWidget* widget);

}  // namespace platform
