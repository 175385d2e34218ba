// Crash report files from arbitrary bytes: decoding, building the model and
// formatting the text must never crash or leak, whatever the file holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crash/QCrashReport.hpp"
#include "crash/QCrashReportTextFormatter.hpp"

using namespace tervolo::crash;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    platform::Error error;
    const auto report = QCrashReport::create(bytes, &error);
    if (!report) {
        if (error.code != 2) __builtin_trap();
        return 0;
    }
    const auto text =
        QCrashReportTextFormatter(0, QCrashReportTextFormatter::kUTF8StringEncoding).formatReport(*report);
    if (text.empty()) __builtin_trap();
    for (const auto& thread : report->threads()) {
        for (const auto& frame : thread.stackFrames())
            (void)report->imageForAddress(frame.instructionPointer());
    }
    return 0;
}
