#include "crash/QCrashMachExceptionServer.hpp"

#include <errno.h>

#include <string>

#include "crash/QCrashReporterError.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::crash {

namespace {

template <typename T>
T failed(platform::Error* error, const char* description, T none) {
    if (error != nullptr) {
        *error = makeQCrashReporterError(QCrashReporterError::QCrashReporterErrorOperatingSystem, description,
                                         machUnavailableError());
    }
    return none;
}

std::string exceedsText(const char* what, size_t count) {
    return std::string(what) + " of " + std::to_string(count) + " exceeds EXC_TYPES_COUNT (" +
           std::to_string(QCRASH_EXC_TYPES_COUNT) + ")";
}

}  // namespace

platform::Error machUnavailableError() {
    return platform::Error::posix(ENOTSUP, "Mach exception ports are not available on Linux");
}

std::optional<QCrashMachExceptionPortSet> QCrashMachExceptionPort::exceptionPortsForTask(
    uint32_t, uint32_t, platform::Error* error) {
    return failed<std::optional<QCrashMachExceptionPortSet>>(error, "Failed to fetch mach exception ports",
                                                             std::nullopt);
}

std::optional<QCrashMachExceptionPortSet> QCrashMachExceptionPort::exceptionPortsForThread(
    uint32_t, uint32_t, platform::Error* error) {
    return failed<std::optional<QCrashMachExceptionPortSet>>(error, "Failed to fetch mach exception ports",
                                                             std::nullopt);
}

bool QCrashMachExceptionPort::registerForTask(uint32_t, std::optional<QCrashMachExceptionPortSet>*,
                                              platform::Error* error) const {
    return failed(error, "Failed to swap mach exception ports", false);
}

bool QCrashMachExceptionPort::registerForThread(uint32_t, std::optional<QCrashMachExceptionPortSet>*,
                                                platform::Error* error) const {
    return failed(error, "Failed to swap mach exception ports", false);
}

QCrashMachExceptionPortSet::QCrashMachExceptionPortSet(std::vector<QCrashMachExceptionPort> set)
    : set_(std::move(set)) {
    PLATFORM_ASSERT(set_.size() <= QCRASH_EXC_TYPES_COUNT, exceedsText("Set size", set_.size()));
    if (set_.size() > QCRASH_EXC_TYPES_COUNT) set_.erase(set_.begin() + QCRASH_EXC_TYPES_COUNT, set_.end());
    asyncSafe_.count = static_cast<uint32_t>(set_.size());
    for (size_t i = 0; i < set_.size(); ++i) {
        asyncSafe_.masks[i] = set_[i].mask();
        asyncSafe_.ports[i] = set_[i].server_port();
        asyncSafe_.behaviors[i] = set_[i].behavior();
        asyncSafe_.flavors[i] = set_[i].flavor();
    }
}

QCrashMachExceptionPortSet::QCrashMachExceptionPortSet(
    const qcrash_mach_exception_port_set& asyncSafeRepresentation)
    : asyncSafe_(asyncSafeRepresentation) {
    PLATFORM_ASSERT(asyncSafe_.count <= QCRASH_EXC_TYPES_COUNT, exceedsText("Count", asyncSafe_.count));
    if (asyncSafe_.count > QCRASH_EXC_TYPES_COUNT) asyncSafe_.count = QCRASH_EXC_TYPES_COUNT;
    for (uint32_t i = 0; i < asyncSafe_.count; ++i) {
        set_.emplace_back(asyncSafe_.ports[i], asyncSafe_.masks[i], asyncSafe_.behaviors[i],
                          asyncSafe_.flavors[i]);
    }
}

std::shared_ptr<QCrashMachExceptionServer> QCrashMachExceptionServer::create(qcrash_mach_exception_callback,
                                                                             void*, platform::Error* error) {
    return failed<std::shared_ptr<QCrashMachExceptionServer>>(
        error, "Failed to allocate exception server's port", nullptr);
}

}  // namespace tervolo::crash
