#include "crash/QCrashReportTextFormatter.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <string_view>

#include "platform/foundation/OSLog.hpp"

namespace tervolo::crash {

namespace {

constexpr const char* kMissing = "???";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) vsnprintf(text.data(), text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

std::string operatingSystemName(int32_t os) {
    switch (os) {
        case 0:
        case 2:
            return "Mac OS X";
        case 1:
            return "iPhone OS";
        case 4:
            return "Apple tvOS";
        default:
            return format("Unknown (%d)", os);
    }
}

struct CodeType {
    std::string name;
    bool lp64;
};

std::optional<CodeType> knownCodeType(uint64_t type) {
    switch (type) {
        case 7:
            return CodeType{"X86", false};
        case 12:
            return CodeType{"ARM", false};
        case 18:
            return CodeType{"PPC", false};
        case 16777223:
            return CodeType{"X86-64", true};
        case 16777228:
            return CodeType{"ARM-64", true};
        default:
            return std::nullopt;
    }
}

CodeType codeTypeOf(const QCrashReport& report) {
    for (const auto& image : report.images()) {
        const auto& cpu = image.codeType();
        if (!cpu || cpu->typeEncoding() != 1) continue;
        if (auto known = knownCodeType(cpu->type())) return *known;
    }
    const auto& cpu = report.systemInfo().processorInfo();
    if (cpu && cpu->typeEncoding() == 1) {
        if (auto known = knownCodeType(cpu->type())) return *known;
        return CodeType{format("Unknown (%" PRIu64 ")", cpu->type()), true};
    }
    return CodeType{"Unknown", true};
}

std::string architectureName(const std::optional<QCrashReportProcessorInfo>& cpu) {
    if (!cpu || cpu->typeEncoding() != 1) return kMissing;
    const uint64_t subtype = cpu->subtype() & 0xFFFFFF;
    switch (cpu->type()) {
        case 7:
            return "i386";
        case 18:
            return "powerpc";
        case 16777223:
            return "x86_64";
        case 16777228:
            return subtype == 0   ? "arm64"
                   : subtype == 1 ? "armv8"
                   : subtype == 2 ? "arm64e"
                                  : "arm64-unknown";
        case 12:
            return subtype == 6 ? "armv6" : subtype == 9 ? "armv7" : subtype == 11 ? "armv7s" : "arm-unknown";
        default:
            return kMissing;
    }
}

// "YYYY-MM-DD hh:mm:ss +0000" in the proleptic Gregorian calendar, worked out here rather than
// with gmtime_r: the C library's time conversion loads the local time zone file on its first
// call, a file read that a process formatting one report makes only to leave it unused, and
// gmtime_r gives up on years beyond an int.
std::string dateText(const std::optional<platform::Date>& date) {
    if (!date) return "(null)";
    // Report times are 64-bit seconds, which a double rounds: the largest comes back as 2^63,
    // beyond the 64-bit range, and is taken as the largest there is.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    const double floored = std::floor(date->unixTime());
    int64_t seconds = 0;
    if (floored >= kTwoTo63) {
        seconds = std::numeric_limits<int64_t>::max();
    } else if (floored >= -kTwoTo63) {
        seconds = static_cast<int64_t>(floored);
    } else if (floored < -kTwoTo63) {
        seconds = std::numeric_limits<int64_t>::min();
    }  // not a number: 0
    int64_t days = seconds / 86400;
    int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date, in 400-year eras of 146097 days that start on 1 March.
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%" PRId64 "-%02d-%02d %02d:%02d:%02d +0000", year,
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    return buffer;
}

// The default-level system log records of one report's backtraces: a report may hold thousands
// (one per symbol whose prefix rules are unknown), so the log is looked up once and every
// record's text is put together in the same buffer.
class DefaultLogLines {
  public:
    void write(std::initializer_list<std::string_view> parts) {
        text_.clear();
        for (std::string_view part : parts) text_.append(part);
        log_->write(platform::OSLogType::Default, text_);
    }
    // The buffer, for a record written piece by piece; written with write().
    std::string& text() { return text_; }
    void write() { log_->write(platform::OSLogType::Default, text_); }

  private:
    std::shared_ptr<platform::OSLog> log_ = platform::OSLog::defaultLog();
    std::string text_;
};

std::string_view lastPathComponentView(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Appends `text` left-aligned in `width` characters, counted as code points.
void appendPadded(std::string& out, std::string_view text, size_t width) {
    size_t characters = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++characters;
    }
    out.append(text);
    if (characters < width) out.append(width - characters, ' ');
}

// Number writers for the backtrace lines, which a report holds by the thousand: digits go
// straight into the text, without a format string to parse per line.

// Decimal, left-aligned in `width` columns.
void appendUnsigned(std::string& out, uint64_t value, size_t width) {
    char digits[20];
    size_t n = 0;
    do {
        digits[sizeof digits - ++n] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.append(digits + sizeof digits - n, n);
    if (n < width) out.append(width - n, ' ');
}

void appendSigned(std::string& out, int64_t value) {
    if (value < 0) out.push_back('-');
    // The magnitude in unsigned arithmetic: the most negative value has no positive twin.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    appendUnsigned(out, magnitude, 0);
}

// Lower-case hexadecimal, zero-padded to at least `minDigits`.
void appendHex(std::string& out, uint64_t value, size_t minDigits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char digits[16];
    size_t n = 0;
    do {
        digits[sizeof digits - ++n] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    if (n < minDigits) out.append(minDigits - n, '0');
    out.append(digits + sizeof digits - n, n);
}

// One backtrace line appended to the report text: a report holds thousands, so the line is
// written in place rather than assembled from temporary strings.
void appendStackFrame(std::string& out, const QCrashReportStackFrameInfo& frame, uint64_t frameIndex,
                      const QCrashReport& report, bool lp64, DefaultLogLines& log) {
    const uint64_t pc = frame.instructionPointer();
    std::string_view imageName = kMissing;
    uint64_t base = 0;
    uint64_t offset = 0;
    if (const auto* image = report.imageForAddress(pc)) {
        imageName = lastPathComponentView(image->imageName());
        base = image->imageBaseAddress();
        offset = pc - base;
    } else if (pc != 0) {
        std::string& message = log.text();
        message.assign("[QCrashReporter] Cannot find image for 0x");
        appendHex(message, pc, 1);
        log.write();
    }
    appendUnsigned(out, frameIndex, 4);
    appendPadded(out, imageName, 35);
    out.append(" 0x");
    appendHex(out, pc, lp64 ? 16 : 8);
    out.push_back(' ');
    if (!frame.symbolInfo()) {
        out.append("0x");
        appendHex(out, base, 1);
        out.append(" + ");
        appendSigned(out, static_cast<int64_t>(offset));
        out.push_back('\n');
        return;
    }
    std::string_view name = frame.symbolInfo()->symbolName();
    if (name.size() > 1 && name[0] == '_') {
        const int32_t os = report.systemInfo().operatingSystem();
        if (os == 0 || os == 1 || os == 2 || os == 4) {
            name.remove_prefix(1);
        } else {
            log.write({"[QCrashReporter] Symbol \"", name, "\" prefix rules are unknown for this OS!"});
        }
    }
    out.append(name);
    out.append(" + ");
    appendSigned(out, static_cast<int64_t>(pc - frame.symbolInfo()->startAddress()));
    out.push_back('\n');
}

}  // namespace

std::string QCrashReportTextFormatter::formatStackFrame(const QCrashReportStackFrameInfo& frame,
                                                        uint64_t frameIndex, const QCrashReport& report,
                                                        bool lp64) {
    std::string line;
    DefaultLogLines log;
    appendStackFrame(line, frame, frameIndex, report, lp64, log);
    return line;
}

namespace {

// The whole text into `text`. With `pieces`, the text made so far goes to it whenever it has
// reached `pieceBytes` and `text` starts again empty (the last piece stays in `text`); false when
// `pieces` refused one.
bool formatText(const QCrashReport& report, std::string& text,
                const std::function<bool(std::string_view)>* pieces, size_t pieceBytes) {
    const CodeType codeType = codeTypeOf(report);
    DefaultLogLines log;
    const auto& process = report.processInfo();
    const auto& app = report.applicationInfo();
    const auto& system = report.systemInfo();
    const auto handOut = [&] {
        if (pieces == nullptr || text.size() < pieceBytes) return true;
        if (!(*pieces)(text)) return false;
        text.clear();
        return true;
    };

    // Absent values print as "???".
    const auto orMissing = [](const std::optional<std::string_view>& value) -> std::string_view {
        return value ? *value : std::string_view(kMissing);
    };
    const auto line = [&text](std::initializer_list<std::string_view> parts) {
        for (std::string_view part : parts) text.append(part);
        text.push_back('\n');
    };
    const std::string incident = report.uuidRef() ? report.uuidRef()->uuidString() : kMissing;
    line({"Incident Identifier: ", incident});
    line({"Hardware Model:      ",
          orMissing(report.machineInfo() ? report.machineInfo()->modelName() : std::nullopt)});
    const std::string_view processName = orMissing(process ? process->processName() : std::nullopt);
    const std::string processID = process ? std::to_string(process->processID()) : kMissing;
    line({"Process:         ", processName, " [", processID, "]"});
    line({"Path:            ", orMissing(process ? process->processPath() : std::nullopt)});
    line({"Identifier:      ", app.applicationIdentifier()});
    if (const auto marketing = app.applicationMarketingVersion()) {
        line({"Version:         ", *marketing, " (", app.applicationVersion(), ")"});
    } else {
        line({"Version:         ", app.applicationVersion()});
    }
    line({"Code Type:       ", codeType.name});
    const std::string_view parentName = orMissing(process ? process->parentProcessName() : std::nullopt);
    const std::string parentID = process ? std::to_string(process->parentProcessID()) : kMissing;
    line({"Parent Process:  ", parentName, " [", parentID, "]"});
    text += "\n";
    line({"Date/Time:       ", dateText(system.timestamp())});
    line({"OS Version:      ", operatingSystemName(system.operatingSystem()), " ",
          system.operatingSystemVersion(), " (", orMissing(system.operatingSystemBuild()), ")"});
    text += "Report Version:  104\n";
    text += "\n";
    line({"Exception Type:  ", report.signalInfo().name()});
    text.append("Exception Codes: ").append(report.signalInfo().code()).append(" at 0x");
    appendHex(text, report.signalInfo().address(), 1);
    text.push_back('\n');
    for (const auto& thread : report.threads()) {
        if (thread.crashed()) {
            text += format("Crashed Thread:  %" PRId64 "\n", thread.threadNumber());
            break;
        }
    }
    text += "\n";

    if (const auto& exception = report.exceptionInfo()) {
        text += "Application Specific Information:\n";
        line({"*** Terminating app due to uncaught exception '", exception->exceptionName(), "', reason: '",
              exception->exceptionReason(), "'"});
        text += "\n";
        if (exception->stackFrames() && !exception->stackFrames()->empty()) {
            text += "Last Exception Backtrace:\n";
            uint64_t index = 0;
            for (const auto& frame : *exception->stackFrames()) {
                appendStackFrame(text, frame, index++, report, codeType.lp64, log);
                if (!handOut()) return false;
            }
            text += "\n";
        }
    }

    const QCrashReportThreadInfo* crashed = nullptr;
    for (const auto& thread : report.threads()) {
        text += format(thread.crashed() ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n",
                       thread.threadNumber());
        uint64_t index = 0;
        for (const auto& frame : thread.stackFrames()) {
            appendStackFrame(text, frame, index++, report, codeType.lp64, log);
            if (!handOut()) return false;
        }
        text += "\n";
        if (thread.crashed()) crashed = &thread;
    }

    if (crashed != nullptr) {
        text += format("Thread %" PRId64 " crashed with ", crashed->threadNumber()) + codeType.name +
                " Thread State:\n";
        const auto& cpu = report.machineInfo() ? report.machineInfo()->processorInfo() : std::nullopt;
        const bool arm = cpu && cpu->typeEncoding() == 1 && (cpu->type() & 0xFFFFFF) == 12;
        size_t count = 0;
        for (const auto& reg : crashed->registers()) {
            const std::string name(arm && reg.registerName() == "r12" ? "ip" : reg.registerName());
            text += codeType.lp64 ? format("%6s: 0x%016" PRIx64 " ", name.c_str(), reg.registerValue())
                                  : format("%6s: 0x%08" PRIx64 " ", name.c_str(), reg.registerValue());
            if (++count % 4 == 0) text += "\n";
        }
        if (count % 4 != 0) text += "\n";
        text += "\n";
    }

    text += "Binary Images:\n";
    std::vector<const QCrashReportBinaryImageInfo*> images;
    for (const auto& image : report.images()) images.push_back(&image);
    std::stable_sort(images.begin(), images.end(), [](const auto* a, const auto* b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    uint64_t previousBase = 0;
    const std::optional<std::string_view> path = process ? process->processPath() : std::nullopt;
    for (const auto* image : images) {
        const uint64_t base = image->imageBaseAddress();
        if (base == previousBase) continue;
        previousBase = base;
        const uint64_t end = base + std::max<uint64_t>(image->imageSize(), 1) - 1;
        const char* marker = path && image->imageName() == *path ? "+" : " ";
        text += codeType.lp64 ? format("%#18" PRIx64 " - %#18" PRIx64 " ", base, end)
                              : format("%#10" PRIx64 " - %#10" PRIx64 " ", base, end);
        line({marker, lastPathComponentView(image->imageName()), " ", architectureName(image->codeType()),
              "  <", image->imageUUID() ? std::string_view(*image->imageUUID()) : std::string_view(kMissing),
              "> ", image->imageName()});
        if (!handOut()) return false;
    }
    return true;
}

// About 90 bytes a backtrace line and 150 an image line, so a text reserved at this size grows
// without copies.
size_t estimatedTextBytes(const QCrashReport& report) {
    size_t frames = 0;
    for (const auto& thread : report.threads()) frames += thread.stackFrames().size();
    if (const auto& exception = report.exceptionInfo(); exception && exception->stackFrames()) {
        frames += exception->stackFrames()->size();
    }
    return 2048 + frames * 96 + report.images().size() * 160;
}

}  // namespace

std::string QCrashReportTextFormatter::stringValueForCrashReport(const QCrashReport& report, int32_t) {
    std::string text;
    text.reserve(estimatedTextBytes(report));
    formatText(report, text, nullptr, 0);
    return text;
}

bool QCrashReportTextFormatter::writeCrashReport(const QCrashReport& report,
                                                 const std::function<bool(std::string_view)>& write,
                                                 size_t pieceBytes) {
    std::string text;
    // A line may take the piece past its size, so the buffer has room for one more.
    text.reserve(pieceBytes + 4096);
    if (!formatText(report, text, &write, std::max<size_t>(pieceBytes, 1))) return false;
    return text.empty() || write(text);
}

std::vector<uint8_t> QCrashReportTextFormatter::formatReport(const QCrashReport& report,
                                                             platform::Error*) const {
    // The bytes are made from the text a piece at a time, so the whole text is never held twice
    // (beside the report, whose texts are views into what it unpacked).
    std::vector<uint8_t> bytes;
    bytes.reserve(estimatedTextBytes(report));
    const bool ascii = stringEncoding_ == kASCIIStringEncoding;
    writeCrashReport(report, [&](std::string_view piece) {
        if (!ascii) {
            bytes.insert(bytes.end(), piece.begin(), piece.end());
            return true;
        }
        // Lossy ASCII: one "?" per character outside it. Pieces end at line ends, never inside a
        // character.
        for (const char byte : piece) {
            const auto c = static_cast<unsigned char>(byte);
            if (c < 0x80) {
                bytes.push_back(c);
            } else if ((c & 0xC0) != 0x80) {
                bytes.push_back('?');
            }
        }
        return true;
    });
    return bytes;
}

}  // namespace tervolo::crash
