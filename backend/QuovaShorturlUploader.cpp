#include "backend/QuovaShorturlUploader.hpp"

#include "backend/BackendHosts.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace tervolo::backend {

platform::URLSessionConfiguration QuovaShorturlUploader::defaultSessionConfiguration() {
    return apiSessionConfiguration(7.0);
}

std::shared_ptr<QuovaShorturlUploader> QuovaShorturlUploader::makeDefault() {
    Dependencies dependencies;
    dependencies.apiBaseURL = &BackendHosts::apiBaseURL;
    dependencies.deviceInformation = &DeviceInformation::current;
    dependencies.deviceID = [] { return QuovaDeviceManager::shared().deviceID(); };
    dependencies.mapState = &MapStateSnapshot::current;
    return std::make_shared<QuovaShorturlUploader>(std::move(dependencies));
}

void QuovaShorturlUploader::installInPointStore() {
    points::QuovaMapPointStore::shared().setShorturlUploader(makeDefault());
}

QuovaShorturlUploader::QuovaShorturlUploader(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      encodingSession_(platform::URLSession::make(dependencies_.sessionConfiguration)) {}

QMPUploadRequest QuovaShorturlUploader::uploadRequest(const points::QuovaMapPoint& point) const {
    const DeviceInformation info = dependencies_.deviceInformation();
    QMPUploadRequest body;
    body.device_id = dependencies_.deviceID ? dependencies_.deviceID().value_or(0) : 0;
    body.vendor_id = info.vendorID;
    body.device_hw_details = info.hardwareDescription;
    body.ios_version = info.systemVersion;
    body.app_version = info.appVersion;
    body.title = point.title().value_or("");
    body.longitude = point.coordinate().longitude;
    body.latitude = point.coordinate().latitude;
    const auto state = dependencies_.mapState ? dependencies_.mapState() : std::nullopt;
    if (state) {
        body.maptype = mapTypeLetter(state->mapStyleIndex);
        body.zoom = shareZoomLevel(state->boundsWidthPoints, state->visibleMapWidth);
    } else {
        body.maptype = "s";
        body.zoom = 16;
    }
    body.timestamp = uploadTimestamp(platform::Date::now().secondsSince2001);
    body.dataSourceName = point.dataSourceName().value_or("");
    body.dataSourceUniqueID = point.dataSourceUniqueID().value_or("");
    body.dataSourceURL = point.dataSourceURL().value_or("");
    body.dataSourceImageURL = point.dataSourceImageURL().value_or("");
    return body;
}

std::shared_ptr<void> QuovaShorturlUploader::startUpload(const points::QuovaMapPoint& point,
                                                         Completion completion) {
    std::vector<uint8_t> body;
    try {
        body = platform::JSONEncoder().encode(uploadRequest(point));
    } catch (const std::exception&) {
        return nullptr;  // nothing registered: a waiting share request stops at once
    }
    if (!encodingSession_) return nullptr;
    platform::URLRequest request(dependencies_.apiBaseURL() + "/apps/api/location");
    request.httpMethod = "POST";
    request.timeoutInterval = 60.0;
    request.setValue("application/json", "Content-Type");

    const std::string title = point.title().value_or("(unknown)");
    auto task = encodingSession_->uploadTask(
        std::move(request), std::move(body),
        [title, completion = std::move(completion)](std::optional<std::vector<uint8_t>> data,
                                                    std::optional<platform::HTTPURLResponse> response,
                                                    std::optional<platform::Error> error) {
            std::string text = "none";
            std::optional<QMPUploadResult> result;
            if (data) {
                std::string raw(data->begin(), data->end());
                if (platform::text::isValidUTF8(raw)) text = logging::debugQuoted(raw);
                try {
                    result = platform::JSONDecoder().decode<QMPUploadResult>(*data);
                } catch (const std::exception&) {
                    // Not a reply we can read: the lines below say "no shorturl".
                }
            }
            QLLogInfo("Shorturl encoding returned data: " + text);
            QLLogInfo("result: " +
                      (result ? logging::debugQuoted(result->shorturl) : std::string("no shorturl")));
            QLLogInfo("response: " +
                      (response ? logging::debugQuoted(response->description()) : std::string("none")));
            QLLogInfo("error: " + (error ? logging::debugQuoted(error->description) : std::string("none")));
            if (error) {
                QLLogInfo("upload failed for point " + logging::debugQuoted(title));
                completion(std::nullopt);
                return;
            }
            // An empty link is no link: sharing it would hand the user nothing.
            if (result && !result->shorturl.empty()) {
                completion(result->shorturl);
            } else {
                completion(std::nullopt);
            }
        });
    task->resume();
    return task;
}

}  // namespace tervolo::backend
