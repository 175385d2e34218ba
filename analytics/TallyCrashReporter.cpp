#include "analytics/TallyCrashReporter.hpp"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <regex>

#include <cxxabi.h>
#include <execinfo.h>
#include <unistd.h>

#include "analytics/TallyBinaryImages.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConfig.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallyCrashStub.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::analytics {

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGTRAP};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
constexpr size_t kBreadcrumbCharacters = 1000;

TallySingleton<TallyCrashReporter>& crashReporterSlot() {
    return platform::SharedInstance<TallySingleton<TallyCrashReporter>>::get();
}

// Process-wide handler state, touched only by start/stop (main thread) and
// read by the handlers.
struct sigaction gPrevious[kSignalCount];
struct sigaction gPreviousPipe;
bool gPipeIgnoredByUs = false;
std::terminate_handler gPreviousTerminate = nullptr;
std::atomic<bool> gInstalled{false};
std::atomic<bool> gHandling{false};
stack_t gAlternateStack{};

bool consentForCrashReporting() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForCrashReporting();
}

// Async-signal-safe: every previous disposition back in place.
void restorePreviousHandlers() {
    for (size_t i = 0; i < kSignalCount; ++i) {
        sigaction(kFatalSignals[i], &gPrevious[i], nullptr);
    }
}

void signalHandler(int signal, siginfo_t* info, void* context) {
    if (!gHandling.exchange(true)) {
        void* frames[128];
        const int count = ::backtrace(frames, 128);
        // The first frame is this handler's own.
        TallyCrashStub::writeSignal(signal, frames + 1, count > 0 ? count - 1 : 0);
    }
    restorePreviousHandlers();
    gInstalled = false;
    size_t index = 0;
    while (index < kSignalCount && kFatalSignals[index] != signal) ++index;
    const struct sigaction& previous = gPrevious[index < kSignalCount ? index : 0];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // The default action ends the process once this handler returns: the
    // signal is blocked until then, and a fault would strike again anyway.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void terminateHandler() {
    if (!gHandling.exchange(true)) {
        std::string type = "std::exception";
        std::string reason;
        if (std::type_info* current = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(current->name(), nullptr, nullptr, &status);
            type = status == 0 && demangled != nullptr ? demangled : current->name();
            std::free(demangled);
            try {
                throw;
            } catch (const std::exception& error) {
                reason = error.what();
            } catch (...) {
            }
        } else {
            type = "std::terminate";
        }
        void* frames[128];
        const int count = ::backtrace(frames, 128);
        TallyCrashStub::writeException(type.c_str(), reason.c_str(), frames + 1, count > 0 ? count - 1 : 0);
    }
    restorePreviousHandlers();
    gInstalled = false;
    if (gPreviousTerminate != nullptr && gPreviousTerminate != terminateHandler) {
        gPreviousTerminate();
    }
    std::abort();
}

void installHandlers() {
    if (gInstalled.exchange(true)) {
        return;
    }
    // backtrace() loads its unwinder on first use; do that now, not in a handler.
    void* warm[4];
    ::backtrace(warm, 4);
    if (gAlternateStack.ss_sp == nullptr) {
        // Its own stack, so a stack overflow can still be reported.
        const size_t size = 64 * 1024;
        gAlternateStack.ss_sp = std::malloc(size);
        gAlternateStack.ss_size = size;
        gAlternateStack.ss_flags = 0;
    }
    sigaltstack(&gAlternateStack, nullptr);
    gPreviousTerminate = std::set_terminate(terminateHandler);
    struct sigaction action {};
    action.sa_sigaction = signalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) {
        sigaction(kFatalSignals[i], &action, &gPrevious[i]);
    }
    // A broken pipe is an error code for the writer, not a crash.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, nullptr, &gPreviousPipe);
    gPipeIgnoredByUs = gPreviousPipe.sa_handler == SIG_DFL && (gPreviousPipe.sa_flags & SA_SIGINFO) == 0;
    if (gPipeIgnoredByUs) {
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

void uninstallHandlers() {
    if (!gInstalled.exchange(false)) {
        return;
    }
    restorePreviousHandlers();
    std::set_terminate(gPreviousTerminate);
    if (gPipeIgnoredByUs) {
        sigaction(SIGPIPE, &gPreviousPipe, nullptr);
        gPipeIgnoredByUs = false;
    }
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

std::string localTimestamp() {
    const auto total = static_cast<int64_t>(std::llround(platform::Clock::current()->wallSeconds() * 1000.0));
    const auto seconds = static_cast<std::time_t>(total / 1000);
    std::tm fields{};
    localtime_r(&seconds, &fields);
    char text[96];
    const int milliseconds = static_cast<int>(total % 1000);
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  milliseconds);
    return text;
}

}  // namespace

std::shared_ptr<TallyCrashReporter> TallyCrashReporter::sharedInstance() {
    return crashReporterSlot().get([] { return new TallyCrashReporter(); });
}

void TallyCrashReporter::resetForTesting() {
    if (auto old = crashReporterSlot().reset()) {
        uninstallHandlers();
        TallyCrashStub::close(stubFile());
    }
    gHandling = false;
}

TallyCrashReporter::~TallyCrashReporter() = default;

std::string TallyCrashReporter::stubFile() {
    return TallyPersistency::storageDirectory() + "/TallyPendingCrash";
}

void TallyCrashReporter::setCrashSegmentation(std::optional<TallyJSON> segmentation) {
    std::lock_guard lock(mutex_);
    crashSegmentation_ = std::move(segmentation);
}

void TallyCrashReporter::setCrashLogLimit(uint64_t limit) {
    std::lock_guard lock(mutex_);
    crashLogLimit_ = limit == 0 ? 1 : limit;
}

void TallyCrashReporter::setCrashFilter(std::optional<std::string> pattern) {
    std::lock_guard lock(mutex_);
    crashFilter_ = std::move(pattern);
}

void TallyCrashReporter::setCrashOccuredOnPreviousSessionCallback(
    std::function<void(const TallyJSON&)> callback) {
    std::lock_guard lock(mutex_);
    crashOccuredOnPreviousSessionCallback_ = std::move(callback);
}

void TallyCrashReporter::setShouldSendCrashReportCallback(std::function<bool(const TallyJSON&)> callback) {
    std::lock_guard lock(mutex_);
    shouldSendCrashReportCallback_ = std::move(callback);
}

void TallyCrashReporter::startCrashReporting() {
    if (!isEnabledOnInitialConfig() || !consentForCrashReporting()) {
        return;
    }
    if (shouldUseQCrashReporter_) {
        throw TallyConfigError("TallyQCrashReporterDependencyNotFoundException",
                               "QCrashReporter dependency can not be found in Project");
    }
    queuePreviousCrash();
    platform::FileManager::defaultManager().createDirectory(TallyPersistency::storageDirectory(), true);
    TallyCrashStub::prepare(stubFile(), TallyCommon::sharedInstance().startTime());
    TallyCrashStub::setInBackground(TallyDeviceInfo::sharedInstance().isInBackground());
    {
        std::lock_guard lock(mutex_);
        publishLogsLocked();
    }
    installHandlers();
    isReporting_ = true;
}

void TallyCrashReporter::stopCrashReporting() {
    if (!isEnabledOnInitialConfig()) {
        return;
    }
    uninstallHandlers();
    isReporting_ = false;
    TallyCrashStub::close(stubFile());
    clearCrashLogs();
}

void TallyCrashReporter::queuePreviousCrash() {
    auto& files = platform::FileManager::defaultManager();
    const std::string path = stubFile();
    auto bytes = files.readFileSafely(path, 4 * 1024 * 1024);
    if (!bytes.ok()) {
        return;
    }
    const std::string text(bytes.value().begin(), bytes.value().end());
    auto stub = TallyCrashStub::read(text);
    if (!stub) {
        if (!text.empty()) {
            TallyLog(TallyLogLevel::Warning,
                     "Crash stub of the previous run can not be read and is dropped.");
        }
        files.removeItem(path);
        return;
    }
    TallyException exception;
    if (stub->isSignal) {
        exception.name = "Fatal Signal";
        exception.reason = std::string("App terminated by SIG") + TallyCrashStub::signalName(stub->signal);
        exception.userInfo[kTallyExceptionUserInfoSignalCodeKey] = stub->signal;
    } else {
        exception.name = stub->type;
        exception.reason = stub->reason;
    }
    const TallyJSON record =
        buildRecord(exception, true, stub->stackLines, stub->binaryImages, stub->buildUUID,
                    stub->executableName, stub->runSeconds, stub->inBackground, stub->logs);
    const bool filtered = isMatchingFilter(joined(stub->stackLines)) || isMatchingFilter(exception.reason) ||
                          isMatchingFilter(exception.name);
    if (filtered) {
        TallyLog(TallyLogLevel::Debug, "Crash matches filter and it will not be processed.");
    } else if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendCrashReport(tly_JSONify(record), false);
    }
    // Queued (and so on disk) before the stub goes.
    if (auto persistency = TallyPersistency::sharedInstance()) persistency->saveToFileSync();
    files.removeItem(path);
}

void TallyCrashReporter::recordException(const TallyException& exception,
                                         const std::optional<std::vector<std::string>>& stackTrace,
                                         bool isFatal) {
    if (!consentForCrashReporting()) {
        return;
    }
    TallyException recorded = exception;
    if (stackTrace) {
        recorded.userInfo[kTallyExceptionUserInfoBacktraceKey] = *stackTrace;
    }
    handleException(recorded, isFatal);
}

TallyJSON TallyCrashReporter::crashReport(const TallyException& exception, bool isFatal) const {
    std::vector<std::string> lines = exception.callStackSymbols;
    if (exception.userInfo.contains(kTallyExceptionUserInfoBacktraceKey)) {
        lines.clear();
        for (const auto& line : exception.userInfo[kTallyExceptionUserInfoBacktraceKey]) {
            if (line.is_string()) lines.push_back(line.get<std::string>());
        }
    }
    std::string buildUUID;
    std::string executableName;
    const TallyJSON images =
        TallyBinaryImagesForStackTrace(lines, TallyLoadedImages(), &buildUUID, &executableName);
    std::string logs;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < customCrashLogs_.size(); ++i) {
            if (i > 0) logs += '\n';
            logs += customCrashLogs_[i];
        }
    }
    return buildRecord(exception, isFatal, lines, images, buildUUID, executableName,
                       TallyCommon::sharedInstance().timeSinceLaunch(),
                       TallyDeviceInfo::sharedInstance().isInBackground(), logs);
}

void TallyCrashReporter::handleException(const TallyException& exception, bool isFatal) {
    const TallyJSON record = crashReport(exception, isFatal);
    const std::string trace = record.contains("_error") ? record["_error"].get<std::string>() : std::string();
    if (isMatchingFilter(trace) || isMatchingFilter(exception.reason) || isMatchingFilter(exception.name)) {
        TallyLog(TallyLogLevel::Debug, "Crash matches filter and it will not be processed.");
        return;
    }
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendCrashReport(tly_JSONify(record), false);
    }
}

TallyJSON TallyCrashReporter::buildRecord(const TallyException& exception, bool isFatal,
                                          const std::vector<std::string>& lines, const TallyJSON& images,
                                          const std::string& buildUUID, const std::string& executableName,
                                          int64_t runSeconds, bool inBackground,
                                          const std::string& logs) const {
    TallyJSON record = TallyJSON::object();
    if (!lines.empty()) record["_error"] = joined(lines);
    record["_binary_images"] = images;
    record["_os"] = TallyDeviceInfo::osName();
    record["_os_version"] = TallyDeviceInfo::osVersion();
    record["_device"] = TallyDeviceInfo::device();
    if (auto architecture = TallyDeviceInfo::architecture()) record["_architecture"] = *architecture;
    if (auto resolution = TallyDeviceInfo::resolution()) record["_resolution"] = *resolution;
    record["_app_version"] = TallyDeviceInfo::appVersion();
    record["_app_build"] = TallyDeviceInfo::appBuild();
    record["_build_uuid"] = buildUUID;
    record["_executable_name"] = executableName;
    record["_name"] = exception.reason;
    record["_type"] = exception.name;
    record["_nonfatal"] = isFatal ? 0 : 1;
    const int64_t totalRAM = TallyDeviceInfo::totalRAM();
    const int64_t freeRAM = std::max<int64_t>(TallyDeviceInfo::freeRAM(), 0);
    record["_ram_current"] = (totalRAM - freeRAM) >> 20;
    record["_ram_total"] = totalRAM >> 20;
    record["_disk_current"] = (TallyDeviceInfo::totalDisk() - TallyDeviceInfo::freeDisk()) >> 20;
    record["_disk_total"] = TallyDeviceInfo::totalDisk() >> 20;
    if (auto battery = TallyDeviceInfo::batteryLevel()) record["_bat"] = *battery;
    if (auto orientation = TallyDeviceInfo::orientation()) record["_orientation"] = *orientation;
    record["_online"] = TallyDeviceInfo::connectionType() != 0 ? 1 : 0;
    record["_root"] = TallyDeviceInfo::isJailbroken();
    record["_background"] = inBackground;
    record["_run"] = runSeconds;
    TallyJSON custom = TallyJSON::object();
    {
        std::lock_guard lock(mutex_);
        if (crashSegmentation_ && crashSegmentation_->is_object()) custom = *crashSegmentation_;
    }
    if (exception.userInfo.is_object()) {
        for (const auto& [key, value] : exception.userInfo.items()) {
            if (key == kTallyExceptionUserInfoBacktraceKey || key == kTallyExceptionUserInfoSignalCodeKey)
                continue;
            custom[key] = value;
        }
    }
    if (!custom.empty()) record["_custom"] = custom;
    record["_logs"] = logs;
    return record;
}

void TallyCrashReporter::publishLogsLocked() {
    std::string logs;
    for (size_t i = 0; i < customCrashLogs_.size(); ++i) {
        if (i > 0) logs += '\n';
        logs += customCrashLogs_[i];
    }
    TallyCrashStub::setLogs(logs);
}

void TallyCrashReporter::log(const std::string& message) {
    if (!consentForCrashReporting()) {
        return;
    }
    std::string crumb = "<" + localTimestamp() + "> ";
    crumb += tly_prefixOfUTF16Length(message, kBreadcrumbCharacters);
    std::lock_guard lock(mutex_);
    customCrashLogs_.push_back(std::move(crumb));
    while (customCrashLogs_.size() > crashLogLimit_) customCrashLogs_.pop_front();
    publishLogsLocked();
}

void TallyCrashReporter::clearCrashLogs() {
    std::lock_guard lock(mutex_);
    customCrashLogs_.clear();
    publishLogsLocked();
}

std::vector<std::string> TallyCrashReporter::customCrashLogs() const {
    std::lock_guard lock(mutex_);
    return {customCrashLogs_.begin(), customCrashLogs_.end()};
}

bool TallyCrashReporter::isMatchingFilter(const std::string& text) const {
    std::optional<std::string> pattern;
    {
        std::lock_guard lock(mutex_);
        pattern = crashFilter_;
    }
    if (!pattern) {
        return false;
    }
    try {
        return std::regex_search(text, std::regex(*pattern));
    } catch (const std::regex_error&) {
        TallyLog(TallyLogLevel::Warning, "Crash filter is not a valid regular expression: {}", *pattern);
        return false;
    }
}

}  // namespace tervolo::analytics
