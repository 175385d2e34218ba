#include "analytics/TallyFeedbacks.hpp"

#include "analytics/Tally.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/TallyUIPort.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/text/Locale.hpp"

namespace tervolo::analytics {

namespace {

constexpr const char* kSessionCountKey = "kTallyStarRatingStatusSessionCountKey";
constexpr const char* kHasEverAskedKey = "kTallyStarRatingStatusHasEverAskedAutomatically";

TallySingleton<TallyFeedbacks>& feedbacksSlot() {
    return platform::SharedInstance<TallySingleton<TallyFeedbacks>>::get();
}

bool feedbackConsent() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForFeedback();
}

platform::Error clientError(int64_t code, std::string description, const std::string& reply = {}) {
    platform::Error error;
    error.domain = kTallyErrorDomain;
    error.code = code;
    error.description = std::move(description);
    if (!reply.empty()) error.userInfo["reply"] = reply;
    return error;
}

// GET with the query when it is at most 2048 characters and POST is not
// forced; otherwise POST with the query as the body.
platform::URLRequest requestFor(const std::string& base, const std::string& query) {
    auto connection = TallyConnectionManager::sharedInstance();
    platform::URLRequest request(base + "?" + query);
    if (query.size() > 2048 || (connection && connection->alwaysUsePOST())) {
        request.url = base;
        request.httpMethod = "POST";
        request.httpBody.assign(query.begin(), query.end());
    }
    return request;
}

using Reply =
    std::function<void(std::optional<std::string> body, std::optional<platform::HTTPURLResponse> response,
                       std::optional<platform::Error> error)>;

// Sends with the shared session; `reply` runs on the main queue.
void send(platform::URLRequest request, Reply reply) {
    auto task = platform::URLSession::shared().dataTask(
        std::move(request),
        [reply](std::optional<std::vector<uint8_t>> data, std::optional<platform::HTTPURLResponse> response,
                std::optional<platform::Error> error) {
            std::optional<std::string> body;
            if (data) body = std::string(data->begin(), data->end());
            platform::DispatchQueue::main()->async(
                [reply, body, response, error] { reply(body, response, error); });
        });
    task->resume();
}

std::string identityPairs() {
    auto connection = TallyConnectionManager::sharedInstance();
    auto& common = TallyCommon::sharedInstance();
    return "app_key=" + tly_URLEscaped(connection->appKey()) +
           "&device_id=" + tly_URLEscaped(TallyDeviceInfo::sharedInstance().deviceID()) +
           "&sdk_name=" + common.SDKName() + "&sdk_version=" + common.SDKVersion();
}

}  // namespace

std::shared_ptr<TallyFeedbacks> TallyFeedbacks::sharedInstance() {
    return feedbacksSlot().get([] { return new TallyFeedbacks(); });
}

void TallyFeedbacks::resetForTesting() {
    feedbacksSlot().reset();
}

std::string TallyFeedbacks::defaultMessage(const std::string& languageCode) {
    static const std::pair<const char*, const char*> texts[] = {
        {"en", "How would you rate the app?"},    {"tr", "Uygulamayı nasıl değerlendirirsiniz?"},
        {"ja", "あなたの評価を教えてください。"}, {"zh", "请告诉我你的评价。"},
        {"ru", "Как бы вы оценили приложение?"},  {"cz", "Jak hodnotíte aplikaci?"},
        {"lv", "Kā Jūs novērtētu šo lietotni?"},  {"bn", "আপনি কিভাবে এই এপ্লিক্যাশনটি মূল্যায়ন করবেন?"},
        {"hi", "आप एप्लीकेशन का मूल्यांकन कैसे करेंगे?"},
    };
    const std::string code = languageCode.substr(0, 2);
    for (const auto& [language, text] : texts) {
        if (code == language) return text;
    }
    return texts[0].second;
}

TallyFeedbacks::TallyFeedbacks() : message_(defaultMessage(platform::text::Locale::current().identifier())) {}

std::string TallyFeedbacks::message() const {
    std::lock_guard lock(mutex_);
    return message_;
}

void TallyFeedbacks::setMessage(const std::optional<std::string>& message) {
    if (!message) return;
    std::lock_guard lock(mutex_);
    message_ = *message;
}

void TallyFeedbacks::setSessionCount(uint64_t count) {
    std::lock_guard lock(mutex_);
    sessionCount_ = count;
}

void TallyFeedbacks::setDisableAskingForEachAppVersion(bool v) {
    std::lock_guard lock(mutex_);
    disableAskingForEachAppVersion_ = v;
}

void TallyFeedbacks::setRatingCompletionForAutoAsk(std::function<void(int)> completion) {
    std::lock_guard lock(mutex_);
    ratingCompletionForAutoAsk_ = std::move(completion);
}

void TallyFeedbacks::showDialog(std::function<void(int rating)> completion) {
    if (!feedbackConsent()) return;
    {
        std::lock_guard lock(mutex_);
        ratingCompletion_ = std::move(completion);
    }
    auto port = TallyCommon::sharedInstance().uiPort();
    auto dialog = port ? port->makeStarRatingDialog(message(),
                                                    [](int rating) {
                                                        if (auto feedbacks = TallyFeedbacks::sharedInstance())
                                                            feedbacks->finishWithRating(rating);
                                                    })
                       : nullptr;
    if (!dialog) {
        TallyLog(TallyLogLevel::Warning,
                 "Star-rating dialog can not be shown: this user interface has none.");
        return;
    }
    TallyTryPresentingViewController(dialog);
}

void TallyFeedbacks::finishWithRating(int rating) {
    std::function<void(int)> completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::exchange(ratingCompletion_, nullptr);
    }
    if (completion) completion(rating);
    if (rating != 0) {
        Tally::sharedInstance().recordReservedEvent(kTallyReservedEventStarRating,
                                                    TallyJSON{{"platform", TallyDeviceInfo::osName()},
                                                              {"app_version", TallyDeviceInfo::appVersion()},
                                                              {"rating", rating}});
    }
}

void TallyFeedbacks::checkForStarRatingAutoAsk() {
    uint64_t sessionCount = 0;
    bool disableForEachVersion = false;
    std::function<void(int)> autoCompletion;
    {
        std::lock_guard lock(mutex_);
        sessionCount = sessionCount_;
        disableForEachVersion = disableAskingForEachAppVersion_;
        autoCompletion = ratingCompletionForAutoAsk_;
    }
    if (sessionCount == 0 || !feedbackConsent()) return;
    TallyJSON status = TallyPersistency::retrieveStarRatingStatus();
    if (disableForEachVersion && status.contains(kHasEverAskedKey)) return;
    const std::string versionKey = kSessionCountKey + TallyDeviceInfo::appVersion();
    // Stored counts come back as signed integers.
    const uint64_t counted = status.contains(versionKey) && status[versionKey].is_number_integer() &&
                                     status[versionKey].get<int64_t>() > 0
                                 ? static_cast<uint64_t>(status[versionKey].get<int64_t>())
                                 : 0;
    if (sessionCount == counted + 1) {
        TallyLog(TallyLogLevel::Debug,
                 "Asking for star-rating as session count reached specified limit {} ...", sessionCount);
        showDialog(autoCompletion);
        status[kHasEverAskedKey] = true;
    }
    status[versionKey] = static_cast<int64_t>(counted + 1);
    TallyPersistency::storeStarRatingStatus(status);
}

platform::URLRequest TallyFeedbacks::feedbacksRequest() const {
    auto connection = TallyConnectionManager::sharedInstance();
    const std::string query = connection->appendChecksum("method=feedback&" + identityPairs());
    return requestFor(connection->host() + "/o/sdk", query);
}

platform::URLRequest TallyFeedbacks::widgetCheckURLRequest(const std::string& widgetID) const {
    auto connection = TallyConnectionManager::sharedInstance();
    // The identifier comes from the caller or the server: escaped, so it
    // cannot add parameters of its own.
    const std::string query =
        connection->appendChecksum(connection->queryEssentials() + "&widget_id=" + tly_URLEscaped(widgetID));
    return requestFor(connection->host() + "/o/feedback/widget", query);
}

std::string TallyFeedbacks::widgetDisplayURL(const std::string& widgetID) const {
    auto connection = TallyConnectionManager::sharedInstance();
    const std::string query =
        connection->appendChecksum(connection->queryEssentials() + "&widget_id=" + tly_URLEscaped(widgetID) +
                                   "&app_version=" + tly_URLEscaped(TallyDeviceInfo::appVersion()));
    return connection->host() + "/feedback?" + query;
}

bool TallyFeedbacks::isDeviceTargetedByWidget(const TallyJSON&) {
    // Targets name phones and tablets; a desktop is neither.
    return false;
}

void TallyFeedbacks::checkFeedbackWidgetWithID(const std::string& widgetID, ErrorCompletion completion) {
    if (!feedbackConsent() || TallyDeviceInfo::sharedInstance().isDeviceIDTemporary() || widgetID.empty())
        return;
    send(widgetCheckURLRequest(widgetID), [widgetID, completion](std::optional<std::string> body,
                                                                 std::optional<platform::HTTPURLResponse>,
                                                                 std::optional<platform::Error> error) {
        std::optional<platform::Error> result = error;
        if (!result) {
            const auto answer = TallyJSON::parse(body.value_or(""), nullptr, false);
            const bool matches = answer.is_object() && answer.contains("_id") && answer["_id"].is_string() &&
                                 answer["_id"].get<std::string>() == widgetID;
            if (!matches) {
                result = clientError(kTallyErrorFeedbackWidgetNotAvailable,
                                     "Feedback widget with ID " + widgetID + " is not available.",
                                     body.value_or(""));
            } else if (!isDeviceTargetedByWidget(answer)) {
                result = clientError(kTallyErrorFeedbackWidgetNotTargetedForDevice,
                                     "Feedback widget with ID " + widgetID +
                                         " does not include this device in target devices list.",
                                     body.value_or(""));
            } else if (auto feedbacks = TallyFeedbacks::sharedInstance()) {
                feedbacks->presentFeedbackWidgetWithID(widgetID, completion);
                return;
            }
        }
        if (completion) completion(result);
    });
}

void TallyFeedbacks::presentFeedbackWidgetWithID(const std::string& widgetID, ErrorCompletion completion) {
    if (auto port = TallyCommon::sharedInstance().uiPort()) port->openURL(widgetDisplayURL(widgetID));
    if (completion) completion(std::nullopt);
}

void TallyFeedbacks::recordRatingWidgetWithID(const std::string& widgetID, int64_t rating,
                                              const std::optional<std::string>& email,
                                              const std::optional<std::string>& comment,
                                              bool userCanBeContacted) {
    if (!feedbackConsent() || widgetID.empty()) return;
    TallyJSON segmentation{{"platform", TallyDeviceInfo::osName()},
                           {"app_version", TallyDeviceInfo::appVersion()},
                           {"rating", rating},
                           {"widget_id", widgetID}};
    if (email) segmentation["email"] = *email;
    if (comment) segmentation["comment"] = *comment;
    segmentation["contactMe"] = userCanBeContacted;
    Tally::sharedInstance().recordReservedEvent(kTallyReservedEventStarRating, segmentation);
}

void TallyFeedbacks::getFeedbackWidgets(
    std::function<void(const std::optional<std::vector<std::shared_ptr<TallyFeedbackWidget>>>&,
                       const std::optional<platform::Error>&)>
        completion) {
    if (!completion || !feedbackConsent() || TallyDeviceInfo::sharedInstance().isDeviceIDTemporary()) return;
    send(feedbacksRequest(), [completion](std::optional<std::string> body,
                                          std::optional<platform::HTTPURLResponse> response,
                                          std::optional<platform::Error> error) {
        if (error) return completion(std::nullopt, error);
        const auto answer = TallyJSON::parse(body.value_or(""), nullptr, false);
        if (!response || response->statusCode() != 200 || !answer.is_object()) {
            return completion(std::nullopt, clientError(kTallyErrorFeedbacksGeneralAPIError,
                                                        "Feedbacks general API error", body.value_or("")));
        }
        std::vector<std::shared_ptr<TallyFeedbackWidget>> widgets;
        if (answer.contains("result") && answer["result"].is_array()) {
            for (const auto& entry : answer["result"]) {
                if (auto widget = TallyFeedbackWidget::createWithDictionary(entry)) widgets.push_back(widget);
            }
        }
        completion(widgets, std::nullopt);
    });
}

std::shared_ptr<TallyFeedbackWidget> TallyFeedbackWidget::createWithDictionary(const TallyJSON& entry) {
    if (!entry.is_object() || !entry.contains("_id") || !entry["_id"].is_string()) return nullptr;
    auto widget = std::make_shared<TallyFeedbackWidget>();
    widget->ID_ = entry["_id"].get<std::string>();
    if (entry.contains("type") && entry["type"].is_string()) widget->type_ = entry["type"].get<std::string>();
    if (entry.contains("name") && entry["name"].is_string()) widget->name_ = entry["name"].get<std::string>();
    return widget;
}

std::optional<TallyJSON> TallyFeedbackWidget::data() const {
    std::lock_guard lock(mutex_);
    return data_;
}

std::string TallyFeedbackWidget::displayURL() const {
    auto connection = TallyConnectionManager::sharedInstance();
    const std::string query = identityPairs() +
                              "&app_version=" + tly_URLEscaped(TallyDeviceInfo::appVersion()) +
                              "&platform=" + TallyDeviceInfo::osName() + "&widget_id=" + tly_URLEscaped(ID_);
    return connection->host() + "/feedback/" + tly_URLEscaped(type_) + "?" + query;
}

platform::URLRequest TallyFeedbackWidget::dataRequest() const {
    auto connection = TallyConnectionManager::sharedInstance();
    auto& common = TallyCommon::sharedInstance();
    const std::string query = connection->appendChecksum(
        "sdk_name=" + common.SDKName() + "&sdk_version=" + common.SDKVersion() +
        "&app_version=" + tly_URLEscaped(TallyDeviceInfo::appVersion()) +
        "&platform=" + TallyDeviceInfo::osName() + "&shown=1&widget_id=" + tly_URLEscaped(ID_));
    return requestFor(connection->host() + "/o/surveys/" + tly_URLEscaped(type_) + "/widget", query);
}

void TallyFeedbackWidget::present() {
    if (!feedbackConsent()) return;
    if (auto port = TallyCommon::sharedInstance().uiPort()) port->openURL(displayURL());
}

void TallyFeedbackWidget::getWidgetData(
    std::function<void(const std::optional<TallyJSON>&, const std::optional<platform::Error>&)> done) {
    send(dataRequest(), [self = shared_from_this(), done](std::optional<std::string> body,
                                                          std::optional<platform::HTTPURLResponse> response,
                                                          std::optional<platform::Error> error) {
        std::optional<TallyJSON> answer;
        if (!error) {
            auto parsed = TallyJSON::parse(body.value_or(""), nullptr, false);
            if (parsed.is_discarded()) {
                error = clientError(kTallyErrorFeedbacksGeneralAPIError, "Feedbacks general API error",
                                    body.value_or(""));
            } else {
                answer = parsed;
                if (!response || response->statusCode() != 200) {
                    error = clientError(kTallyErrorFeedbacksGeneralAPIError, "Feedbacks general API error",
                                        body.value_or(""));
                }
            }
        }
        {
            std::lock_guard lock(self->mutex_);
            self->data_ = answer;
        }
        if (done) done(answer, error);
    });
}

void TallyFeedbackWidget::recordResult(const std::optional<TallyJSON>& result) {
    recordReservedEventWithSegmentation(result && result->is_object() ? *result : TallyJSON{{"closed", 1}});
}

void TallyFeedbackWidget::recordReservedEventWithSegmentation(TallyJSON segmentation) {
    if (!feedbackConsent()) return;
    const char* key = nullptr;
    if (type_ == TLYFeedbackWidgetTypeSurvey) key = kTallyReservedEventSurvey;
    if (type_ == TLYFeedbackWidgetTypeNPS) key = kTallyReservedEventNPS;
    if (key == nullptr) {
        TallyLog(TallyLogLevel::Warning, "Unsupported feedback widget type! Event will not be recorded!");
        return;
    }
    segmentation["platform"] = TallyDeviceInfo::osName();
    segmentation["app_version"] = TallyDeviceInfo::appVersion();
    segmentation["widget_id"] = ID_;
    Tally::sharedInstance().recordReservedEvent(key, segmentation);
    if (auto connection = TallyConnectionManager::sharedInstance()) connection->sendEvents();
}

}  // namespace tervolo::analytics
