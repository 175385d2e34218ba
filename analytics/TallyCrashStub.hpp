#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/TallyBinaryImages.hpp"
#include "analytics/TallyJSON.hpp"

namespace tervolo::analytics {

// The few facts of a crash that a dying process can still write safely. A
// signal handler may run while the crashed thread holds the allocator's or
// the queue's lock, so nothing here allocates, locks or formats with the C
// library: everything is prepared at start (the open file, the image table,
// the buffers) and the handler fills a static buffer and hands it to one
// pwrite(2). The next start reads the stub and queues the full crash record.
namespace TallyCrashStub {

// Opens `path` for the stub (created empty, mode 0600), remembers the
// process's images and the start time (seconds since 1970). Any thread, not
// in a handler.
bool prepare(const std::string& path, double startTime);
// Closes the file; an empty stub is removed.
void close(const std::string& path);
// The breadcrumbs to carry, already joined ("" for none). Not in a handler.
void setLogs(std::string_view logs);
void setInBackground(bool inBackground);

// Async-signal-safe. The first call writes the stub; later calls (an abort
// raised by the terminate handler's own stub) do nothing.
void writeSignal(int signal, void* const* frames, int count);
void writeException(const char* type, const char* reason, void* const* frames, int count);
bool written();

struct Stub {
    bool isSignal = false;
    int signal = 0;
    std::string type;    // demangled C++ type of an uncaught exception
    std::string reason;  // its what()
    int64_t timeMilliseconds = 0;
    int64_t runSeconds = 0;
    bool inBackground = false;
    std::vector<std::string> stackLines;  // in the server's layout
    TallyJSON binaryImages = TallyJSON::object();
    std::string buildUUID;
    std::string executableName;
    std::string logs;
};
// Nothing for an empty, torn or foreign file.
std::optional<Stub> read(std::string_view bytes);

// "SEGV" for SIGSEGV; "UNKNOWN" for a number it does not know. Async-signal-safe.
const char* signalName(int signal);

}  // namespace TallyCrashStub

}  // namespace tervolo::analytics
