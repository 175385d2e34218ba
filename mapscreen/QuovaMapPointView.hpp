#pragma once

#include "platform/mapkit/MKAnnotationView.hpp"

namespace tervolo::mapscreen {

// The pin of every stored point on the map: a plain pin view under a name of
// the map screen's own (the map delegate makes it and sets its tint, callout
// and dragging). It adds nothing to the pin: made with an annotation and a
// reuse identifier, it is exactly the pin view made with the same two. Main
// thread only.
class QuovaMapPointView : public platform::MKPinAnnotationView {
  public:
    using platform::MKPinAnnotationView::MKPinAnnotationView;
};

}  // namespace tervolo::mapscreen
