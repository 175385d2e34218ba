#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appinfo/InstalledApplications.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::appinfo {
namespace {

using testsupport::FakeDesktopApplications;
using Place = FakeDesktopApplications::Place;

class InstalledApplicationsTest : public ::testing::Test {
  protected:
    // The seven probes with the scheme each asks about, in table order.
    struct Probe {
        bool (*installed)();
        const char* scheme;
    };
    static constexpr Probe probes_[] = {
        {&googleMapsInstalled, "comgooglemaps"},
        {&magicEarthInstalled, "magicearth"},
        {&osmAndInstalled, "osmandmaps"},
        {&signalInstalled, "sgnl"},
        {&uberInstalled, "uber"},
        {&wazeInstalled, "waze"},
        {&whatsAppInstalled, "whatsapp"},
    };

    testsupport::TemporaryFolder folder_;
    FakeDesktopApplications apps_{folder_};
};

TEST_F(InstalledApplicationsTest, NothingInstalledGivesAnEmptyList) {
    EXPECT_EQ(installedAppsList(), "");
    for (const auto& probe : probes_) {
        SCOPED_TRACE(probe.scheme);
        EXPECT_FALSE(probe.installed());
    }
}

TEST_F(InstalledApplicationsTest, SignalAndWhatsAppAreListedByTheirNames) {
    apps_.installApplication("org.signal.Signal.desktop", {"sgnl", "signalcaptcha"});
    apps_.installApplication("whatsapp.desktop", {"whatsapp"}, Place::system);
    EXPECT_EQ(installedAppsList(), "signal,whatsapp");
    EXPECT_TRUE(signalInstalled());
    EXPECT_TRUE(whatsAppInstalled());
    EXPECT_FALSE(wazeInstalled());
}

TEST_F(InstalledApplicationsTest, EachProbeAsksItsOwnSchemeAndTheListKeepsTableOrder) {
    // Installed in reverse order: the list still follows the table.
    std::vector<std::string> installed;
    for (size_t i = std::size(probes_); i-- > 0;) {
        const std::string id = std::string(probes_[i].scheme) + ".desktop";
        apps_.installApplication(id, {probes_[i].scheme});
        for (size_t k = 0; k < std::size(probes_); ++k) {
            SCOPED_TRACE(std::string(probes_[i].scheme) + " installed, asking " + probes_[k].scheme);
            EXPECT_EQ(probes_[k].installed(), k >= i);
        }
    }
    EXPECT_EQ(installedAppsList(), "googlemaps,magicearth,osmandmaps,signal,uber,waze,whatsapp");
    ASSERT_EQ(probedApplications.size(), std::size(probes_));
    for (size_t i = 0; i < std::size(probes_); ++i) {
        EXPECT_EQ(std::string(probedApplications[i].testURL), std::string(probes_[i].scheme) + "://test/");
    }
}

TEST_F(InstalledApplicationsTest, RemovedAssociationHidesItsEntry) {
    apps_.installApplication("signal.desktop", {"sgnl"}, Place::system);
    apps_.installApplication("whatsapp.desktop", {"whatsapp"}, Place::system);
    EXPECT_EQ(installedAppsList(), "signal,whatsapp");
    apps_.writeConfigFile("mimeapps.list", "[Removed Associations]\nx-scheme-handler/sgnl=signal.desktop;\n");
    EXPECT_EQ(installedAppsList(), "whatsapp") << "read afresh: the removal counts at once";
    EXPECT_FALSE(signalInstalled());
}

TEST_F(InstalledApplicationsTest, MalformedOrOversizedEntriesAreSkipped) {
    apps_.writeApplicationsFile("signal.desktop",
                                "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/sgnl;\n"
                                "this line is no key file line\n");
    apps_.writeApplicationsFile("whatsapp.desktop",
                                "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/whatsapp;\n"
                                "Comment=" +
                                    std::string(80 * 1024, 'w') + "\n");
    apps_.installApplication("waze.desktop", {"waze"});
    EXPECT_EQ(installedAppsList(), "waze");
}

TEST_F(InstalledApplicationsTest, InvalidURLTextIsNeverOpenable) {
    apps_.installApplication("signal.desktop", {"sgnl"});
    EXPECT_TRUE(canOpenURLScheme("sgnl://test/"));
    for (const char* text : {"", "sgnl", "sgnl://te st/", "sgnl://test/\xc3\xa4", "://test/", "sgnl://%G0"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(canOpenURLScheme(text));
    }
    EXPECT_TRUE(canOpenURLScheme("file:///tmp/"));
}

}  // namespace
}  // namespace tervolo::appinfo
