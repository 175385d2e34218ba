#pragma once

// Mach exception mode: exception-port registrations and the exception server.
//
// Linux has no Mach IPC, no task or thread ports and no exception ports, so
// the registrations can be described (and their fixed-size form built for
// the crash handler) but never fetched, swapped or served: those operations
// fail with code 1 of "QCrashReporterErrorDomain" whose underlying error is
// ENOTSUP. The crash reporter's signal mode is what runs on Linux.
//
// Thread: any; the objects are plain values.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crash/MachException.hpp"
#include "platform/foundation/Error.hpp"

namespace tervolo::crash {

class QCrashMachExceptionPortSet;

// One registration of an exception port: port, exception mask, behaviour
// and thread-state flavour.
class QCrashMachExceptionPort {
  public:
    QCrashMachExceptionPort(uint32_t serverPort, uint32_t mask, int32_t behavior, int32_t flavor)
        : server_port_(serverPort), mask_(mask), behavior_(behavior), flavor_(flavor) {}

    uint32_t server_port() const { return server_port_; }
    uint32_t mask() const { return mask_; }
    int32_t behavior() const { return behavior_; }
    int32_t flavor() const { return flavor_; }

    bool operator==(const QCrashMachExceptionPort&) const = default;

    // The registrations in force for `mask`: always an error here ("Failed
    // to fetch mach exception ports").
    static std::optional<QCrashMachExceptionPortSet> exceptionPortsForTask(uint32_t task, uint32_t mask,
                                                                           platform::Error* error = nullptr);
    static std::optional<QCrashMachExceptionPortSet> exceptionPortsForThread(
        uint32_t thread, uint32_t mask, platform::Error* error = nullptr);

    // Swaps this registration in: always an error here ("Failed to swap mach
    // exception ports").
    bool registerForTask(uint32_t task, std::optional<QCrashMachExceptionPortSet>* previous,
                         platform::Error* error = nullptr) const;
    bool registerForThread(uint32_t thread, std::optional<QCrashMachExceptionPortSet>* previous,
                           platform::Error* error = nullptr) const;

  private:
    uint32_t server_port_;
    uint32_t mask_;
    int32_t behavior_;
    int32_t flavor_;
};

// The registrations that were in force before ours, as objects and in the
// fixed form the crash handler forwards from.
class QCrashMachExceptionPortSet {
  public:
    // At most 14 ports (one per exception type); more fail the assertion
    // "Set size of N exceeds EXC_TYPES_COUNT (14)" and only the first 14 are
    // kept.
    explicit QCrashMachExceptionPortSet(std::vector<QCrashMachExceptionPort> set);
    // A count above 14 fails the assertion "Count of N exceeds
    // EXC_TYPES_COUNT (14)" and only the first 14 entries are taken.
    explicit QCrashMachExceptionPortSet(const qcrash_mach_exception_port_set& asyncSafeRepresentation);

    const std::vector<QCrashMachExceptionPort>& set() const { return set_; }
    const qcrash_mach_exception_port_set& asyncSafeRepresentation() const { return asyncSafe_; }

    auto begin() const { return set_.begin(); }
    auto end() const { return set_.end(); }

  private:
    std::vector<QCrashMachExceptionPort> set_;
    qcrash_mach_exception_port_set asyncSafe_{};
};

// The exception server: a receive port and a thread answering exception
// messages through a callback. It cannot run here: create() always fails.
class QCrashMachExceptionServer {
  public:
    // None, with code 1 "Failed to allocate exception server's port" and the
    // underlying ENOTSUP error.
    static std::shared_ptr<QCrashMachExceptionServer> create(qcrash_mach_exception_callback callback,
                                                             void* context, platform::Error* error = nullptr);

  private:
    QCrashMachExceptionServer() = default;
};

// The underlying error of every Mach operation on this system.
platform::Error machUnavailableError();

}  // namespace tervolo::crash
