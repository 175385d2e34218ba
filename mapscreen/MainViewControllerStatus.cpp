// The map screen's status line (the tile overlay's status, faded in and out)
// and the version check with its update alert.

#include "mapscreen/MainViewController.hpp"

#include <QUrl>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/CanOpenURL.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/Label.hpp"
#include "shell/QuovaOpenURL.hpp"

namespace tervolo::mapscreen {

namespace {

bool parsesAsURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

// Whether a URL that came from a server may be opened: a web page only. The
// desktop would open a local file, or start a launcher, as readily as a page.
bool isWebURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

}  // namespace

// ---- The status line

void MainViewController::updateStatusLabel() {
    updateTileNotice();
    const auto status = services_.currentTileStatus ? services_.currentTileStatus() : mapTileStatus();
    if (status && statusLabel_) {
        QLLogInfo("Tile cache status: " + *status);
        showStatusLabel(*status);
        return;
    }
    if (statusLabel_ && !statusLabel_->isHidden()) hideStatusLabel();
}

void MainViewController::updateTileNotice() {
    if (!mapView_) return;
    const auto overlay = mapView_->currentTileOverlay();
    // Small, beside the credits: the map stays usable, the user learns why parts stay blank.
    const bool failing = overlay && overlay->tilesCannotBeLoaded();
    mapView_->setNotice(
        failing ? QString::fromStdString(platform::localizedString("Map tiles can't be loaded")) : QString());
}

std::optional<std::string> MainViewController::mapTileStatus() const {
    if (!mapView_) return std::nullopt;
    const auto overlay = mapView_->currentTileOverlay();
    return overlay ? overlay->statusString() : std::nullopt;
}

void MainViewController::showStatusLabel(const std::string& text) {
    platform::Label* label = statusLabel_;
    label->setText(QString::fromStdString(text));
    if (label->isHidden() || status_.statusFadingOut) {
        // A fade-out still running yields: its completion belongs to an older flip.
        ++status_.statusFlip;
        status_.statusFadingOut = false;
        if (label->isHidden())
            platform::Animator::performWithoutAnimation([label] { platform::setAlpha(label, 0); });
        const double target = status_.statusLabelMaxAlpha;
        platform::Animator::animate(kFadeDuration, [label, target] { platform::setAlpha(label, target); });
    }
    label->show();
    layoutMainView();
}

void MainViewController::hideStatusLabel() {
    if (status_.statusFadingOut) return;
    platform::Label* label = statusLabel_;
    const uint64_t flip = ++status_.statusFlip;
    status_.statusFadingOut = true;
    platform::Animator::animate(
        kFadeDuration, [label] { platform::setAlpha(label, 0); },
        [weak = weakSelf(), flip](bool) {
            auto self = weak.lock();
            if (!self || self->status_.statusFlip != flip || !self->statusLabel_) return;
            self->status_.statusFadingOut = false;
            self->statusLabel_->setText(QString());
            self->statusLabel_->hide();
        });
}

// ---- Version check

void MainViewController::updateCheck() {
    services_.loadVersionInfo([weak = weakSelf()](std::optional<backend::AppVersionInfo> info) {
        auto self = weak.lock();
        if (!self) return;
        if (!info) {
            QLLogDebug("Loading version info failed.");
            return;
        }
        QLLogDebug("Loading version info finished: " + logging::debugQuoted(info->description()));
        if (self->services_.isNewerVersion(*info)) self->newVersionFound(*info);
    });
}

void MainViewController::newVersionFound(const backend::AppVersionInfo& info) {
    if (!platform::isMainThread()) {
        platform::DispatchQueue::main()->async([weak = weakSelf(), info] {
            if (auto self = weak.lock()) self->newVersionFound(info);
        });
        QLLogInfo("newVersionFound called on other than main thread - re-scheduling.");
        return;
    }
    const bool forced = info.forceUpdate;
    QLLogInfo(std::string("Newer app version info found on server - ") +
              (forced ? "forcing update." : "just informing user."));
    auto alert = platform::AlertController::make(
        platform::localizedString("Update Required"),
        platform::localizedString("Your app version is outdated - please update."),
        platform::AlertController::Style::alert);
    const auto weak = weakSelf();
    if (forced) {
        alert->addAction(platform::AlertAction::make(platform::localizedString("Quit App"),
                                                     platform::AlertAction::Style::destructive, [weak] {
                                                         QLLogInfo("Quit App Button");
                                                         if (auto self = weak.lock()) self->quitApplication();
                                                     }));
    } else {
        alert->addAction(platform::AlertAction::make(platform::localizedString("Cancel"),
                                                     platform::AlertAction::Style::destructive,
                                                     [] { QLLogInfo("Cancel Button"); }));
    }
    alert->addAction(platform::AlertAction::make(
        platform::localizedString("Update App"), platform::AlertAction::Style::defaultValue, [weak, info] {
            QLLogInfo("Update App Button");
            bool opened = false;
            // Both addresses come from the version
            // document: only web pages are opened.
            if (parsesAsURL(info.updateURL)) {
                if (isWebURL(info.updateURL) && platform::canOpenURL(info.updateURL)) {
                    shell::quovaOpen(info.updateURL);
                    opened = true;
                } else if (isWebURL(info.fallbackURL)) {
                    opened = shell::quovaOpen(info.fallbackURL);
                }
            }
            if (auto self = weak.lock()) self->finishUpdate(opened, info.forceUpdate);
        }));
    present(alert, true, [] { QLLogInfo("Display action sheet animation completed."); });
}

void MainViewController::finishUpdate(bool urlOpened, bool forced) {
    // The program ends only when the update page was handed to a browser or the
    // update is forced, and then later, without blocking the screen meanwhile.
    if (!urlOpened && !forced) {
        QLLogInfo("Update App Button: no update page could be opened - the program goes on.");
        return;
    }
    if (status_.quitScheduled) return;
    status_.quitScheduled = true;
    platform::DispatchQueue::main()->asyncAfter(kUpdateQuitDelay, [weak = weakSelf()] {
        if (auto self = weak.lock()) self->quitApplication();
    });
}

void MainViewController::quitApplication() {
    logging::QLLog::sharedInstance().flushLog();
    services_.terminate();
}

}  // namespace tervolo::mapscreen
