#pragma once

#include <string>

#include "platform/ui/ImageView.hpp"

namespace tervolo::widgets::hud {

// The HUD's own pictures, compiled into the program's Qt resources under ":/images/hud/". A name that
// is not there gives the empty (null) image: the panel then shows no picture, and nothing fails. The
// kit itself shows only the progress picture; the others are there for callers. Main thread only
// (vector images are drawn by Qt's SVG renderer).
class HUDAssets {
  public:
    static platform::NamedImage crossImage();             // "cross"
    static platform::NamedImage checkmarkImage();         // "checkmark"
    static platform::NamedImage progressActivityImage();  // "progress_activity"
    static platform::NamedImage progressCircularImage();  // "progress_circular"
    static platform::NamedImage bundledImage(const std::string& name);
};

}  // namespace tervolo::widgets::hud
