#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/CanOpenURL.hpp"
#include "platform/foundation/DesktopKeyFile.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace {

using tervolo::testsupport::FakeDesktopApplications;
using tervolo::testsupport::TemporaryFolder;
using Place = FakeDesktopApplications::Place;

TEST(DesktopKeyFileTest, ReadsGroupsKeysAndListsAndRefusesWhatIsNotAKeyFile) {
    const auto file = platform::DesktopKeyFile::parse(
        "# comment\n"
        "\n"
        "[Desktop Entry]\r\n"
        "Type = Application\n"
        "Name[de]=Signal\n"
        "MimeType=x-scheme-handler/sgnl;;x-scheme-handler/signalcaptcha;\n"
        "Type=Link\n"
        "[Default Applications]\n"
        "x-scheme-handler/sgnl=signal.desktop\n");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->groupNames(), (std::vector<std::string>{"Desktop Entry", "Default Applications"}));
    EXPECT_EQ(file->value("Desktop Entry", "Type"), "Application")
        << "blanks around = and the first of a repeat";
    EXPECT_EQ(file->value("Desktop Entry", "Name[de]"), "Signal");
    EXPECT_EQ(file->list("Desktop Entry", "MimeType"),
              (std::vector<std::string>{"x-scheme-handler/sgnl", "x-scheme-handler/signalcaptcha"}));
    EXPECT_EQ(file->list("Default Applications", "x-scheme-handler/sgnl"),
              (std::vector<std::string>{"signal.desktop"}));
    EXPECT_FALSE(file->value("Desktop Entry", "Exec").has_value());
    EXPECT_EQ(file->group("Nowhere"), nullptr);

    const char* refused[] = {
        "Type=Application\n[Desktop Entry]\n",         // a pair before any group
        "[Desktop Entry]\nthis line has no equals\n",  // neither header nor pair
        "[Desktop Entry\nType=Application\n",          // unclosed header
        "[Desktop [Entry]]\n",                         // brackets inside a header
        "[]\n",                                        // empty group name
        "[A]\nX=1\n[A]\nY=2\n",                        // a group twice
        "[A]\n=value\n",                               // no key
        "[A]\nName=\xff\xfe\n",                        // not UTF-8
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(platform::DesktopKeyFile::parse(text).has_value());
    }
    EXPECT_FALSE(platform::DesktopKeyFile::parse(std::string("[A]\nX=a\0b\n", 11)).has_value()) << "NUL byte";
    EXPECT_TRUE(platform::DesktopKeyFile::parse("").has_value()) << "an empty file is a file without groups";
}

TEST(CanOpenURLTest, SchemeOfWellFormedURLTextOnly) {
    struct Case {
        const char* text;
        std::optional<std::string> scheme;
    };
    const Case cases[] = {
        {"sgnl://test/", "sgnl"},
        {"SGNL://test/", "sgnl"},
        {"comgooglemaps://test/", "comgooglemaps"},
        {"osm+x-1.a:path", "osm+x-1.a"},
        {"mailto:a@example.invalid", "mailto"},
        {"https://example.invalid/a%20b?q=1#f", "https"},
        {"", std::nullopt},
        {"no scheme at all", std::nullopt},
        {"//host/path", std::nullopt},
        {"1abc://x", std::nullopt},
        {":x", std::nullopt},
        {"http://exa mple.invalid/", std::nullopt},
        {"http://example.invalid/%zz", std::nullopt},
        {"http://example.invalid/%4", std::nullopt},
        {"http://example.invalid/\xc3\xa4", std::nullopt},
        {"http://example.invalid/<x>", std::nullopt},
        {"sg_nl://test/", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(platform::urlScheme(c.text), c.scheme);
    }
}

class DesktopRegistryTest : public ::testing::Test {
  protected:
    TemporaryFolder folder_;
    FakeDesktopApplications apps_{folder_};
};

TEST_F(DesktopRegistryTest, FileAlwaysOpensInvalidTextNeverAndOtherSchemesNeedAClaim) {
    EXPECT_TRUE(platform::canOpenURL("file:///etc/hostname"));
    EXPECT_FALSE(platform::canOpenURL("sgnl://test/"));
    EXPECT_FALSE(platform::canOpenURL("https://example.invalid/"))
        << "nothing is installed in the fake registry";
    apps_.installApplication("signal.desktop", {"sgnl"});
    EXPECT_TRUE(platform::canOpenURL("sgnl://test/")) << "seen at the next call, without a restart";
    EXPECT_TRUE(platform::canOpenURL("SGNL://other"));
    EXPECT_FALSE(platform::canOpenURL("sgnl://te st/"));
    EXPECT_FALSE(platform::canOpenURL("whatsapp://test/"));
}

TEST_F(DesktopRegistryTest, EachWayOfClaimingASchemeCounts) {
    struct Case {
        const char* name;
        std::function<void(FakeDesktopApplications&)> setUp;
        bool handled;
    };
    const std::string plainEntry = "[Desktop Entry]\nType=Application\nName=Waze\nExec=waze %u\n";
    const Case cases[] = {
        {"MimeType line in the system folder",
         [](auto& a) { a.installApplication("waze.desktop", {"waze"}, Place::system); }, true},
        {"entry in a sub-folder is found by its dashed identifier",
         [&](auto& a) {
             a.writeApplicationsFile("vendor/waze.desktop", plainEntry);
             a.writeApplicationsFile("mimeapps.list",
                                     "[Added Associations]\nx-scheme-handler/waze=vendor-waze.desktop;\n");
         },
         true},
        {"mimeinfo.cache names an installed entry",
         [&](auto& a) {
             a.writeApplicationsFile("waze.desktop", plainEntry, Place::system);
             a.writeApplicationsFile("mimeinfo.cache", "[MIME Cache]\nx-scheme-handler/waze=waze.desktop;\n",
                                     Place::system);
         },
         true},
        {"mimeinfo.cache names an entry that is not installed",
         [](auto& a) {
             a.writeApplicationsFile("mimeinfo.cache", "[MIME Cache]\nx-scheme-handler/waze=waze.desktop;\n",
                                     Place::system);
         },
         false},
        {"added association in the user's config mimeapps.list",
         [&](auto& a) {
             a.writeApplicationsFile("waze.desktop", plainEntry);
             a.writeConfigFile("mimeapps.list", "[Added Associations]\nx-scheme-handler/waze=waze.desktop\n");
         },
         true},
        {"default application in the system config",
         [&](auto& a) {
             a.writeApplicationsFile("waze.desktop", plainEntry, Place::system);
             a.writeConfigFile("mimeapps.list",
                               "[Default Applications]\nx-scheme-handler/waze=waze.desktop\n", Place::system);
         },
         true},
        {"association to an entry that does not exist",
         [](auto& a) {
             a.writeConfigFile("mimeapps.list", "[Added Associations]\nx-scheme-handler/waze=waze.desktop\n");
         },
         false},
        {"removed association in the user's config hides the system's claim",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.writeConfigFile("mimeapps.list",
                               "[Removed Associations]\nx-scheme-handler/waze=waze.desktop;\n");
         },
         false},
        {"removed association hides only its own entry",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.installApplication("other.desktop", {"waze"}, Place::system);
             a.writeConfigFile("mimeapps.list",
                               "[Removed Associations]\nx-scheme-handler/waze=waze.desktop;\n");
         },
         true},
        {"an earlier file's addition stands against a later file's removal",
         [&](auto& a) {
             a.writeApplicationsFile("waze.desktop", plainEntry, Place::system);
             a.writeConfigFile("mimeapps.list", "[Added Associations]\nx-scheme-handler/waze=waze.desktop\n");
             a.writeConfigFile("mimeapps.list",
                               "[Removed Associations]\nx-scheme-handler/waze=waze.desktop\n", Place::system);
         },
         true},
        {"hidden user entry shadows the system's",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.writeApplicationsFile("waze.desktop",
                                     "[Desktop Entry]\nType=Application\nName=W\nHidden=true\n");
         },
         false},
        {"a link is no application",
         [](auto& a) {
             a.writeApplicationsFile(
                 "waze.desktop",
                 "[Desktop Entry]\nType=Link\nURL=https://x.invalid/\nMimeType=x-scheme-handler/waze;\n");
         },
         false},
        {"malformed user entry is skipped, the system's counts",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.writeApplicationsFile("waze.desktop", "MimeType=x-scheme-handler/waze;\n[Desktop Entry]\n");
         },
         true},
        {"malformed entry alone",
         [](auto& a) {
             a.writeApplicationsFile(
                 "waze.desktop",
                 "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/waze;\ngarbage\n");
         },
         false},
        {"oversized entry",
         [](auto& a) {
             a.writeApplicationsFile("waze.desktop",
                                     "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/waze;\n#" +
                                         std::string(70 * 1024, 'x') + "\n");
         },
         false},
        {"entry whose first group is another one",
         [](auto& a) {
             a.writeApplicationsFile(
                 "waze.desktop",
                 "[Other]\nA=1\n[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/waze;\n");
         },
         false},
        {"desktop-specific list is read first",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.writeConfigFile("mimeapps.list", "[Added Associations]\nx-scheme-handler/waze=waze.desktop\n");
             a.writeConfigFile("kde-mimeapps.list",
                               "[Removed Associations]\nx-scheme-handler/waze=waze.desktop\n");
         },
         false},
        {"unreadable list is skipped",
         [](auto& a) {
             a.installApplication("waze.desktop", {"waze"}, Place::system);
             a.writeConfigFile("mimeapps.list/inside", "a folder where the list should be");
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryFolder folder;
        FakeDesktopApplications apps(folder, "KDE");
        c.setUp(apps);
        EXPECT_EQ(platform::canOpenURL("waze://test/"), c.handled);
    }
}

TEST_F(DesktopRegistryTest, UnsetVariablesFallBackToTheHomeFolders) {
    // Without XDG_DATA_HOME the user's entries are under $HOME/.local/share.
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome != nullptr ? savedHome : "";
    const std::string dataHome = std::getenv("XDG_DATA_HOME");
    ::setenv("HOME", folder_.file("home").c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    apps_.writeApplicationsFile(
        "../../home/.local/share/applications/uber.desktop",
        "[Desktop Entry]\nType=Application\nName=U\nMimeType=x-scheme-handler/uber\n");
    const bool handled = platform::canOpenURL("uber://test/");
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    if (savedHome != nullptr) {
        ::setenv("HOME", home.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
    EXPECT_TRUE(handled);
}

}  // namespace
