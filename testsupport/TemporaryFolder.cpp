#include "testsupport/TemporaryFolder.hpp"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

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
    makeFoldersWritable(path_);
    // A removal racing with one of the code under test stops at the first
    // entry the other took away under it; the next pass goes on from there.
    // Bounded, should something keep a file from going.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        if (!std::filesystem::exists(path_, ignored) || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::yield();
    }
}

void makeFoldersWritable(const std::string& root) {
    namespace fs = std::filesystem;
    // A walk ends at the first entry that vanished under it (the range-for
    // form would throw from there, out of a destructor): walk again until one
    // gets through (bounded; another thread removing everything ends soon).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::error_code error;
        for (auto it =
                 fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (it->is_directory(ignored)) ::chmod(it->path().c_str(), 0700);
        }
        if (!error || !fs::exists(root, error) || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::yield();
    }
    ::chmod(root.c_str(), 0700);
}

std::string TemporaryFolder::file(const std::string& relative) const {
    return path_ + "/" + relative;
}

}  // namespace tervolo::testsupport
