#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace tervolo::testsupport {

// Puts a plain file where `folder` is, for as long as it lives, so that every
// write into the folder fails, for root too (tests run as root, whom
// permissions do not stop). The folder itself is kept aside with what it
// holds and put back afterwards, so a test can then read what the files
// still say.
class UnwritableFolder {
  public:
    explicit UnwritableFolder(std::string folder) : folder_(std::move(folder)) {
        // "points/" names the folder too: the plain file takes its name without the slash.
        while (!folder_.empty() && folder_.back() == '/') folder_.pop_back();
        aside_ = folder_ + ".aside";
        std::filesystem::create_directories(folder_);
        std::filesystem::rename(folder_, aside_);
        std::ofstream(folder_) << "";
    }
    ~UnwritableFolder() {
        std::filesystem::remove(folder_);
        std::filesystem::rename(aside_, folder_);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

  private:
    std::string folder_;
    std::string aside_;
};

}  // namespace tervolo::testsupport
