#include "analytics/ui/TallyQtBridge.hpp"

#include <QGuiApplication>
#include <QLabel>
#include <QObject>
#include <QScreen>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyViewTracking.hpp"
#include "analytics/ui/TallyStarRatingDialog.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::analytics {

namespace {

int orientationNumber(Qt::ScreenOrientation orientation) {
    switch (orientation) {
        case Qt::PortraitOrientation:
            return 1;
        case Qt::InvertedPortraitOrientation:
            return 2;
        case Qt::LandscapeOrientation:
            return 3;
        case Qt::InvertedLandscapeOrientation:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

TallyQtBridge::TallyQtBridge() : context_(std::make_unique<QObject>()) {}

std::shared_ptr<TallyQtBridge> TallyQtBridge::install() {
    std::shared_ptr<TallyQtBridge> bridge(new TallyQtBridge());
    platform::ViewController::setScreenAppearedHook(
        [](platform::ViewController& controller, const platform::ScreenAppearance& appearance) {
            if (!TallyCommon::sharedInstance().hasStarted_()) return;
            if (auto tracking = TallyViewTracking::sharedInstance()) {
                tracking->viewDidAppear(TallyScreen{titleForViewController(controller), appearance.className,
                                                    appearance.inheritanceChain});
            }
        });
    auto* raw = bridge.get();
    // The tokens live in the bridge: no notice reaches a destroyed one.
    auto& center = platform::NotificationCenter::defaultCenter();
    raw->backgroundObservation_ = center.addObserver(kTallyApplicationDidEnterBackground, nullptr,
                                                     [raw](const auto&) { raw->inBackground_ = true; });
    raw->foregroundObservation_ = center.addObserver(kTallyApplicationWillEnterForeground, nullptr,
                                                     [raw](const auto&) { raw->inBackground_ = false; });
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QObject::connect(
                screen, &QScreen::orientationChanged, raw->context_.get(), [](Qt::ScreenOrientation) {
                    platform::NotificationCenter::defaultCenter().post(kTallyDeviceOrientationDidChange);
                });
        }
    }
    TallyCommon::sharedInstance().setUIPort(bridge);
    return bridge;
}

TallyQtBridge::~TallyQtBridge() {
    platform::ViewController::setScreenAppearedHook({});
}

std::optional<TallyScreenFacts> TallyQtBridge::mainScreen() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return std::nullopt;
    const QRect geometry = screen->geometry();
    return TallyScreenFacts{static_cast<double>(geometry.width()), static_cast<double>(geometry.height()),
                            screen->devicePixelRatio()};
}

int TallyQtBridge::deviceOrientation() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? orientationNumber(screen->orientation()) : 0;
}

int TallyQtBridge::interfaceOrientation() const {
    return deviceOrientation();
}

bool TallyQtBridge::isApplicationInBackground() const {
    return inBackground_;
}

std::string TallyQtBridge::titleForViewController(platform::ViewController& controller) {
    if (!controller.title().empty()) return controller.title();
    auto& item = controller.navigationItem();
    if (auto* label = qobject_cast<QLabel*>(item.titleView()); label != nullptr && !label->text().isEmpty()) {
        return label->text().toStdString();
    }
    if (!item.title().empty()) return item.title();
    return controller.screenAppearance().className;
}

std::shared_ptr<platform::ViewController> TallyQtBridge::topController() {
    const auto windows = platform::MainWindow::windows();
    platform::MainWindow* window = nullptr;
    for (auto* candidate : windows) {
        if (candidate->isActiveWindow()) window = candidate;
    }
    if (window == nullptr && !windows.empty()) window = windows.back();
    auto controller = window != nullptr ? window->rootViewController() : nullptr;
    while (controller) {
        if (auto presented = controller->presentedViewController()) {
            controller = presented;
        } else if (auto* navigation = dynamic_cast<platform::NavigationController*>(controller.get());
                   navigation != nullptr && navigation->topViewController()) {
            controller = navigation->topViewController();
        } else {
            break;
        }
    }
    return controller;
}

std::optional<std::string> TallyQtBridge::topViewController() const {
    auto controller = topController();
    if (!controller) return std::nullopt;
    return titleForViewController(*controller);
}

bool TallyQtBridge::presentOnTopViewController(std::shared_ptr<TallyPresentable> screen,
                                               std::function<void()> completion) {
    auto controller = topController();
    auto* presentable = dynamic_cast<TallyPresentableController*>(screen.get());
    if (!controller || presentable == nullptr || !presentable->controller) return false;
    controller->present(presentable->controller, true, std::move(completion));
    return true;
}

std::shared_ptr<TallyPresentable> TallyQtBridge::makeStarRatingDialog(
    const std::string& message, std::function<void(int rating)> finished) {
    auto dialog = std::make_shared<TallyStarRatingDialog>(message, std::move(finished));
    dialog->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
    return std::make_shared<TallyPresentableController>(dialog);
}

void TallyQtBridge::openURL(const std::string& url) {
    platform::OpenURL::open(url);
}

}  // namespace tervolo::analytics
