#include "crash/QCrashReporter.hpp"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

#include "crash/AsyncThreadCapture.hpp"
#include "crash/QCrashMachExceptionServer.hpp"
#include "crash/QCrashReporterError.hpp"
#include "crash/SignalHandler.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/foundation/Sysctl.hpp"

namespace tervolo::crash {

using detail::gReporterState;

namespace {

void log(const std::string& text) {
    platform::OSLog::defaultLog()->write(platform::OSLogType::Default, "[QCrashReporter] " + text);
}

std::mutex& enableMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
bool gProcessEnabled = false;  // guarded by enableMutex()
std::atomic<int> gUncaughtException{0};

// The image list lives from the first use of the reporter on.
void ensureImageList() {
    static std::once_flag once;
    std::call_once(once, [] { qcrash_nasync_image_list_init(&gReporterState.images, qcrash_task_self()); });
}

std::string processName() {
    char buffer[64] = {};
    std::FILE* comm = std::fopen("/proc/self/comm", "r");
    if (comm == nullptr) return {};
    if (std::fgets(buffer, sizeof buffer, comm) == nullptr) buffer[0] = 0;
    std::fclose(comm);
    std::string name(buffer);
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

platform::Error osError(const std::string& description, int errnoValue) {
    return makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorOperatingSystem, description,
                                   platform::Error::posix(errnoValue, description));
}

// The first uncaught exception is recorded and the process aborted, which
// writes a report carrying it; any later one waits for that abort.
void uncaughtExceptionHook() {
    int expected = 0;
    if (gUncaughtException.compare_exchange_strong(expected, 1)) {
        std::string name = "std::exception";
        std::string reason;
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            name = status == 0 && demangled != nullptr ? demangled : type->name();
            std::free(demangled);
        }
        try {
            if (auto current = std::current_exception()) std::rethrow_exception(current);
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
        }
        void* frames[QCRASH_LOG_MAX_FRAMES];
        const int count = backtrace(frames, QCRASH_LOG_MAX_FRAMES);
        std::vector<uint64_t> stack;
        for (int i = 0; i < count; ++i) stack.push_back(reinterpret_cast<uint64_t>(frames[i]));
        qcrash_log_writer_set_exception(&gReporterState.writer, name, reason, stack);
    }
    std::abort();
}

}  // namespace

std::optional<QCrashHostInfo> QCrashHostInfo::currentHostInfo() {
    const auto release = platform::Sysctl::string("kern.osrelease");
    if (!release) {
        const int error = errno;
        log("Failed to fetch kern.osrelease value " + std::to_string(error) + ": " + std::strerror(error));
        return std::nullopt;
    }
    QCrashHostInfo info;
    unsigned long long parts[3] = {0, 0, 0};
    const int scanned = std::sscanf(release->c_str(), "%llu.%llu.%llu", &parts[0], &parts[1], &parts[2]);
    if (scanned != 3) log("Unexpected kern.osrelease string format: " + *release);
    info.version_ = {parts[0], parts[1], parts[2]};
    return info;
}

QCrashReporter& QCrashReporter::sharedReporter() {
    static QCrashReporter* shared = create(QCrashReporterConfig::defaultConfiguration()).get();
    return *shared;
}

std::shared_ptr<QCrashReporter> QCrashReporter::create(const QCrashReporterConfig& configuration) {
    return create(platform::Bundle::main(), configuration);
}

std::shared_ptr<QCrashReporter> QCrashReporter::create(const platform::Bundle& bundle,
                                                       const QCrashReporterConfig& configuration) {
    auto identifier = bundle.infoString("CFBundleIdentifier");
    if (!identifier || identifier->empty()) {
        const std::string name = processName();
        if (name.empty())
            throw QCrashReporterException("Can not determine process identifier or process name");
        log("Warning -- bundle identifier, using process name " + name);
        identifier = name;
    }
    auto version = bundle.infoString("CFBundleVersion");
    if (!version) {
        log("Warning -- bundle version unavailable");
        version = "";
    }
    // Reporters are never destroyed: an enabled one is referred to by the
    // crash handlers for the rest of the process.
    return std::shared_ptr<QCrashReporter>(
        new QCrashReporter(*identifier, *version, bundle.infoString("CFBundleShortVersionString"),
                           configuration),
        [](QCrashReporter*) {});
}

QCrashReporter::QCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                               std::optional<std::string> applicationMarketingVersion,
                               QCrashReporterConfig configuration)
    : config_(std::move(configuration)),
      applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(applicationVersion)),
      applicationMarketingVersion_(std::move(applicationMarketingVersion)) {
    ensureImageList();
    const std::string base =
        config_.basePath().value_or(platform::FileManager::defaultManager().cachesDirectory());
    std::string folder = applicationIdentifier_;
    for (auto& c : folder) {
        if (c == '/') c = '_';
    }
    crashReportDirectory_ = base + "/org.tervolong.crashreporter.data/" + folder;
}

std::string QCrashReporter::crashReportPath() const {
    return crashReportDirectory_ + "/live_report.qcrash";
}
std::string QCrashReporter::queuedCrashReportDirectory() const {
    return crashReportDirectory_ + "/queued_reports";
}

bool QCrashReporter::hasPendingCrashReport() const {
    return platform::FileManager::defaultManager().fileExists(crashReportPath());
}

std::optional<std::vector<uint8_t>> QCrashReporter::loadPendingCrashReportData(platform::Error* error) const {
    auto data = platform::FileManager::defaultManager().readFileSafely(crashReportPath(), 16u << 20);
    if (!data) {
        if (error != nullptr) *error = data.error();
        return std::nullopt;
    }
    return std::vector<uint8_t>(data->begin(), data->end());
}

bool QCrashReporter::purgePendingCrashReport(platform::Error* error) const {
    const auto failure = platform::FileManager::defaultManager().removeItem(crashReportPath());
    if (failure && error != nullptr) *error = *failure;
    return !failure;
}

bool QCrashReporter::populateCrashReportDirectory(platform::Error* error) const {
    auto& files = platform::FileManager::defaultManager();
    for (const auto& folder : {crashReportDirectory_, queuedCrashReportDirectory()}) {
        if (files.fileExists(folder)) continue;
        if (auto failure = files.createDirectory(folder, true)) {
            if (error != nullptr) *error = *failure;
            return false;
        }
        chmod(folder.c_str(), 0755);
    }
    return true;
}

bool QCrashReporter::enableCrashReporter(platform::Error* error) {
    {
        std::lock_guard<std::mutex> lock(enableMutex());
        if (gProcessEnabled) {
            if (error != nullptr) {
                *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorResourceBusy,
                                                 "A QCrashReporter instance has already been enabled");
            }
            return false;
        }
        gProcessEnabled = true;
    }
    // Failures before any handler is installed leave the process free to try
    // again; once handlers are in, they cannot be taken back.
    auto undo = [] {
        std::lock_guard<std::mutex> lock(enableMutex());
        gProcessEnabled = false;
    };
    if (!populateCrashReportDirectory(error)) {
        undo();
        return false;
    }
    const std::string path = crashReportPath();
    if (path.size() + 1 > sizeof gReporterState.pendingPath) {
        if (error != nullptr) *error = osError("Crash report path is too long", ENAMETOOLONG);
        undo();
        return false;
    }
    std::memcpy(gReporterState.pendingPath, path.c_str(), path.size() + 1);

    qcrash_nasync_image_list_sync_host(&gReporterState.images);
    qcrash_nasync_thread_capture_install();
    const std::string* marketing = applicationMarketingVersion_ ? &*applicationMarketingVersion_ : nullptr;
    if (qcrash_log_writer_init(&gReporterState.writer, applicationIdentifier_, applicationVersion_, marketing,
                               mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()),
                               false) != QCRASH_ESUCCESS) {
        if (error != nullptr) {
            *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorUnknown,
                                             "Could not read this process's information");
        }
        undo();
        return false;
    }
    if (customData_) qcrash_log_writer_set_custom_data(&gReporterState.writer, &*customData_);

    auto* handler = QCrashSignalHandler::sharedHandler();
    if (handler == nullptr) {
        if (error != nullptr) *error = osError("Could not allocate the signal handler's stack", ENOMEM);
        undo();
        return false;
    }
    if (config_.signalHandlerType() == QCrashReporterConfig::kSignalHandlerTypeMach) {
        if (!handler->registerHandlerForSignal(SIGABRT, detail::reporterCrashCallback, nullptr, error))
            return false;
        platform::Error serverError;
        if (!QCrashMachExceptionServer::create(nullptr, nullptr, &serverError)) {
            if (error != nullptr) {
                *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorOperatingSystem,
                                                 "Failed to instantiate the Mach exception server.",
                                                 machUnavailableError());
            }
            return false;
        }
    } else {
        for (int signo : detail::kWatchedSignals) {
            if (!handler->registerHandlerForSignal(signo, detail::reporterCrashCallback, nullptr, error))
                return false;
        }
    }
    if (config_.shouldRegisterUncaughtExceptionHandler()) std::set_terminate(uncaughtExceptionHook);
    enabled_ = true;
    return true;
}

void QCrashReporter::setCrashCallbacks(const QCrashReporterCallbacks& callbacks) {
    if (enabled_) throw QCrashReporterException("The crash reporter has already been enabled");
    if (callbacks.version != 0) throw QCrashReporterException("Unsupported crash callback version");
    gReporterState.callbacks = callbacks;
    gReporterState.callbacksSet.store(true);
}

void QCrashReporter::setCustomData(std::optional<std::vector<uint8_t>> data) {
    customData_ = std::move(data);
    qcrash_log_writer_set_custom_data(&gReporterState.writer, customData_ ? &*customData_ : nullptr);
}

std::optional<std::vector<uint8_t>> QCrashReporter::generateLiveReport(platform::Error* error) {
    return liveReport(pl_mach_thread_self(), true, error);
}

std::optional<std::vector<uint8_t>> QCrashReporter::generateLiveReportWithThread(uint32_t thread,
                                                                                 platform::Error* error) {
    return liveReport(thread, thread == pl_mach_thread_self(), error);
}

namespace {

struct LiveWrite {
    qcrash_log_writer_t* writer;
    uint32_t thread;
    qcrash_async_file_t* file;
    qcrash_log_signal_info_t* signal;
};

qcrash_error_t writeFromHere(qcrash_async_thread_state_t* state, void* context) {
    auto* live = static_cast<LiveWrite*>(context);
    return qcrash_log_writer_write(live->writer, live->thread, &gReporterState.images, live->file,
                                   live->signal, state);
}

}  // namespace

std::optional<std::vector<uint8_t>> QCrashReporter::liveReport(uint32_t thread, bool callingThread,
                                                               platform::Error* error) {
    std::string temporary =
        platform::FileManager::defaultManager().temporaryDirectory() + "/live_crash_report.XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = osError("Failed to create temporary path", errno);
        return std::nullopt;
    }
    qcrash_nasync_image_list_sync_host(&gReporterState.images);
    qcrash_nasync_thread_capture_install();
    qcrash_log_writer_t writer;
    const std::string* marketing = applicationMarketingVersion_ ? &*applicationMarketingVersion_ : nullptr;
    qcrash_log_writer_init(&writer, applicationIdentifier_, applicationVersion_, marketing,
                           mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()), true);
    if (customData_) qcrash_log_writer_set_custom_data(&writer, &*customData_);
    qcrash_async_file_t file;
    qcrash_async_file_init(&file, fd, detail::kReportFileLimit);
    qcrash_log_signal_info_t signal{};
    signal.signo = SIGTRAP;
    signal.code = TRAP_TRACE;
    signal.address = reinterpret_cast<uint64_t>(__builtin_return_address(0));
    LiveWrite live{&writer, thread, &file, &signal};
    const qcrash_error_t written = callingThread ? qcrash_async_thread_state_current(writeFromHere, &live)
                                                 : writeFromHere(nullptr, &live);
    qcrash_log_writer_close(&writer);
    const bool closed = qcrash_async_file_close(&file);
    qcrash_log_writer_free(&writer);

    std::optional<std::vector<uint8_t>> result;
    if (written != QCRASH_ESUCCESS || !closed) {
        log(std::string("Write failed with error ") + qcrash_async_strerror(written));
        if (error != nullptr) {
            *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorUnknown,
                                             "Failed to write the crash report to disk");
        }
    } else if (auto data = platform::FileManager::defaultManager().readFileSafely(temporary, 16u << 20)) {
        result = std::vector<uint8_t>(data->begin(), data->end());
    } else if (error != nullptr) {
        *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorUnknown,
                                         "Unable to open live crash report for reading");
    }
    if (unlink(temporary.c_str()) != 0) {
        log(std::string("Failure occured deleting live crash report: ") + std::strerror(errno));
    }
    return result;
}

}  // namespace tervolo::crash
