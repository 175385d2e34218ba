#include "backend/QuovaDeviceManager.hpp"

#include "backend/BackendHosts.hpp"
#include "backend/DecimalText.hpp"
#include "backend/DeviceRegistration.hpp"
#include "backend/QuovaAnalytics.hpp"
#include "backend/QuovaIssueDisplayManager.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/text/Unicode.hpp"

namespace tervolo::backend {

namespace {

// The URL loading system's code for a failed secure connection.
constexpr int64_t kSecureConnectionFailed = -1200;

QuovaDeviceManager::Dependencies applicationDependencies() {
    QuovaDeviceManager::Dependencies dependencies;
    dependencies.apiBaseURL = &BackendHosts::apiBaseURL;
    dependencies.deviceInformation = &DeviceInformation::current;
    dependencies.trackEvent = [](const std::string& name,
                                 const std::map<std::string, std::string>& properties) {
        QuovaAnalytics::shared().trackEvent(name, properties);
    };
    dependencies.showTamperedCertAlert = [](std::string title) {
        QuovaIssueDisplayManager::shared().showUserInfoTamperedCert(std::move(title));
    };
    return dependencies;
}

std::string utf8TextOrNone(const std::vector<uint8_t>& data) {
    std::string text(data.begin(), data.end());
    // The server's text, one line whatever it holds.
    return platform::text::isValidUTF8(text) ? logging::debugQuoted(text) : "none";
}

}  // namespace

platform::URLSessionConfiguration QuovaDeviceManager::defaultSessionConfiguration() {
    return apiSessionConfiguration(15.0);
}

QuovaDeviceManager& QuovaDeviceManager::shared() {
    static QuovaDeviceManager* instance = [] {
        // Held for the life of the process, as its heartbeat is.
        // A static holder: the process keeps reaching it, so leak checks see no lost block.
        static auto* holder = new std::shared_ptr<QuovaDeviceManager>(make(applicationDependencies()));
        platform::OSLog::defaultLog()->write(platform::OSLogType::Default, "Initializing QuovaDeviceManager");
        return holder->get();
    }();
    return *instance;
}

std::shared_ptr<QuovaDeviceManager> QuovaDeviceManager::make(Dependencies dependencies) {
    std::shared_ptr<QuovaDeviceManager> manager(new QuovaDeviceManager(std::move(dependencies)));
    manager->startHeartbeat();
    return manager;
}

QuovaDeviceManager::QuovaDeviceManager(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
    QLLogInfo("Init shared device manager.");
    session_ = platform::URLSession::make(dependencies_.sessionConfiguration);
}

QuovaDeviceManager::~QuovaDeviceManager() {
    if (heartbeatTimer_) heartbeatTimer_->invalidate();
}

void QuovaDeviceManager::startHeartbeat() {
    // The shared manager lives for the whole process, so a weak reference
    // keeps it exactly as alive as a strong one would; managers made for
    // tests can still go away.
    std::weak_ptr<QuovaDeviceManager> weak = weak_from_this();
    heartbeatTimer_ = platform::Timer::scheduled(heartbeatInterval, true, [weak](platform::Timer& timer) {
        if (auto manager = weak.lock()) manager->heartbeat(timer);
    });
}

void QuovaDeviceManager::heartbeat(platform::Timer&) {
    if (const auto identifier = deviceID()) {
        QLLogInfo("heartbeat: found device ID " + std::to_string(*identifier));
        return;
    }
    QLLogInfo("heartbeat: no device ID found");
    if (registrationTask_) {
        QLLogInfo("device registration already underway");
        return;
    }
    QLLogInfo("starting device registration");
    registerWithBackend();
}

void QuovaDeviceManager::registerWithBackend() {
    if (!platform::isMainThread()) {
        std::weak_ptr<QuovaDeviceManager> weak = weak_from_this();
        platform::DispatchQueue::main()->async([weak] {
            if (auto manager = weak.lock()) manager->registerWithBackend();
        });
        return;
    }
    if (registrationTask_) return;

    std::vector<uint8_t> body;
    try {
        const auto registration =
            DeviceRegistration::make(dependencies_.deviceInformation(), apnsToken().value_or(""));
        body = platform::JSONEncoder().encode(registration);
    } catch (const std::exception&) {
        return;  // nothing sent, nothing stored: the next tick tries again
    }
    platform::URLRequest request(dependencies_.apiBaseURL() + "/apps/api/device");
    request.httpMethod = "POST";
    request.timeoutInterval = 60.0;
    request.setValue("application/json", "Content-Type");
    if (!session_) return;

    std::weak_ptr<QuovaDeviceManager> weak = weak_from_this();
    registrationTask_ = session_->uploadTask(
        std::move(request), std::move(body),
        [weak](std::optional<std::vector<uint8_t>> data, std::optional<platform::HTTPURLResponse> response,
               std::optional<platform::Error> error) {
            auto manager = weak.lock();
            if (!manager) return;
            std::optional<std::string> responseText;
            if (response) responseText = response->description();
            manager->handleReply(std::move(data), responseText, std::move(error));
        });
    registrationTask_->resume();
}

void QuovaDeviceManager::handleReply(std::optional<std::vector<uint8_t>> data,
                                     const std::optional<std::string>& responseText,
                                     std::optional<platform::Error> error) {
    std::string dataText = "none";
    std::optional<DeviceRegistrationResult> result;
    if (data) {
        dataText = utf8TextOrNone(*data);
        try {
            result = platform::JSONDecoder().decode<DeviceRegistrationResult>(*data);
        } catch (const std::exception&) {
            // An unreadable reply counts as no result; the lines below say so.
        }
    }
    QLLogInfo("Device registration returned data: " + dataText);
    QLLogInfo("result: " + (result ? logging::debugQuoted(result->deviceID) : std::string("none")));
    QLLogInfo("response: " + (responseText ? logging::debugQuoted(*responseText) : std::string("none")));

    std::optional<Values> parsed;
    if (error) {
        handleDeviceRegistrationError(*error);
    } else if (result) {
        const auto identifier = parseDecimalText(result->deviceID);
        if (identifier && *identifier >= 1) {
            parsed = Values{*identifier, parseDecimalText(result->updateCount).value_or(0),
                            parseDecimalText(result->testlevel).value_or(0),
                            parseDecimalText(result->pushlevel).value_or(0)};
        }
    }

    // Stored on the main queue in the same step that ends the request, so the
    // heartbeat never sees a finished request without its values.
    std::weak_ptr<QuovaDeviceManager> weak = weak_from_this();
    platform::DispatchQueue::main()->async([weak, parsed] {
        auto manager = weak.lock();
        if (!manager) return;
        if (parsed) {
            {
                std::lock_guard lock(manager->mutex_);
                manager->values_ = parsed;
            }
            QLLogInfo("registration successful, found device ID " + std::to_string(parsed->deviceID) +
                      " with " + std::to_string(parsed->updateCount) + " updates.");
            if (manager->dependencies_.trackEvent) {
                manager->dependencies_.trackEvent("deviceRegistered",
                                                  {{"deviceID", std::to_string(parsed->deviceID)},
                                                   {"updateCount", std::to_string(parsed->updateCount)},
                                                   {"testlevel", std::to_string(parsed->testlevel)},
                                                   {"pushlevel", std::to_string(parsed->pushlevel)}});
            }
        }
        manager->registrationTask_.reset();
    });
}

void QuovaDeviceManager::handleDeviceRegistrationError(const platform::Error& error) {
    QLLogInfo("error: " + error.description);
    if (error.code == kSecureConnectionFailed && dependencies_.showTamperedCertAlert) {
        dependencies_.showTamperedCertAlert(error.description);
    }
}

void QuovaDeviceManager::setApnsToken(std::optional<std::string> token) {
    std::lock_guard lock(mutex_);
    apnsToken_ = std::move(token);
}

std::optional<std::string> QuovaDeviceManager::apnsToken() const {
    std::lock_guard lock(mutex_);
    return apnsToken_;
}

std::optional<int64_t> QuovaDeviceManager::deviceID() const {
    std::lock_guard lock(mutex_);
    return values_ ? std::optional<int64_t>(values_->deviceID) : std::nullopt;
}
std::optional<int64_t> QuovaDeviceManager::updateCount() const {
    std::lock_guard lock(mutex_);
    return values_ ? std::optional<int64_t>(values_->updateCount) : std::nullopt;
}
std::optional<int64_t> QuovaDeviceManager::testlevel() const {
    std::lock_guard lock(mutex_);
    return values_ ? std::optional<int64_t>(values_->testlevel) : std::nullopt;
}
std::optional<int64_t> QuovaDeviceManager::pushlevel() const {
    std::lock_guard lock(mutex_);
    return values_ ? std::optional<int64_t>(values_->pushlevel) : std::nullopt;
}

bool QuovaDeviceManager::isRegistering() const {
    return registrationTask_ != nullptr;
}

}  // namespace tervolo::backend
