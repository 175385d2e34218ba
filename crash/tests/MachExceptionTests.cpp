#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "crash/MachException.hpp"
#include "crash/QCrashMachExceptionServer.hpp"
#include "platform/foundation/Assertion.hpp"

namespace tervolo::crash {
namespace {

TEST(MachException, ExceptionsTranslateToTheKernelsSignals) {
    struct Case {
        int32_t type;
        std::vector<int64_t> codes;
        bool hasSignal;
        int signo;
        int code;
    } cases[] = {
        {1, {1, 0x1000}, true, 11, 1},  // invalid address: SIGSEGV, SEGV_MAPERR
        {1, {2, 0x1000}, true, 10, 2},  // protection failure: SIGBUS, BUS_ADRERR
        {2, {1, 0x1000}, true, 4, 0},   {3, {1, 0x1000}, true, 8, 0},   {4, {1, 0x1000}, true, 7, 0},
        {5, {0x10000, 0}, true, 12, 0}, {5, {0x10001, 0}, true, 13, 0}, {5, {0x10002, 0}, true, 6, 0},
        {5, {0x10003, 0}, true, 9, 0},  {5, {0x10004, 0}, true, 6, 0},  {6, {1, 0x1000}, true, 5, 1},
        {1, {1}, false, 0, 0},          {0, {1, 2}, false, 0, 0},       {7, {1, 2}, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " code " + std::to_string(c.codes[0]));
        qcrash_mach_siginfo_t info{-1, -1, 0};
        ASSERT_EQ(qcrash_async_mach_exception_get_siginfo(c.type, c.codes.data(),
                                                          static_cast<uint32_t>(c.codes.size()), &info),
                  c.hasSignal);
        if (!c.hasSignal) continue;
        EXPECT_EQ(info.signo, c.signo);
        EXPECT_EQ(info.code, c.code);
        EXPECT_EQ(info.address, static_cast<uint64_t>(c.codes[1]));
    }
}

std::vector<QCrashMachExceptionPort> ports(size_t count) {
    std::vector<QCrashMachExceptionPort> list;
    for (size_t i = 0; i < count; ++i)
        list.emplace_back(static_cast<uint32_t>(100 + i), 1u << (i % 14), 1, 1);
    return list;
}

TEST(MachException, PortSetsHoldAtMostOneRegistrationPerExceptionType) {
    std::vector<std::string> failures;
    platform::ScopedAssertionHandler handler(
        [&](std::string_view, std::string_view, std::string_view message) {
            failures.emplace_back(message);
        });

    const QCrashMachExceptionPortSet full(ports(14));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(full.asyncSafeRepresentation().count, 14u);
    EXPECT_EQ(full.asyncSafeRepresentation().ports[13], 113u);
    EXPECT_EQ(full.asyncSafeRepresentation().masks[3], 1u << 3);

    const QCrashMachExceptionPortSet over(ports(15));
    EXPECT_EQ(failures, (std::vector<std::string>{"Set size of 15 exceeds EXC_TYPES_COUNT (14)"}));
    EXPECT_EQ(over.set().size(), 14u);

    // Round trip through the fixed form.
    const QCrashMachExceptionPortSet back(full.asyncSafeRepresentation());
    EXPECT_EQ(back.set(), full.set());
    qcrash_mach_exception_port_set record = full.asyncSafeRepresentation();
    record.count = 15;
    const QCrashMachExceptionPortSet clipped(record);
    EXPECT_EQ(failures.back(), "Count of 15 exceeds EXC_TYPES_COUNT (14)");
    EXPECT_EQ(clipped.set().size(), 14u);
}

TEST(MachException, ForwardingPicksTheFirstValidRegistrationForTheException) {
    qcrash_mach_exception_port_set set{};
    set.count = 4;
    const uint32_t badAccess = 1u << 1;
    set.masks[0] = badAccess;
    set.ports[0] = 0;  // null port: skipped
    set.masks[1] = badAccess;
    set.ports[1] = 0xFFFFFFFFu;  // dead name: skipped
    set.masks[2] = 1u << 3;
    set.ports[2] = 7;  // other exception
    set.masks[3] = badAccess | (1u << 6);
    set.ports[3] = 9;
    EXPECT_EQ(qcrash_mach_exception_forward_entry(&set, 1), 3);
    EXPECT_EQ(qcrash_mach_exception_forward_entry(&set, 3), 2);
    EXPECT_EQ(qcrash_mach_exception_forward_entry(&set, 2), -1);

    const int64_t codes[2] = {1, 0x10};
    struct Case {
        int32_t behavior;
        int expected;
    } cases[] = {
        {1, QCRASH_KERN_NOT_SUPPORTED},  // would be sent; nothing to send it with here
        {2, QCRASH_KERN_NOT_SUPPORTED},
        {3, QCRASH_KERN_NOT_SUPPORTED},
        {static_cast<int32_t>(0x80000001u), QCRASH_KERN_FAILURE},  // asked for 64-bit codes
        {static_cast<int32_t>(0x80000003u), QCRASH_KERN_FAILURE},
        {4, QCRASH_KERN_FAILURE},
    };
    for (const auto& c : cases) {
        set.behaviors[3] = c.behavior;
        EXPECT_EQ(QCrashMachExceptionForward(1, 2, 1, codes, 2, &set), c.expected) << c.behavior;
    }
    EXPECT_EQ(QCrashMachExceptionForward(1, 2, 2, codes, 2, &set), QCRASH_KERN_FAILURE);  // no registration
}

// A request as the server receives it (64-bit codes).
std::vector<uint8_t> request(uint32_t size, uint32_t codeCount, size_t bufferSize) {
    std::vector<uint8_t> buffer(bufferSize, 0);
    auto put = [&](size_t offset, uint32_t value) { std::memcpy(buffer.data() + offset, &value, 4); };
    put(0, 0x80001112u);  // bits; remote disposition 0x12
    put(4, size);
    put(8, 0x1234);  // reply port
    put(20, 2405);   // message id
    put(28, 0x51);   // thread port
    put(40, 0x61);   // task port
    put(60, 1);      // bad access
    put(64, codeCount);
    const int64_t codes[2] = {1, 0xDEAD0};
    if (bufferSize >= 84) std::memcpy(buffer.data() + 68, codes, sizeof codes);
    return buffer;
}

struct Seen {
    uint32_t task = 0, thread = 0, count = 0;
    int32_t type = 0;
    int64_t address = 0;
    int calls = 0;
};

int recordingCallback(uint32_t task, uint32_t thread, int32_t type, const int64_t* codes, uint32_t count,
                      void* context) {
    auto* seen = static_cast<Seen*>(context);
    *seen = {task, thread, count, type, count > 1 ? codes[1] : 0, seen->calls + 1};
    return 0;
}

uint32_t field(const uint8_t* bytes, size_t offset) {
    uint32_t v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
}

TEST(MachException, ServerAnswersRequestsAndDropsMalformedOnes) {
    Seen seen;
    uint8_t reply[QCRASH_MACH_REPLY_SIZE];

    auto good = request(84, 2, 128);
    ASSERT_EQ(qcrash_mach_exception_server_handle(good.data(), good.size(), false, false, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::reply);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.task, 0x61u);
    EXPECT_EQ(seen.thread, 0x51u);
    EXPECT_EQ(seen.type, 1);
    EXPECT_EQ(seen.count, 2u);
    EXPECT_EQ(seen.address, 0xDEAD0);
    EXPECT_EQ(field(reply, 0), 0x12u);  // request bits & 0x1F
    EXPECT_EQ(field(reply, 4), 36u);
    EXPECT_EQ(field(reply, 8), 0x1234u);
    EXPECT_EQ(field(reply, 12), 0u);
    EXPECT_EQ(field(reply, 20), 2505u);  // id + 100
    EXPECT_EQ(field(reply, 32), 0u);     // the callback's result

    auto small = request(75, 2, 128);
    ASSERT_EQ(qcrash_mach_exception_server_handle(small.data(), small.size(), false, false, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::reply);
    EXPECT_EQ(field(reply, 32), static_cast<uint32_t>(QCRASH_KERN_FAILURE));
    EXPECT_EQ(seen.calls, 1);

    // More codes announced than the buffer holds: no answer at all.
    auto overlong = request(84, 7, 128);
    EXPECT_EQ(qcrash_mach_exception_server_handle(overlong.data(), overlong.size(), false, false,
                                                  recordingCallback, &seen, reply),
              qcrash_mach_message_action::drop);
    auto huge = request(84, 0xFFFFFFFFu, 128);
    EXPECT_EQ(qcrash_mach_exception_server_handle(huge.data(), huge.size(), false, false, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::drop);
    EXPECT_EQ(seen.calls, 1);

    // The notify port: no-senders ignored; termination ends the loop only
    // during teardown.
    uint8_t message[QCRASH_MACH_TERMINATION_SIZE];
    qcrash_mach_exception_termination_message(0x77, message);
    EXPECT_EQ(field(message, 0), 19u);
    EXPECT_EQ(field(message, 4), 24u);
    EXPECT_EQ(field(message, 8), 0x77u);
    EXPECT_EQ(field(message, 20), 0xDEADBEEFu);
    EXPECT_EQ(qcrash_mach_exception_server_handle(message, sizeof message, true, true, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::finish);
    EXPECT_EQ(qcrash_mach_exception_server_handle(message, sizeof message, true, false, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::reply);
    EXPECT_EQ(field(reply, 32), static_cast<uint32_t>(QCRASH_KERN_FAILURE));
    std::memcpy(message + 20, &QCRASH_MACH_NOTIFY_NO_SENDERS, 4);
    EXPECT_EQ(qcrash_mach_exception_server_handle(message, sizeof message, true, false, recordingCallback,
                                                  &seen, reply),
              qcrash_mach_message_action::ignore);
    EXPECT_EQ(seen.calls, 1);
}

TEST(MachException, MachModeFailsWithAnOperatingSystemErrorOverENOTSUP) {
    platform::Error error;
    EXPECT_EQ(QCrashMachExceptionServer::create(recordingCallback, nullptr, &error), nullptr);
    EXPECT_EQ(error.domain, "QCrashReporterErrorDomain");
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Failed to allocate exception server's port");
    EXPECT_EQ(error.posixCode, ENOTSUP);
    EXPECT_NE(error.userInfo.at("NSUnderlyingError").find("not available on Linux"), std::string::npos);

    EXPECT_FALSE(QCrashMachExceptionPort::exceptionPortsForTask(1, 0x6E, &error));
    EXPECT_EQ(error.description, "Failed to fetch mach exception ports");
    std::optional<QCrashMachExceptionPortSet> previous;
    EXPECT_FALSE(QCrashMachExceptionPort(5, 0x6E, 1, 1).registerForTask(1, &previous, &error));
    EXPECT_EQ(error.description, "Failed to swap mach exception ports");
    EXPECT_EQ(error.posixCode, ENOTSUP);
    EXPECT_FALSE(previous);
}

}  // namespace
}  // namespace tervolo::crash
