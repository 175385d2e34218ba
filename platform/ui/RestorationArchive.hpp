#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/RestorationCoder.hpp"
#include "platform/ui/ViewController.hpp"

namespace platform {

// The application's restorable state in one JSON file
// ("RestorationState.json" in the preferences folder): the application's own
// values (the version stamp) and, per controller with a restoration
// identifier, what its encodeRestorableState wrote. Controllers are keyed by
// the path of restoration identifiers from their window's root ("Main/Map"),
// through children and presented controllers; a controller without an
// identifier is skipped with everything below it.
//
// Saving asks the delegate first (it stamps the application coder and may
// refuse); the file is written atomically. Restoring reads the file once:
// a file that is missing, unreadable, too large, not JSON or not in this form
// is refused with a line in the system log and nothing is restored, never a
// crash. The delegate then decides from the application coder; only when it
// agrees do the controllers' decodeRestorableState calls run.
// Main thread only.
class RestorationArchive {
  public:
    // The application's side of the exchange.
    class Delegate {
      public:
        virtual ~Delegate() = default;
        // Encodes the application's values; false saves nothing.
        virtual bool shouldSaveApplicationState(RestorationCoder& coder) = 0;
        virtual bool shouldRestoreApplicationState(const RestorationCoder& coder) = 0;
    };

    // What the file holds: the application's values and each controller's,
    // by identifier path.
    struct Contents {
        PropertyValue::Dictionary application;
        std::map<std::string, PropertyValue::Dictionary> controllers;
        bool operator==(const Contents&) const = default;
    };
    // The file's text for `contents`.
    static std::string encodeFile(const Contents& contents);
    // The contents of a file's bytes, or none with the reason in `reason`
    // ("not JSON", "nested too deeply", ...). Any bytes are safe to pass.
    static std::optional<Contents> decodeFile(std::span<const uint8_t> bytes, std::string& reason);

    static constexpr const char* kFileName = "RestorationState.json";
    static constexpr size_t kMaximumFileSize = 4 * 1024 * 1024;

    // The archive file in the preferences folder.
    static std::string defaultFilePath();

    explicit RestorationArchive(std::string filePath = defaultFilePath());

    // Held weakly; without one the version gate (AppVersionRestorationGate
    // over the bundle's "CFBundleVersion") decides.
    void setDelegate(std::weak_ptr<Delegate> delegate) { delegate_ = std::move(delegate); }

    // Writes the state of the controllers under `roots`. False when the
    // delegate refused or the file could not be written (logged).
    bool save(const std::vector<std::shared_ptr<ViewController>>& roots);
    // The first call reads the file; when the delegate agrees, every
    // controller under `roots` whose path has values gets them. Later calls
    // restore nothing. True when something was handed over.
    bool restore(const std::vector<std::shared_ptr<ViewController>>& roots);

    // Saves the roots of all main windows when the application loses the
    // focus, goes to the background and is about to quit (the lifecycle
    // source's notices on the default centre), for as long as this archive lives.
    void saveOnResignActiveAndQuit();

    ~RestorationArchive();
    RestorationArchive(const RestorationArchive&) = delete;
    RestorationArchive& operator=(const RestorationArchive&) = delete;

  private:
    std::shared_ptr<Delegate> delegate();

    std::string filePath_;
    std::weak_ptr<Delegate> delegate_;
    std::shared_ptr<Delegate> defaultDelegate_;
    bool read_ = false;
    std::vector<std::unique_ptr<NotificationCenter::Token>> observations_;  // end with the archive
};

// The gate on the application version: saving stamps "appVersion" (when a
// version is known); restoring agrees only when the stamp is a string equal to
// the running version, so state another version saved is never restored.
class AppVersionRestorationGate : public RestorationArchive::Delegate {
  public:
    // `version` answers the running version, none when unknown.
    explicit AppVersionRestorationGate(std::function<std::optional<std::string>()> version);
    bool shouldSaveApplicationState(RestorationCoder& coder) override;
    bool shouldRestoreApplicationState(const RestorationCoder& coder) override;

    static constexpr const char* kAppVersionKey = "appVersion";

  private:
    std::function<std::optional<std::string>()> version_;
};

}  // namespace platform
