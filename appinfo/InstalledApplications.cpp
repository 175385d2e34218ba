#include "appinfo/InstalledApplications.hpp"

#include "platform/foundation/CanOpenURL.hpp"

namespace tervolo::appinfo {

namespace {

bool probe(size_t index) {
    return canOpenURLScheme(probedApplications[index].testURL);
}

}  // namespace

bool canOpenURLScheme(const std::string& urlText) {
    // canOpenURL answers false for text that is no valid URL.
    return platform::canOpenURL(urlText);
}

bool googleMapsInstalled() {
    return probe(0);
}

bool magicEarthInstalled() {
    return probe(1);
}

bool osmAndInstalled() {
    return probe(2);
}

bool signalInstalled() {
    return probe(3);
}

bool uberInstalled() {
    return probe(4);
}

bool wazeInstalled() {
    return probe(5);
}

bool whatsAppInstalled() {
    return probe(6);
}

std::string installedAppsList() {
    std::string list;
    for (const ProbedApplication& application : probedApplications) {
        if (!canOpenURLScheme(application.testURL)) continue;
        if (!list.empty()) list += ",";
        list += application.listName;
    }
    return list;
}

}  // namespace tervolo::appinfo
