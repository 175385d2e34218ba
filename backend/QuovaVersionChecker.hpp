#pragma once

#include <functional>
#include <optional>
#include <string>

#include "backend/VersionInfo.hpp"

namespace tervolo::backend {

// Fetches the version document ("/tervolo-ng/MacVersion.json" on the product's
// web server) and tells whether it names a version newer than the running
// one. A checker may be used for any number of checks: the query is added to
// a copy of the address each time, never to the address itself.
class QuovaVersionChecker {
  public:
    using Delivery = std::function<void(std::optional<AppVersionInfo> info)>;

    explicit QuovaVersionChecker(std::string urlString);
    // The document's address on the configured product web server.
    static std::string defaultURLString();

    const std::string& urlString() const { return urlString_; }
    // The address a check loads: urlString + "?version=" + the application
    // version, percent-encoded.
    std::string requestURLString() const;

    // Downloads and decodes the document; `deliver` runs once on the main
    // queue with the document, or with nothing on any failure (each logged).
    void loadVersionInfo(Delivery deliver) const;

    // True when the document's version is newer than `running` (major, minor,
    // patch, build in turn; a negative document component is older than any).
    static bool compareVersions(const AppVersionInfo& info, const ApplicationVersion& running);
    static bool compareVersions(const AppVersionInfo& info);

    static constexpr int64_t maximumDocumentBytes = 64 * 1024;

  private:
    std::string urlString_;
};

}  // namespace tervolo::backend
