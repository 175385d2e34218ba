#include "backend/QuovaVersionChecker.hpp"

#include <memory>

#include "backend/BackendHosts.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/URLSession.hpp"

namespace tervolo::backend {

namespace {

// Everything but RFC 3986's unreserved characters is escaped, so a version
// text can never end the query value early or add a parameter.
std::string percentEncoded(const std::string& text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

void deliverOnMain(const QuovaVersionChecker::Delivery& deliver, std::optional<AppVersionInfo> info) {
    platform::DispatchQueue::main()->async([deliver, info = std::move(info)] { deliver(info); });
}

}  // namespace

QuovaVersionChecker::QuovaVersionChecker(std::string urlString) : urlString_(std::move(urlString)) {}

std::string QuovaVersionChecker::defaultURLString() {
    return BackendHosts::productWebBaseURL() + "/tervolo-ng/MacVersion.json";
}

std::string QuovaVersionChecker::requestURLString() const {
    return urlString_ + "?version=" + percentEncoded(ApplicationVersion::current().text);
}

void QuovaVersionChecker::loadVersionInfo(Delivery deliver) const {
    auto configuration = platform::URLSessionConfiguration::defaultConfiguration();
    configuration.timeoutIntervalForRequest = 60.0;
    configuration.networkServiceType = 6;  // responsive data
    configuration.maximumResponseBytes = maximumDocumentBytes;
    // The document names pages the program opens: it must come from the
    // configured server itself.
    configuration.redirectsStayOnHost = true;

    const std::string urlText = requestURLString();
    auto request = platform::URLRequest::make(urlText);
    if (!request) {
        QLLogError("Can't create version check URL.");
        deliverOnMain(deliver, std::nullopt);
        return;
    }
    QLLogInfo("Trying to download version info.");
    // One session serves every check and is never destroyed: tearing a
    // session down from its own completion would race with its queue.
    auto& session = platform::SharedInstance<std::shared_ptr<platform::URLSession>, QuovaVersionChecker>::get(
        [&] { return new std::shared_ptr<platform::URLSession>(platform::URLSession::make(configuration)); });
    auto task = session->dataTask(std::move(*request), [deliver](
                                                           std::optional<std::vector<uint8_t>> data,
                                                           std::optional<platform::HTTPURLResponse> response,
                                                           std::optional<platform::Error> error) {
        std::optional<AppVersionInfo> info;
        if (error) {
            QLLogInfo("Error when loading / decoding version info: " +
                      logging::debugQuoted(error->description));
        } else {
            // The header values are the server's text: quoted, so none can
            // end the record and forge the next.
            QLLogInfo("Version info download response: " +
                      (response ? logging::debugQuoted(response->description()) : std::string("none")));
            try {
                info = platform::JSONDecoder().decode<AppVersionInfo>(data.value_or(std::vector<uint8_t>{}));
                QLLogInfo("Version info: " + logging::debugQuoted(info->description()));
            } catch (const std::exception& decodingError) {
                QLLogInfo(std::string("Error when loading / decoding version info: ") +
                          logging::debugQuoted(decodingError.what()));
            }
        }
        deliverOnMain(deliver, std::move(info));
    });
    task->resume();
}

bool QuovaVersionChecker::compareVersions(const AppVersionInfo& info, const ApplicationVersion& running) {
    const VersionInfo& document = info.currentVersion;
    const std::pair<int64_t, uint64_t> components[] = {
        {document.major, running.major},
        {document.minor, running.minor},
        {document.patch, running.patch},
        {document.build, running.build},
    };
    for (const auto& [mine, theirs] : components) {
        if (mine < 0) break;  // older than any application value
        const auto value = static_cast<uint64_t>(mine);
        if (value > theirs) return true;
        if (value < theirs) break;
    }
    // The server's version is read as numbers: its text holds nothing else.
    QLLogInfo("Found app version " + running.text + " to be newer as or identical to server version " +
              document.description());
    return false;
}

bool QuovaVersionChecker::compareVersions(const AppVersionInfo& info) {
    return compareVersions(info, ApplicationVersion::current());
}

}  // namespace tervolo::backend
