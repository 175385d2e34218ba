#include "testsupport/FakeDesktopApplications.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tervolo::testsupport {

FakeDesktopApplications::FakeDesktopApplications(const TemporaryFolder& folder, const std::string& desktop)
    : folder_(folder) {
    const std::pair<const char*, std::optional<std::string>> values[] = {
        {"XDG_DATA_DIRS", folder.file("sys-data")},
        {"XDG_CONFIG_DIRS", folder.file("sys-config")},
        {"XDG_CURRENT_DESKTOP", desktop.empty() ? std::nullopt : std::optional<std::string>(desktop)},
    };
    for (const auto& [variable, value] : values) {
        const char* previous = std::getenv(variable);
        saved_[variable] = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
        if (value) {
            ::setenv(variable, value->c_str(), 1);
        } else {
            ::unsetenv(variable);
        }
    }
    std::filesystem::create_directories(applicationsFolder(Place::user));
    std::filesystem::create_directories(applicationsFolder(Place::system));
    std::filesystem::create_directories(configFolder(Place::system));
}

FakeDesktopApplications::~FakeDesktopApplications() {
    for (const auto& [variable, previous] : saved_) {
        if (previous) {
            ::setenv(variable.c_str(), previous->c_str(), 1);
        } else {
            ::unsetenv(variable.c_str());
        }
    }
}

std::string FakeDesktopApplications::applicationsFolder(Place place) const {
    return (place == Place::user ? folder_.dataHome() : folder_.file("sys-data")) + "/applications";
}

std::string FakeDesktopApplications::configFolder(Place place) const {
    return place == Place::user ? folder_.configHome() : folder_.file("sys-config");
}

void FakeDesktopApplications::installApplication(const std::string& id,
                                                 const std::vector<std::string>& schemes, Place place) {
    std::string types;
    for (const std::string& scheme : schemes) types += "x-scheme-handler/" + scheme + ";";
    const std::string name = id.substr(0, id.find('.'));
    writeApplicationsFile(id,
                          "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=" +
                              name +
                              "\n"
                              "Exec=/usr/bin/" +
                              name +
                              " %u\n"
                              "MimeType=" +
                              types + "\n",
                          place);
}

void FakeDesktopApplications::writeApplicationsFile(const std::string& relative, const std::string& text,
                                                    Place place) {
    writeFile(applicationsFolder(place) + "/" + relative, text);
}

void FakeDesktopApplications::writeConfigFile(const std::string& relative, const std::string& text,
                                              Place place) {
    writeFile(configFolder(place) + "/" + relative, text);
}

void FakeDesktopApplications::writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace tervolo::testsupport
