#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Opens a URL with the desktop's handler for its scheme (the browser, the
// mail program for "mailto:"), through QDesktopServices. While an
// OpenURLRecorder lives, URLs are recorded instead of opened. Main thread only.
class OpenURL {
  public:
    // The completion gets whether a handler took the URL; it runs on the main
    // thread, never inside the call (the platform reports asynchronously).
    static void open(const std::string& url, std::function<void(bool success)> completion = {});
};

// A test hook: records the URLs OpenURL::open gets while it lives (answering
// `succeeds` to them) and opens none. Main thread only.
class OpenURLRecorder {
  public:
    explicit OpenURLRecorder(bool succeeds = true);
    ~OpenURLRecorder();
    OpenURLRecorder(const OpenURLRecorder&) = delete;
    OpenURLRecorder& operator=(const OpenURLRecorder&) = delete;

    const std::vector<std::string>& urls() const { return urls_; }

  private:
    friend class OpenURL;
    OpenURLRecorder* previous_;
    bool succeeds_;
    std::vector<std::string> urls_;
};

}  // namespace platform
