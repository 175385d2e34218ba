#pragma once

#include <array>
#include <string>

namespace tervolo::appinfo {

// Whether some applications the program works with are installed, asked of
// the desktop through the URL handlers of their schemes
// (platform::canOpenURL). Nothing is cached: every call asks again, so an
// application installed while the program runs counts at the next call.
// Any thread; each call reads the desktop's application registry.

// Whether the desktop can open the URL `urlText`; false when the text is no
// valid URL.
bool canOpenURLScheme(const std::string& urlText);

bool googleMapsInstalled();
bool magicEarthInstalled();
bool osmAndInstalled();
bool signalInstalled();
bool uberInstalled();
bool wazeInstalled();
bool whatsAppInstalled();

// The names of the installed ones, in the order of probedApplications,
// joined by "," without blanks: "signal,whatsapp"; "" when none is.
std::string installedAppsList();

// The probed applications: the test URL asked about, and the name the list uses.
struct ProbedApplication {
    const char* testURL;
    const char* listName;
};
inline constexpr std::array<ProbedApplication, 7> probedApplications = {{
    {"comgooglemaps://test/", "googlemaps"},
    {"magicearth://test/", "magicearth"},
    {"osmandmaps://test/", "osmandmaps"},
    {"sgnl://test/", "signal"},
    {"uber://test/", "uber"},
    {"waze://test/", "waze"},
    {"whatsapp://test/", "whatsapp"},
}};

}  // namespace tervolo::appinfo
