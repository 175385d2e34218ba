#include "analytics/TallyViewTracking.hpp"

#include <algorithm>

#include "analytics/Tally.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyEvent.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "analytics/TallyUIPort.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

namespace {

TallySingleton<TallyViewTracking>& viewTrackingSlot() {
    return platform::SharedInstance<TallySingleton<TallyViewTracking>>::get();
}

bool viewTrackingConsentFor(bool (TallyConsentManager::*getter)() const) {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && (consent.get()->*getter)();
}

double now() {
    return platform::Clock::current()->wallSeconds();
}

}  // namespace

std::shared_ptr<TallyViewTracking> TallyViewTracking::sharedInstance() {
    return viewTrackingSlot().get([] { return new TallyViewTracking(); });
}

void TallyViewTracking::resetForTesting() {
    viewTrackingSlot().reset();
}

TallyViewTracking::TallyViewTracking()
    : exceptionViewControllers_{
          "TLYInternalViewController", "UINavigationController", "UIAlertController", "UIPageViewController",
          "UITabBarController", "UIReferenceLibraryViewController", "UISplitViewController",
          "UIInputViewController", "UISearchController", "UISearchContainerViewController",
          "UIApplicationRotationFollowingController", "MFMailComposeInternalViewController",
          "MFMailComposePlaceholderViewController", "UIInputWindowController",
          "_UIFallbackPresentationViewController", "UIActivityViewController",
          "UIActivityGroupViewController", "_UIActivityGroupListViewController",
          "_UIActivityViewControllerContentController", "UIKeyboardCandidateRowViewController",
          "UIKeyboardCandidateGridCollectionViewController", "UIPrintMoreOptionsTableViewController",
          "UIPrintPanelTableViewController", "UIPrintPanelViewController", "UIPrintPaperViewController",
          "UIPrintPreviewViewController", "UIPrintRangeViewController", "UIDocumentMenuViewController",
          "UIDocumentPickerViewController", "UIDocumentPickerExtensionViewController",
          "UIInterfaceActionGroupViewController", "UISystemInputViewController",
          "UIRecentsInputViewController", "UICompatibilityInputViewController",
          "UIInputViewAnimationControllerViewController", "UISnapshotModalViewController",
          "UIMultiColumnViewController", "UIKeyCommandDiscoverabilityHUDViewController",
          // This application's containers and system screens: the navigation
          // host, alerts and action sheets, and the share dialog.
          "NavigationController", "AlertController", "ShareSheetController"} {}

const std::vector<std::string>& TallyViewTracking::reservedViewTrackingSegmentationKeys() {
    static const auto* keys = new std::vector<std::string>{
        kTallyVTKeyName, kTallyVTKeySegment, kTallyVTKeyVisit,  kTallyVTKeyStart, kTallyVTKeyBounce,
        kTallyVTKeyExit, kTallyVTKeyView,    kTallyVTKeyDomain, kTallyVTKeyDur};
    return *keys;
}

void TallyViewTracking::setIsAutoViewTrackingActive(bool active) {
    if (isEnabledOnInitialConfig() && viewTrackingConsentFor(&TallyConsentManager::consentForViewTracking)) {
        isAutoViewTrackingActive_ = active;
    }
}

void TallyViewTracking::startView(const std::string& requested,
                                  const std::optional<TallyJSON>& customSegmentation) {
    if (requested.empty() || !viewTrackingConsentFor(&TallyConsentManager::consentForViewTracking)) {
        return;
    }
    endView();
    TallyLog(TallyLogLevel::Debug, "View tracking started: {}", requested);
    const std::string name = tly_truncatedKey(requested, "View name");
    TallyJSON segmentation = TallyJSON::object();
    segmentation[kTallyVTKeyName] = name;
    segmentation[kTallyVTKeySegment] = TallyDeviceInfo::osName();
    segmentation[kTallyVTKeyVisit] = 1;
    {
        std::lock_guard lock(mutex_);
        if (!lastView_) segmentation[kTallyVTKeyStart] = 1;
    }
    if (customSegmentation && customSegmentation->is_object()) {
        const auto& reserved = reservedViewTrackingSegmentationKeys();
        for (const auto& [key, value] : customSegmentation->items()) {
            if (std::find(reserved.begin(), reserved.end(), key) == reserved.end()) segmentation[key] = value;
        }
    }
    Tally::sharedInstance().recordReservedEvent(kTallyReservedEventView, segmentation);
    const double started = TallyCommon::sharedInstance().uniqueTimestamp();
    std::lock_guard lock(mutex_);
    lastView_ = name;
    lastViewStartTime_ = started;
    viewStartTimestamp_ = started;
    accumulatedTime_ = 0;
    paused_ = false;
}

void TallyViewTracking::endView() {
    if (!viewTrackingConsentFor(&TallyConsentManager::consentForViewTracking)) {
        return;
    }
    std::string name;
    double duration = 0;
    double timestamp = 0;
    {
        std::lock_guard lock(mutex_);
        if (!lastView_) {
            return;
        }
        name = *lastView_;
        // Ended while in the background: the stretches before it are all
        // in the accumulated time; the background itself does not count.
        duration = paused_ ? accumulatedTime_ : now() - lastViewStartTime_ + accumulatedTime_;
        accumulatedTime_ = 0;
        timestamp = viewStartTimestamp_;
    }
    TallyJSON segmentation = TallyJSON::object();
    segmentation[kTallyVTKeyName] = name;
    segmentation[kTallyVTKeySegment] = TallyDeviceInfo::osName();
    Tally::sharedInstance().recordReservedEvent(kTallyReservedEventView, segmentation, 1, 0, duration,
                                                timestamp);
    TallyLog(TallyLogLevel::Debug, "View tracking ended: {} duration: {:.17g}", name, duration);
}

void TallyViewTracking::pauseView() {
    std::lock_guard lock(mutex_);
    if (lastViewStartTime_ != 0 && !paused_) {
        // Added, not replaced: a view may live through several background periods.
        accumulatedTime_ += now() - lastViewStartTime_;
        paused_ = true;
    }
}

void TallyViewTracking::resumeView() {
    const double resumed = TallyCommon::sharedInstance().uniqueTimestamp();
    std::lock_guard lock(mutex_);
    lastViewStartTime_ = resumed;
    paused_ = false;
}

void TallyViewTracking::startAutoViewTracking() {
    if (!isEnabledOnInitialConfig() ||
        !viewTrackingConsentFor(&TallyConsentManager::consentForViewTracking)) {
        return;
    }
    setIsAutoViewTrackingActive(true);
    auto port = TallyCommon::sharedInstance().uiPort();
    if (auto top = port ? port->topViewController() : std::nullopt) {
        startView(*top);
    }
}

void TallyViewTracking::stopAutoViewTracking() {
    // The view consent is already withdrawn when this runs from the consent
    // manager; automatic tracking reads as off from here on all the same.
    isAutoViewTrackingActive_ = false;
    std::lock_guard lock(mutex_);
    lastView_.reset();
    lastViewStartTime_ = 0;
    viewStartTimestamp_ = 0;
    accumulatedTime_ = 0;
    paused_ = false;
}

void TallyViewTracking::addExceptionForAutoViewTracking(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!name.empty() && std::find(exceptionViewControllers_.begin(), exceptionViewControllers_.end(),
                                   name) == exceptionViewControllers_.end()) {
        exceptionViewControllers_.push_back(name);
    }
}

void TallyViewTracking::removeExceptionForAutoViewTracking(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::erase(exceptionViewControllers_, name);
}

std::vector<std::string> TallyViewTracking::exceptionViewControllers() const {
    std::lock_guard lock(mutex_);
    return exceptionViewControllers_;
}

std::optional<std::string> TallyViewTracking::lastView() const {
    std::lock_guard lock(mutex_);
    return lastView_;
}

void TallyViewTracking::viewDidAppear(const TallyScreen& screen) {
    if (!isAutoViewTrackingActive() ||
        !viewTrackingConsentFor(&TallyConsentManager::consentForViewTracking)) {
        return;
    }
    if (lastView() == screen.title) {
        return;  // the same screen again (a sheet over it closed): no new view
    }
    for (const auto& entry : exceptionViewControllers()) {
        const bool matches = screen.title == entry || screen.className == entry ||
                             std::find(screen.inheritanceChain.begin(), screen.inheritanceChain.end(),
                                       entry) != screen.inheritanceChain.end();
        if (matches) {
            TallyLog(TallyLogLevel::Verbose,
                     "{} is an exceptional view, so it will be ignored for view tracking.", screen.title);
            return;
        }
    }
    startView(screen.title);
}

namespace {

struct OrientationState {
    std::unique_ptr<platform::NotificationCenter::Token> token;
    uint64_t generation = 0;
};

OrientationState& orientationState() {
    static auto* state = new OrientationState();
    return *state;
}

}  // namespace

void TallyObserveDeviceOrientationChanges() {
    auto& state = orientationState();
    if (!state.token) {
        state.token = platform::NotificationCenter::defaultCenter().addObserver(
            kTallyDeviceOrientationDidChange, nullptr,
            [](const auto&) { TallyDeviceOrientationDidChange(); });
    }
}

void TallyDeviceOrientationDidChange() {
    if (!TallyCommon::sharedInstance().enableOrientationTracking()) {
        return;
    }
    // A newer change cancels the pending record: a burst records once.
    const uint64_t generation = ++orientationState().generation;
    platform::DispatchQueue::main()->asyncAfter(0.5, [generation] {
        if (orientationState().generation == generation) {
            TallyRecordOrientation();
        }
    });
}

void TallyRecordOrientation() {
    auto port = TallyCommon::sharedInstance().uiPort();
    const int orientation = port ? port->interfaceOrientation() : 0;
    std::string mode;
    if (orientation == 1 || orientation == 2) {
        mode = "portrait";
    } else if (orientation == 3 || orientation == 4) {
        mode = "landscape";
    } else {
        TallyLog(TallyLogLevel::Debug, "Interface orientation is not landscape or portrait.");
        return;
    }
    auto& common = TallyCommon::sharedInstance();
    if (common.lastInterfaceOrientation() == mode) {
        TallyLog(TallyLogLevel::Verbose, "Interface orientation is still same: {}", mode);
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Interface orientation is now: {}", mode);
    common.setLastInterfaceOrientation(mode);
    if (viewTrackingConsentFor(&TallyConsentManager::consentForUserDetails)) {
        TallyJSON segmentation = TallyJSON::object();
        segmentation[kTallyOrientationKeyMode] = mode;
        Tally::sharedInstance().recordReservedEvent(kTallyReservedEventOrientation, segmentation);
    }
}

}  // namespace tervolo::analytics
