#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/URLRequest.hpp"

namespace tervolo::analytics {

inline constexpr const char* TLYFeedbackWidgetTypeSurvey = "survey";
inline constexpr const char* TLYFeedbackWidgetTypeNPS = "nps";
inline constexpr int64_t kTallyErrorFeedbackWidgetNotAvailable = 10001;
inline constexpr int64_t kTallyErrorFeedbackWidgetNotTargetedForDevice = 10002;
inline constexpr int64_t kTallyErrorFeedbacksGeneralAPIError = 10012;

// One feedback widget (a survey or an NPS poll) of the server's list.
class TallyFeedbackWidget : public std::enable_shared_from_this<TallyFeedbackWidget> {
  public:
    // None when the entry lacks an "_id" text.
    static std::shared_ptr<TallyFeedbackWidget> createWithDictionary(const TallyJSON& entry);

    const std::string& type() const { return type_; }
    const std::string& ID() const { return ID_; }
    const std::string& name() const { return name_; }
    std::optional<TallyJSON> data() const;

    // Opens the widget's page in the browser (no web engine here).
    void present();
    void getWidgetData(
        std::function<void(const std::optional<TallyJSON>&, const std::optional<platform::Error>&)> done);
    // The user's answers; none records a dismissal.
    void recordResult(const std::optional<TallyJSON>& result);

    platform::URLRequest dataRequest() const;
    std::string displayURL() const;

  private:
    void recordReservedEventWithSegmentation(TallyJSON segmentation);
    std::string type_;
    std::string ID_;
    std::string name_;
    mutable std::mutex mutex_;
    std::optional<TallyJSON> data_;
};

// The star-rating dialog (on request, or after a number of starts of each
// application version) and the server's rating and feedback widgets.
// Requests go out with the shared URL session; completions run on the main
// queue. Widget pages open in the browser; a desktop is neither a phone nor
// a tablet, so no widget targets it.
class TallyFeedbacks {
  public:
    using ErrorCompletion = std::function<void(const std::optional<platform::Error>&)>;

    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyFeedbacks> sharedInstance();
    static void resetForTesting();

    std::string message() const;
    void setMessage(const std::optional<std::string>& message);  // none keeps the text
    void setSessionCount(uint64_t count);
    void setDisableAskingForEachAppVersion(bool v);
    void setRatingCompletionForAutoAsk(std::function<void(int)> completion);
    // The dialog text for a language code ("tr", "cz", ...); English otherwise.
    static std::string defaultMessage(const std::string& languageCode);

    void showDialog(std::function<void(int rating)> completion);
    void finishWithRating(int rating);
    void checkForStarRatingAutoAsk();

    void checkFeedbackWidgetWithID(const std::string& widgetID, ErrorCompletion completion);
    void presentFeedbackWidgetWithID(const std::string& widgetID, ErrorCompletion completion);
    void recordRatingWidgetWithID(const std::string& widgetID, int64_t rating,
                                  const std::optional<std::string>& email,
                                  const std::optional<std::string>& comment, bool userCanBeContacted);
    void getFeedbackWidgets(
        std::function<void(const std::optional<std::vector<std::shared_ptr<TallyFeedbackWidget>>>&,
                           const std::optional<platform::Error>&)>
            completion);

    platform::URLRequest feedbacksRequest() const;
    platform::URLRequest widgetCheckURLRequest(const std::string& widgetID) const;
    std::string widgetDisplayURL(const std::string& widgetID) const;
    static bool isDeviceTargetedByWidget(const TallyJSON& widget);

  private:
    TallyFeedbacks();

    mutable std::mutex mutex_;
    std::string message_;
    uint64_t sessionCount_ = 0;
    bool disableAskingForEachAppVersion_ = false;
    std::function<void(int)> ratingCompletionForAutoAsk_;
    std::function<void(int)> ratingCompletion_;
};

}  // namespace tervolo::analytics
