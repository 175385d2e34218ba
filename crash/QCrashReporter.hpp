#pragma once

// The crash reporter: enabled once at start-up, it writes a report of a
// crash to "live_report.qcrash" in its data directory; on the next launch
// the application asks whether a report is pending, loads it and purges it.
// It also writes on-demand ("live") reports of the running process.
//
// Data directory: <base>/org.tervolong.crashreporter.data/<application
// identifier with "/" as "_">, base = the configuration's base path or the
// caches folder ($XDG_CACHE_HOME/TervoloNG). Only one reporter per process can
// be enabled, and it stays enabled. Mach exception mode does not exist on
// Linux: enabling it fails with code 1 over ENOTSUP.
//
// Errors: domain "QCrashReporterErrorDomain" (code 0 the reporter's own, 1 an
// operating-system failure with the underlying error, 3 already enabled);
// misuse throws QCrashReporterException. Enable and configure from one
// thread; live reports from any.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash/QCrashReporterConfig.hpp"
#include "crash/ReporterState.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/Error.hpp"

namespace tervolo::crash {

class QCrashReporterException : public std::runtime_error {
  public:
    explicit QCrashReporterException(const std::string& reason) : std::runtime_error(reason) {}
    static constexpr const char* kName = "QCrashReporterException";
};

// The kernel version, as major, minor and revision numbers.
struct QCrashHostInfoVersion {
    uint64_t major = 0, minor = 0, revision = 0;
};

class QCrashHostInfo {
  public:
    // None (logged) when the release cannot be read.
    static std::optional<QCrashHostInfo> currentHostInfo();
    const QCrashHostInfoVersion& darwinVersion() const { return version_; }

  private:
    QCrashHostInfoVersion version_;
};

class QCrashReporter {
  public:
    // The process's shared reporter: main bundle, default configuration.
    static QCrashReporter& sharedReporter();
    // Identifier, version and marketing version from the bundle; throws
    // QCrashReporterException when neither an identifier nor a process name
    // is known.
    static std::shared_ptr<QCrashReporter> create(const QCrashReporterConfig& configuration = {});
    static std::shared_ptr<QCrashReporter> create(const platform::Bundle& bundle,
                                                  const QCrashReporterConfig& configuration);
    QCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                   std::optional<std::string> applicationMarketingVersion,
                   QCrashReporterConfig configuration);

    bool hasPendingCrashReport() const;
    std::optional<std::vector<uint8_t>> loadPendingCrashReportData(platform::Error* error = nullptr) const;
    bool purgePendingCrashReport(platform::Error* error = nullptr) const;

    // Installs the handlers; true when they are installed.
    bool enableCrashReporter(platform::Error* error = nullptr);

    // A report of the running process with the calling thread (or `thread`,
    // a thread id) as crashed thread.
    std::optional<std::vector<uint8_t>> generateLiveReport(platform::Error* error = nullptr);
    std::optional<std::vector<uint8_t>> generateLiveReportWithThread(uint32_t thread,
                                                                     platform::Error* error = nullptr);

    // Throws QCrashReporterException once enabled.
    void setCrashCallbacks(const QCrashReporterCallbacks& callbacks);
    void setCustomData(std::optional<std::vector<uint8_t>> data);
    const std::optional<std::vector<uint8_t>>& customData() const { return customData_; }

    std::string crashReportPath() const;
    const std::string& crashReportDirectory() const { return crashReportDirectory_; }
    std::string queuedCrashReportDirectory() const;
    bool populateCrashReportDirectory(platform::Error* error = nullptr) const;
    static uint64_t mapToAsyncSymbolicationStrategy(uint64_t strategy) { return strategy & 3; }

    const QCrashReporterConfig& configuration() const { return config_; }
    bool enabled() const { return enabled_; }

  private:
    std::optional<std::vector<uint8_t>> liveReport(uint32_t thread, bool callingThread,
                                                   platform::Error* error);

    QCrashReporterConfig config_;
    bool enabled_ = false;
    std::string applicationIdentifier_;
    std::string applicationVersion_;
    std::optional<std::string> applicationMarketingVersion_;
    std::string crashReportDirectory_;
    std::optional<std::vector<uint8_t>> customData_;
};

}  // namespace tervolo::crash
