#pragma once

class QWidget;

namespace tervolo::location {

// Puts `view` inside `container` and keeps its four edges on the container's:
// the view first takes the container's frame (its geometry in its own parent,
// as the platform does; the pinning corrects it at once), becomes the
// container's child and then fills it, now and after every resize. A container
// without a layout gets a zero-margin layout holding the view, so the
// container's size hint follows the view; one with a layout of its own keeps
// it, and the view is laid over it. Nothing happens without a container.
// Main thread only.
void pinInside(QWidget* view, QWidget* container);

}  // namespace tervolo::location
