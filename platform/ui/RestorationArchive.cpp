#include "platform/ui/RestorationArchive.hpp"

#include <QGuiApplication>

#include <nlohmann/json.hpp>

#include <algorithm>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/foundation/PropertyValueJSON.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/ApplicationTermination.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

constexpr const char* kFormatKey = "format";
constexpr const char* kFormatName = "TervoloNG restoration archive 1";
constexpr const char* kApplicationKey = "application";
constexpr const char* kControllersKey = "controllers";
constexpr int kMaximumDepth = 64;

std::shared_ptr<OSLog> restorationLog() {
    static std::shared_ptr<OSLog> log = OSLog::make("org.tervolo.TervoloNG", "restoration");
    return log;
}

void logLine(OSLogType type, const std::string& text) {
    restorationLog()->write(type, text);
}

// Calls `visit(path, controller)` for every controller with a restoration
// identifier under `controller`, parents before children, presenters before
// what they present.
void walk(ViewController& controller, const std::string& parentPath,
          const std::function<void(const std::string&, ViewController&)>& visit) {
    if (controller.restorationIdentifier().empty()) return;
    const std::string path = parentPath.empty() ? controller.restorationIdentifier()
                                                : parentPath + "/" + controller.restorationIdentifier();
    visit(path, controller);
    for (const auto& child : std::vector(controller.children())) walk(*child, path, visit);
    // What a controller presents hangs off its root-most parent.
    if (controller.parent() == nullptr) {
        if (auto presented = controller.presentedViewController()) walk(*presented, path, visit);
    }
}

}  // namespace

std::optional<RestorationArchive::Contents> RestorationArchive::decodeFile(std::span<const uint8_t> bytes,
                                                                           std::string& reason) {
    // Restorable state is shallow; anything nested deeper is not ours (and
    // the value reader would drop it silently).
    int deepest = 0;
    const nlohmann::json json = nlohmann::json::parse(
        bytes.begin(), bytes.end(),
        [&deepest](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            deepest = std::max(deepest, depth);
            return true;
        },
        false);
    if (json.is_discarded()) {
        reason = "not JSON";
        return std::nullopt;
    }
    if (deepest > kMaximumDepth) {
        reason = "nested too deeply";
        return std::nullopt;
    }
    if (!json.is_object() || !json.contains(kFormatKey) || json[kFormatKey] != kFormatName) {
        reason = "not a restoration archive";
        return std::nullopt;
    }
    Contents archive;
    auto dictionary = [&](const nlohmann::json& value) -> std::optional<PropertyValue::Dictionary> {
        if (!value.is_object()) return std::nullopt;
        auto decoded = propertyValueFromJSON(value);
        if (!decoded || decoded->asDictionary() == nullptr) return std::nullopt;
        return *decoded->asDictionary();
    };
    if (json.contains(kApplicationKey)) {
        auto application = dictionary(json[kApplicationKey]);
        if (!application) {
            reason = "application state is not a dictionary";
            return std::nullopt;
        }
        archive.application = std::move(*application);
    }
    if (json.contains(kControllersKey)) {
        const auto& controllers = json[kControllersKey];
        if (!controllers.is_object()) {
            reason = "controller states are not a dictionary";
            return std::nullopt;
        }
        for (const auto& [path, state] : controllers.items()) {
            auto values = dictionary(state);
            if (!values) {
                reason = "state of \"" + path + "\" is not a dictionary";
                return std::nullopt;
            }
            archive.controllers[path] = std::move(*values);
        }
    }
    return archive;
}

std::string RestorationArchive::encodeFile(const Contents& contents) {
    nlohmann::json controllers = nlohmann::json::object();
    for (const auto& [path, values] : contents.controllers) controllers[path] = toJSON(PropertyValue(values));
    nlohmann::json json = nlohmann::json::object();
    json[kFormatKey] = kFormatName;
    json[kApplicationKey] = toJSON(PropertyValue(contents.application));
    json[kControllersKey] = std::move(controllers);
    // Text that is not UTF-8 is written with replacement characters rather
    // than losing the whole save.
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string RestorationArchive::defaultFilePath() {
    return FileManager::defaultManager().preferencesDirectory() + "/" + kFileName;
}

RestorationArchive::RestorationArchive(std::string filePath) : filePath_(std::move(filePath)) {}

RestorationArchive::~RestorationArchive() = default;

std::shared_ptr<RestorationArchive::Delegate> RestorationArchive::delegate() {
    if (auto delegate = delegate_.lock()) return delegate;
    if (!defaultDelegate_) {
        defaultDelegate_ = std::make_shared<AppVersionRestorationGate>(
            [] { return Bundle::main().infoString("CFBundleVersion"); });
    }
    return defaultDelegate_;
}

bool RestorationArchive::save(const std::vector<std::shared_ptr<ViewController>>& roots) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    RestorationCoder application;
    if (!delegate()->shouldSaveApplicationState(application)) return false;
    Contents contents;
    contents.application = application.values();
    for (const auto& root : roots) {
        if (!root) continue;
        walk(*root, "", [&](const std::string& path, ViewController& controller) {
            RestorationCoder coder;
            controller.encodeRestorableState(coder);
            contents.controllers[path] = coder.values();
        });
    }
    const std::string text = encodeFile(contents);
    FileManager& files = FileManager::defaultManager();
    if (const auto slash = filePath_.find_last_of('/'); slash != std::string::npos && slash > 0) {
        files.createDirectory(filePath_.substr(0, slash), true);
    }
    if (auto error = files.writeFile(filePath_, text, WriteOptions::Atomic)) {
        logLine(OSLogType::Error,
                "cannot save restoration state to " + filePath_ + ": " + error->description);
        return false;
    }
    return true;
}

bool RestorationArchive::restore(const std::vector<std::shared_ptr<ViewController>>& roots) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (read_) return false;
    read_ = true;
    auto bytes = FileManager::defaultManager().readFileSafely(filePath_, kMaximumFileSize);
    if (!bytes) {
        if (!bytes.error().isNoSuchFile()) {
            logLine(OSLogType::Error,
                    "ignoring restoration state " + filePath_ + ": " + bytes.error().description);
        }
        return false;
    }
    std::string reason;
    auto archive = decodeFile(*bytes, reason);
    if (!archive) {
        logLine(OSLogType::Error, "ignoring restoration state " + filePath_ + ": " + reason);
        return false;
    }
    if (!delegate()->shouldRestoreApplicationState(RestorationCoder(archive->application))) return false;
    bool handedOver = false;
    for (const auto& root : roots) {
        if (!root) continue;
        walk(*root, "", [&](const std::string& path, ViewController& controller) {
            auto found = archive->controllers.find(path);
            if (found == archive->controllers.end()) return;
            controller.decodeRestorableState(RestorationCoder(found->second));
            handedOver = true;
        });
    }
    return handedOver;
}

void RestorationArchive::saveOnResignActiveAndQuit() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto saveAll = [this](const NotificationCenter::Notification&) {
        std::vector<std::shared_ptr<ViewController>> roots;
        for (MainWindow* window : MainWindow::windows()) {
            if (auto root = window->rootViewController()) roots.push_back(root);
        }
        save(roots);
    };
    // The lifecycle source's notices, not Qt's states: it is the one place
    // that maps them. The tokens end the hooks with the archive.
    auto& center = NotificationCenter::defaultCenter();
    observations_.clear();
    for (const char* name :
         {kDesktopApplicationDidResignActiveNotification, kApplicationDidEnterBackgroundNotification,
          kApplicationWillTerminateNotification}) {
        observations_.push_back(center.addObserver(name, nullptr, saveAll));
    }
}

AppVersionRestorationGate::AppVersionRestorationGate(std::function<std::optional<std::string>()> version)
    : version_(std::move(version)) {}

bool AppVersionRestorationGate::shouldSaveApplicationState(RestorationCoder& coder) {
    if (auto version = version_()) coder.encode(kAppVersionKey, *version);
    return true;
}

bool AppVersionRestorationGate::shouldRestoreApplicationState(const RestorationCoder& coder) {
    auto running = version_();
    auto saved = coder.decode<std::string>(kAppVersionKey);
    return running && saved && *saved == *running;
}

}  // namespace platform
