#include "testsupport/mapscreen/MapScreenFixture.hpp"

#include <QCoreApplication>

#include "widgets/hud/HUD.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/TestEnvironment.hpp"

namespace tervolo::testsupport {

namespace {

// The screen loads the stored points when its view loads: each test's
// documents folder gets a store of its own.
const bool registered =
    TestEnvironment::registerReset([] { points::QuovaMapPointStore::resetSharedForTesting(); });

}  // namespace

MapScreenFixture::~MapScreenFixture() {
    if (window_) window_->setRootViewController(nullptr);
    window_.reset();
}

mapscreen::MainViewController::Services MapScreenFixture::services() {
    mapscreen::MainViewController::Services services;
    if (withSearchController) {
        services.makeSearchController = [this] {
            steps.push_back("makeSearchController");
            searchController = std::make_shared<FakeMapSearchController>();
            return searchController;
        };
    }
    services.installToolbarDelegate = [this](mapscreen::MainViewController&, platform::Toolbar&) {
        steps.push_back("installToolbarDelegate");
        ++toolbarInstalls;
    };
    services.bindPlugIn = [this] {
        steps.push_back("bindPlugIn");
        ++plugInBinds;
    };
    services.interfaceIdiom = idiom;
    services.authorizationStatus = [this] {
        steps.push_back("authorizationStatus");
        return authorization;
    };
    services.loadVersionInfo = [this](mapscreen::MainViewController::VersionDelivery deliver) {
        steps.push_back("loadVersionInfo");
        ++versionLoads;
        pending_.push_back(std::move(deliver));
    };
    services.isNewerVersion = [this](const backend::AppVersionInfo&) { return newerVersion; };
    services.terminate = [this] { ++terminations; };
    services.currentTileStatus = [this] { return tileStatus; };
    if (locationServices) services.locationServices = [this] { return locationServices; };
    services.flashHUD = [this](const widgets::hud::HUDContentType& content, double delay) {
        hudFlashes.push_back({content.title().value_or(""), content.subtitle().value_or(""), delay});
        if (showHUD) widgets::hud::HUD::flash(content, nullptr, delay);
    };
    services.trackEvent = [this](const std::string& name,
                                 const std::map<std::string, std::string>& properties) {
        std::string event = name;
        for (const auto& [key, value] : properties) event += " " + key + "=" + value;
        events.push_back(event);
    };
    (void)registered;
    if (withPointDetails) {
        services.makePointDetails = [this](const std::shared_ptr<points::QuovaMapPoint>& point,
                                           std::weak_ptr<mapscreen::MainMapPort> mainVC) {
            auto screen = std::make_shared<platform::ViewController>();
            pointDetails.push_back({screen, point, std::move(mainVC)});
            return screen;
        };
    }
    services.bestKnownLocation = [this] { return bestKnownLocation; };
    return services;
}

std::shared_ptr<mapscreen::MainViewController> MapScreenFixture::makeController() {
    return std::make_shared<mapscreen::MainViewController>(services());
}

std::shared_ptr<mapscreen::MainViewController> MapScreenFixture::showInWindow(QSize size) {
    return showInWindow(makeController(), size);
}

std::shared_ptr<mapscreen::MainViewController> MapScreenFixture::showInWindow(
    std::shared_ptr<mapscreen::MainViewController> controller, QSize size) {
    if (window_) window_->setRootViewController(nullptr);
    window_ = std::make_unique<platform::MainWindow>();
    window_->setRootViewController(controller);
    window_->resize(size);
    window_->show();
    QCoreApplication::processEvents();
    // The content area gets `size`: the window grows by what its toolbar takes.
    const QSize content = window_->contentView()->size();
    if (content != size) {
        window_->resize(window_->size() + (size - content));
        QCoreApplication::processEvents();
    }
    return controller;
}

void MapScreenFixture::deliverVersion(const std::optional<backend::AppVersionInfo>& info) {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& deliver : pending) deliver(info);
}

backend::AppVersionInfo makeVersionInfo(bool forceUpdate, std::string updateURL, std::string fallbackURL) {
    backend::AppVersionInfo info;
    info.appName = "TervoloNG";
    info.currentVersion = backend::VersionInfo{1, 99, 0, 0};
    info.forceUpdate = forceUpdate;
    info.updateURL = std::move(updateURL);
    info.fallbackURL = std::move(fallbackURL);
    return info;
}

}  // namespace tervolo::testsupport
