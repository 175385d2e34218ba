#pragma once

#include "platform/mapkit/MKAnnotationView.hpp"

namespace tervolo::mapscreen {

// A click recogniser of a class of its own and nothing more: made with an
// action, it hands the action to the plain recogniser unchanged. Deselecting
// an annotation view that is not a point's pin takes every recogniser of
// this class off that view, so one attached to such a view lives only while
// the view is selected. Nothing in the program attaches one today. Main
// thread only.
class QuovaGhostTapRecognizer : public platform::MKGestureRecognizer {
  public:
    using platform::MKGestureRecognizer::MKGestureRecognizer;
};

}  // namespace tervolo::mapscreen
