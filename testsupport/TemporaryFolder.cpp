#include "testsupport/TemporaryFolder.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::testsupport {

namespace {

const char* const kVariables[][2] = {
    {"XDG_DATA_HOME", "/data"},
    {"XDG_CACHE_HOME", "/cache"},
    {"XDG_CONFIG_HOME", "/config"},
    {"XDG_STATE_HOME", "/state"},
};

}  // namespace

TemporaryFolder::TemporaryFolder(const std::string& parent) {
    const std::string base =
        parent.empty() ? platform::FileManager::defaultManager().temporaryDirectory() : parent;
    std::string pattern = base + "/tervolo-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a folder in " + base);
    path_ = pattern;
    for (const auto& [variable, sub] : kVariables) {
        const char* previous = std::getenv(variable);
        saved_[variable] = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
        const std::string folder = path_ + sub;
        ::mkdir(folder.c_str(), 0700);
        ::setenv(variable, folder.c_str(), 1);
    }
    platform::UserDefaults::standard().reload();
}

TemporaryFolder::~TemporaryFolder() {
    for (const auto& [variable, previous] : saved_) {
        if (previous) {
            ::setenv(variable.c_str(), previous->c_str(), 1);
        } else {
            ::unsetenv(variable.c_str());
        }
    }
    platform::UserDefaults::standard().reload();
    std::error_code ignored;
    // A test may have made folders read-only; they must be writable again to be removed.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored)) {
        if (entry.is_directory(ignored)) ::chmod(entry.path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryFolder::file(const std::string& relative) const {
    return path_ + "/" + relative;
}

}  // namespace tervolo::testsupport
