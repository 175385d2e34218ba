#include "analytics/TallyCrashStub.hpp"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace tervolo::analytics::TallyCrashStub {

namespace {

constexpr std::string_view kMarker = "TALLY-CRASH-STUB 1\n";
constexpr std::string_view kEnd = "end\n";
constexpr size_t kMaxImages = 512;
constexpr size_t kNameBytes = 128;
constexpr size_t kLogBytes = 192 * 1024;
constexpr size_t kBufferBytes = kLogBytes + 256 * 1024;

struct ImageEntry {
    uint64_t low;
    uint64_t high;
    char name[kNameBytes];
    char uuid[40];
    bool main;
};

// All state lives in static storage: nothing to allocate in a handler.
ImageEntry gImages[kMaxImages];
size_t gImageCount = 0;
int gFD = -1;
double gStartTime = 0;
std::atomic<bool> gWritten{false};
std::atomic<bool> gInBackground{false};
// Two log buffers: setLogs() fills the one not in use and then flips.
char gLogs[2][kLogBytes];
size_t gLogLength[2] = {0, 0};
std::atomic<int> gActiveLog{0};
std::mutex gLogMutex;
char gBuffer[kBufferBytes];

class Writer {
  public:
    void text(std::string_view value) {
        const size_t n = value.size() < kBufferBytes - length_ ? value.size() : kBufferBytes - length_;
        std::memcpy(gBuffer + length_, value.data(), n);
        length_ += n;
    }
    void text(const char* value) { text(std::string_view(value, std::strlen(value))); }
    void decimal(int64_t value) {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) text("-");
        while (n > 0) text(std::string_view(&digits[--n], 1));
    }
    void hex(uint64_t value) {
        char digits[17];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 0xF];
            value >>= 4;
        } while (value != 0);
        while (n > 0) text(std::string_view(&digits[--n], 1));
    }
    // "<key> <length>\n<bytes>\n": any bytes, newlines included.
    void blob(const char* key, std::string_view value) {
        text(key);
        text(" ");
        decimal(static_cast<int64_t>(value.size()));
        text("\n");
        text(value);
        text("\n");
    }
    size_t length() const { return length_; }

  private:
    size_t length_ = 0;
};

void writeStub(bool isSignal, int signal, const char* type, const char* reason, void* const* frames,
               int count) {
    if (gFD < 0 || gWritten.exchange(true)) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t milliseconds = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    Writer out;
    out.text(kMarker);
    out.text(isSignal ? "kind signal\n" : "kind exception\n");
    out.text("signal ");
    out.decimal(signal);
    out.text("\ntime ");
    out.decimal(milliseconds);
    out.text("\nrun ");
    out.decimal(static_cast<int64_t>(now.tv_sec) - static_cast<int64_t>(gStartTime));
    out.text(gInBackground.load() ? "\nbackground 1\n" : "\nbackground 0\n");
    out.blob("type", type != nullptr ? std::string_view(type, std::strlen(type)) : std::string_view());
    out.blob("reason",
             reason != nullptr ? std::string_view(reason, std::strlen(reason)) : std::string_view());
    bool used[kMaxImages] = {};
    for (int i = 0; i < count; ++i) {
        const auto address = reinterpret_cast<uint64_t>(frames[i]);
        int64_t image = -1;
        for (size_t k = 0; k < gImageCount; ++k) {
            if (address >= gImages[k].low && address < gImages[k].high) {
                image = static_cast<int64_t>(k);
                used[k] = true;
                break;
            }
        }
        out.text("frame ");
        out.hex(address);
        out.text(" ");
        out.decimal(image);
        out.text("\n");
    }
    for (size_t k = 0; k < gImageCount; ++k) {
        if (!used[k]) continue;
        out.text("image ");
        out.decimal(static_cast<int64_t>(k));
        out.text(" ");
        out.hex(gImages[k].low);
        out.text(gImages[k].main ? " 1 " : " 0 ");
        out.text(gImages[k].uuid[0] != '\0' ? gImages[k].uuid : "-");
        out.text("\n");
        out.blob("name", gImages[k].name);
    }
    const int active = gActiveLog.load();
    out.blob("logs", std::string_view(gLogs[active], gLogLength[active]));
    out.text(kEnd);
    size_t done = 0;
    while (done < out.length()) {
        const ssize_t n = ::pwrite(gFD, gBuffer + done, out.length() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::fsync(gFD);
}

// A line reader over the stub's text.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    std::optional<std::string_view> line() {
        const size_t end = rest_.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        auto line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }
    std::optional<std::string_view> bytes(size_t n) {
        if (rest_.size() < n + 1 || rest_[n] != '\n') return std::nullopt;
        auto value = rest_.substr(0, n);
        rest_.remove_prefix(n + 1);
        return value;
    }

  private:
    std::string_view rest_;
};

std::optional<int64_t> number(std::string_view text, int base = 10) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), &end, base);
    if (errno != 0 || end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

std::optional<uint64_t> hexNumber(std::string_view text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::string copy(text);
    char* end = nullptr;
    const unsigned long long value = std::strtoull(copy.c_str(), &end, 16);
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

std::pair<std::string_view, std::string_view> split(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}};
    return {line.substr(0, space), line.substr(space + 1)};
}

}  // namespace

const char* signalName(int signal) {
    switch (signal) {
        case SIGABRT:
            return "ABRT";
        case SIGILL:
            return "ILL";
        case SIGSEGV:
            return "SEGV";
        case SIGFPE:
            return "FPE";
        case SIGBUS:
            return "BUS";
        case SIGPIPE:
            return "PIPE";
        case SIGTRAP:
            return "TRAP";
        default:
            return "UNKNOWN";
    }
}

bool prepare(const std::string& path, double startTime) {
    const auto images = TallyLoadedImages();
    gImageCount = 0;
    for (const auto& image : images) {
        if (gImageCount == kMaxImages) break;
        ImageEntry& entry = gImages[gImageCount++];
        entry.low = image.loadAddress;
        entry.high = image.endAddress;
        std::snprintf(entry.name, sizeof entry.name, "%s", image.name.c_str());
        std::snprintf(entry.uuid, sizeof entry.uuid, "%s", image.buildUUID.value_or("").c_str());
        entry.main = image.isMainExecutable;
    }
    gStartTime = startTime;
    gWritten = false;
    if (gFD >= 0) ::close(gFD);
    gFD = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return gFD >= 0;
}

void close(const std::string& path) {
    if (gFD < 0) return;
    ::close(gFD);
    gFD = -1;
    if (!gWritten) ::unlink(path.c_str());
}

void setLogs(std::string_view logs) {
    std::lock_guard lock(gLogMutex);
    const int next = 1 - gActiveLog.load();
    // Keep the newest breadcrumbs when they do not all fit.
    if (logs.size() > kLogBytes) logs = logs.substr(logs.size() - kLogBytes);
    std::memcpy(gLogs[next], logs.data(), logs.size());
    gLogLength[next] = logs.size();
    gActiveLog.store(next);
}

void setInBackground(bool inBackground) {
    gInBackground = inBackground;
}

void writeSignal(int signal, void* const* frames, int count) {
    char reason[64] = "App terminated by SIG";
    const char* name = signalName(signal);
    std::strncat(reason, name, sizeof reason - std::strlen(reason) - 1);
    writeStub(true, signal, "Fatal Signal", reason, frames, count);
}

void writeException(const char* type, const char* reason, void* const* frames, int count) {
    writeStub(false, 0, type, reason, frames, count);
}

bool written() {
    return gWritten.load();
}

std::optional<Stub> read(std::string_view bytes) {
    if (bytes.substr(0, kMarker.size()) != kMarker || bytes.size() < kEnd.size() ||
        bytes.substr(bytes.size() - kEnd.size()) != kEnd) {
        return std::nullopt;
    }
    Reader reader(bytes.substr(kMarker.size()));
    Stub stub;
    struct Frame {
        uint64_t address;
        int64_t image;
    };
    std::vector<Frame> frames;
    struct Image {
        uint64_t load;
        bool main;
        std::string uuid;
        std::string name;
    };
    std::map<int64_t, Image> images;
    while (auto line = reader.line()) {
        const auto [key, value] = split(*line);
        if (key == "end") {
            break;
        } else if (key == "kind") {
            stub.isSignal = value == "signal";
        } else if (key == "signal" || key == "time" || key == "run" || key == "background") {
            const auto n = number(value);
            if (!n) return std::nullopt;
            if (key == "signal") stub.signal = static_cast<int>(*n);
            if (key == "time") stub.timeMilliseconds = *n;
            if (key == "run") stub.runSeconds = *n;
            if (key == "background") stub.inBackground = *n != 0;
        } else if (key == "type" || key == "reason" || key == "logs") {
            const auto length = number(value);
            if (!length || *length < 0) return std::nullopt;
            const auto text = reader.bytes(static_cast<size_t>(*length));
            if (!text) return std::nullopt;
            (key == "type" ? stub.type : key == "reason" ? stub.reason : stub.logs) = std::string(*text);
        } else if (key == "frame") {
            const auto [address, image] = split(value);
            const auto a = hexNumber(address);
            const auto i = number(image);
            if (!a || !i) return std::nullopt;
            frames.push_back({*a, *i});
        } else if (key == "image") {
            // "image <index> <load> <main> <uuid>" then "name <length>\n<name>"
            const auto [index, rest] = split(value);
            const auto [load, rest2] = split(rest);
            const auto [main, uuid] = split(rest2);
            const auto i = number(index);
            const auto l = hexNumber(load);
            const auto nameLine = reader.line();
            if (!i || !l || !nameLine) return std::nullopt;
            const auto [nameKey, nameLength] = split(*nameLine);
            const auto n = number(nameLength);
            if (nameKey != "name" || !n || *n < 0) return std::nullopt;
            const auto name = reader.bytes(static_cast<size_t>(*n));
            if (!name) return std::nullopt;
            images[*i] =
                Image{*l, main == "1", uuid == "-" ? std::string() : std::string(uuid), std::string(*name)};
        } else {
            return std::nullopt;
        }
    }
    for (size_t k = 0; k < frames.size(); ++k) {
        const auto found = images.find(frames[k].image);
        if (found == images.end()) {
            stub.stackLines.push_back(
                TallyFormatStackLine(static_cast<int>(k), "???", frames[k].address, "???", 0));
            continue;
        }
        const Image& image = found->second;
        stub.stackLines.push_back(TallyFormatStackLine(static_cast<int>(k), image.name, frames[k].address,
                                                       image.name, frames[k].address - image.load));
    }
    for (const auto& [index, image] : images) {
        if (image.uuid.empty()) continue;
        char address[32];
        std::snprintf(address, sizeof address, "0x%" PRIX64, image.load);
        TallyJSON entry = TallyJSON::object();
        entry["la"] = address;
        entry["id"] = image.uuid;
        stub.binaryImages[image.name] = entry;
        if (image.main) {
            stub.buildUUID = image.uuid;
            stub.executableName = image.name;
        }
    }
    return stub;
}

}  // namespace tervolo::analytics::TallyCrashStub
