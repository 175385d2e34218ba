#pragma once

#include <map>
#include <optional>
#include <string>

namespace tervolo::testsupport {

// A fresh folder for one test, removed with everything in it at the end
// (folders the test made read-only included).
// While alive, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_CONFIG_HOME and
// XDG_STATE_HOME point at its sub-folders "data", "cache", "config" and
// "state", so the application's documents, caches and preferences land in
// it; the previous values are restored afterwards. UserDefaults::standard()
// is told to read its file again on next use, on entry and on exit, so no
// test sees another's preferences.
//
// Not thread-safe with respect to other environment changes: create it in
// the test body or fixture, before starting threads.
class TemporaryFolder {
  public:
    // The folder is created under `parent` (default: $TMPDIR or /tmp).
    explicit TemporaryFolder(const std::string& parent = {});
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string file(const std::string& relative) const;
    std::string dataHome() const { return path_ + "/data"; }
    std::string cacheHome() const { return path_ + "/cache"; }
    std::string configHome() const { return path_ + "/config"; }
    std::string stateHome() const { return path_ + "/state"; }

  private:
    std::string path_;
    std::map<std::string, std::optional<std::string>> saved_;
};

// Makes `root` and every folder below it writable again (a test may have made
// some read-only), so that they can be removed. The code under test may still
// be removing files in there on a thread of its own (a cache cleared in the
// background): entries that vanish meanwhile are passed over, never thrown.
void makeFoldersWritable(const std::string& root);

}  // namespace tervolo::testsupport
