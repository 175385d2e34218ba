#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::testsupport {

// A desktop application registry of the test's own, so that URL handler
// questions (platform::canOpenURL) see only what the test installs: while
// alive, XDG_DATA_DIRS and XDG_CONFIG_DIRS point at the folders "sys-data"
// and "sys-config" of `folder`, and XDG_CURRENT_DESKTOP at `desktop` (unset
// when empty); the user's folders are the temporary folder's own data and
// config homes. The variables are put back afterwards.
//
// Create it after the TemporaryFolder and before threads start; it must not
// outlive the folder.
class FakeDesktopApplications {
  public:
    enum class Place { user, system };

    explicit FakeDesktopApplications(const TemporaryFolder& folder, const std::string& desktop = "");
    ~FakeDesktopApplications();
    FakeDesktopApplications(const FakeDesktopApplications&) = delete;
    FakeDesktopApplications& operator=(const FakeDesktopApplications&) = delete;

    // Writes the desktop entry `id` ("signal.desktop") of an application that
    // claims "x-scheme-handler/<scheme>" for each of `schemes`.
    void installApplication(const std::string& id, const std::vector<std::string>& schemes,
                            Place place = Place::user);
    // Writes `text` to a file below the user's or the system's "applications"
    // folder ("mimeapps.list", "sub/x.desktop"), making folders on the way.
    void writeApplicationsFile(const std::string& relative, const std::string& text,
                               Place place = Place::user);
    // Writes `text` to a file below the user's or the system's config folder.
    void writeConfigFile(const std::string& relative, const std::string& text, Place place = Place::user);

    std::string applicationsFolder(Place place) const;
    std::string configFolder(Place place) const;

  private:
    static void writeFile(const std::string& path, const std::string& text);

    const TemporaryFolder& folder_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace tervolo::testsupport
