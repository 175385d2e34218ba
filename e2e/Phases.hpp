#pragma once

#include <string>

namespace tervolo::app {
class FirstMapFrameQuit;
}

namespace tervolo::e2e {

class PhaseDriver;

// Where a phase finds what the run gives it (all from the environment).
struct PhaseSettings {
    int phase = 0;
    std::string runFolder;      // facts handed from phase to phase
    std::string incomingLink;   // a short link somebody else shared
    std::string incomingTitle;  // the title the backend gives it
    std::string programPath;    // the real program, for a second start
    std::string reverseTitle;   // the title the geocoder gives any place
    std::string shortLinkHost;  // the host of the backend's short links
    std::string searchPlace;    // a place the geocoder finds by its name
    double useSeconds = 60;     // how long the measured use zooms and pans; a window of fixes
    int rounds = 3;             // rounds of windows with the user's dot in view and out of view
};

// The steps of one phase inside the running program, from its first frame to
// the closed window; the window is closed also when a step fails. Main
// thread, inside the event loop.
void runPhaseSteps(const PhaseSettings& settings, PhaseDriver& driver,
                   const app::FirstMapFrameQuit& firstFrame);

}  // namespace tervolo::e2e
