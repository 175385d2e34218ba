#pragma once

namespace platform {

class GestureRecognizer;

// Lets a recogniser's owner veto its start or let it run together with another one. Held weakly.
class GestureRecognizerDelegate {
  public:
    virtual ~GestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBegin(GestureRecognizer&) { return true; }
    virtual bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer& /*other*/) {
        return false;
    }
};

}  // namespace platform
