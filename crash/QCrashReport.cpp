#include "crash/QCrashReport.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "crash/QCrashReporterError.hpp"
#include "platform/foundation/Bundle.hpp"

namespace {

// A stored report may carry any integer in an enumeration field (the unpacker
// keeps values it does not know); reading it through the C enumeration type
// would be undefined, so it is read as the integer it is.
template <class Enum>
int32_t rawEnum(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(int32_t));
    int32_t raw;
    std::memcpy(&raw, &field, sizeof raw);
    return raw;
}

}  // namespace

namespace tervolo::crash {

namespace {

constexpr int64_t kReportDefect = 2;
constexpr uint64_t kArm64 = 16777228;
constexpr uint64_t kPointerAuthMask = 68719476735ull;  // the low 36 bits

struct BuildError {
    std::string message;
};

// A defect: `localized` says whether the text goes through the
// localization table (four texts are used as they stand).
[[noreturn]] void fail(const std::string& text, bool localized = true) {
    throw BuildError{localized ? platform::localizedString(text) : text};
}

void setError(platform::Error* error, const std::string& message) {
    if (error == nullptr) return;
    *error = platform::Error{kQCrashReporterErrorDomain, kReportDefect, message, 0, {}};
}

std::optional<std::string_view> optionalString(const char* text) {
    if (text == nullptr) return std::nullopt;
    return std::string_view(text);
}

}  // namespace

// Builds the model section by section; the first defect throws a
// BuildError that create() turns into the error.
class ReportBuilder {
  public:
    explicit ReportBuilder(const Qcrash__CrashReport& message) : m_(message) {}

    std::shared_ptr<QCrashReport> build() {
        auto report = std::shared_ptr<QCrashReport>(new QCrashReport);
        if (m_.report_info != nullptr && m_.report_info->has_uuid) {
            if (m_.report_info->uuid.len != 16) fail("Report UUID value is not a standard 16 bytes", false);
            platform::UUID::Bytes bytes;
            std::memcpy(bytes.data(), m_.report_info->uuid.data, 16);
            report->uuid_ = platform::UUID(bytes);
        }
        if (m_.machine_info != nullptr) report->machineInfo_ = machineInfo(m_.machine_info);
        report->systemInfo_ = systemInfo(m_.system_info, report->machineInfo_);
        report->applicationInfo_ = applicationInfo(m_.application_info);
        if (m_.process_info != nullptr) report->processInfo_ = processInfo(m_.process_info);
        report->signalInfo_ = signalInfo(m_.signal);
        if (m_.signal != nullptr && m_.signal->mach_exception != nullptr) {
            report->machExceptionInfo_ = machException(m_.signal->mach_exception);
        }
        maskPointerAuthentication_ = report->machineInfo_ && report->machineInfo_->processorInfo() &&
                                     report->machineInfo_->processorInfo()->type() == kArm64 &&
                                     report->machineInfo_->processorInfo()->subtype() == 2;
        report->threads_ = threads();
        report->images_ = images();
        if (m_.exception != nullptr) report->exceptionInfo_ = exception(m_.exception);
        if (m_.has_custom_data) {
            report->customData_ =
                std::vector<uint8_t>(m_.custom_data.data, m_.custom_data.data + m_.custom_data.len);
        }
        return report;
    }

  private:
    static QCrashReportProcessorInfo processor(const Qcrash__CrashReport__Processor* p) {
        if (p == nullptr) fail("Crash report is missing processor info section");
        return QCrashReportProcessorInfo(p->has_encoding ? rawEnum(p->encoding) : 0, p->type, p->subtype);
    }

    static QCrashReportProcessorInfo synthesised(int32_t architecture) {
        struct Row {
            uint64_t type, subtype;
        } static constexpr kRows[] = {{7, 3}, {16777223, 3}, {12, 6}, {18, 0}, {16777234, 0}, {12, 9}};
        if (architecture < 0 || architecture > 5) fail("Crash report has an unknown architecture");
        return QCrashReportProcessorInfo(1, kRows[architecture].type, kRows[architecture].subtype);
    }

    static QCrashReportMachineInfo machineInfo(const Qcrash__CrashReport__MachineInfo* info) {
        std::optional<QCrashReportProcessorInfo> cpu;
        if (info->processor != nullptr) cpu = processor(info->processor);
        return QCrashReportMachineInfo(optionalString(info->model), cpu, info->processor_count,
                                       info->logical_processor_count);
    }

    static QCrashReportSystemInfo systemInfo(const Qcrash__CrashReport__SystemInfo* info,
                                             const std::optional<QCrashReportMachineInfo>& machine) {
        if (info == nullptr) fail("Crash report is missing System Information section");
        if (info->os_version == nullptr) fail("Crash report is missing System Information OS version field");
        std::optional<QCrashReportProcessorInfo> cpu;
        if (machine) {
            cpu = machine->processorInfo();
        } else {
            cpu = synthesised(rawEnum(info->architecture));
        }
        std::optional<platform::Date> timestamp;
        if (info->timestamp != 0) timestamp = platform::Date::fromUnix(static_cast<double>(info->timestamp));
        return QCrashReportSystemInfo(
            info->has_operating_system ? rawEnum(info->operating_system)
                                       : QCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN,
            info->os_version, optionalString(info->os_build), rawEnum(info->architecture), cpu, timestamp);
    }

    static QCrashReportApplicationInfo applicationInfo(const Qcrash__CrashReport__ApplicationInfo* info) {
        if (info == nullptr) fail("Crash report is missing Application Information section");
        if (info->identifier == nullptr)
            fail("Crash report is missing Application Information app identifier field");
        if (info->version == nullptr)
            fail("Crash report is missing Application Information app version field");
        return QCrashReportApplicationInfo(info->identifier, info->version,
                                           optionalString(info->marketing_version));
    }

    static QCrashReportProcessInfo processInfo(const Qcrash__CrashReport__ProcessInfo* info) {
        std::optional<platform::Date> start;
        if (info->has_start_time) start = platform::Date::fromUnix(static_cast<double>(info->start_time));
        return QCrashReportProcessInfo(
            optionalString(info->process_name), info->process_id, optionalString(info->process_path), start,
            optionalString(info->parent_process_name), info->parent_process_id, info->native != 0);
    }

    static QCrashReportSignalInfo signalInfo(const Qcrash__CrashReport__Signal* signal) {
        if (signal == nullptr) fail("Crash report is missing Signal Information section");
        if (signal->name == nullptr) fail("Crash report is missing signal name field");
        if (signal->code == nullptr) fail("Crash report is missing signal code field");
        return QCrashReportSignalInfo(signal->name, signal->code, signal->address);
    }

    static QCrashReportMachExceptionInfo machException(
        const Qcrash__CrashReport__Signal__MachException* info) {
        if (info->n_codes >= 256) fail("Crash report includes too many Mach Exception codes");
        return QCrashReportMachExceptionInfo(info->type,
                                             std::vector<uint64_t>(info->codes, info->codes + info->n_codes));
    }

    QCrashReportStackFrameInfo frame(const Qcrash__CrashReport__Thread__StackFrame* frame) const {
        if (frame == nullptr) fail("Crash report is missing stack frame information");
        std::optional<QCrashReportSymbolInfo> symbol;
        if (frame->symbol != nullptr) {
            const auto* s = frame->symbol;
            if (s->name == nullptr) fail("Crash report is missing symbol information");
            symbol =
                QCrashReportSymbolInfo(s->name, s->start_address, s->has_end_address ? s->end_address : 0);
        }
        const uint64_t pc = maskPointerAuthentication_ ? (frame->pc & kPointerAuthMask) : frame->pc;
        return QCrashReportStackFrameInfo(pc, symbol);
    }

    std::vector<QCrashReportThreadInfo> threads() const {
        if (m_.n_threads == 0) fail("Crash report is missing thread state information");
        std::vector<QCrashReportThreadInfo> result;
        result.reserve(m_.n_threads);
        for (size_t t = 0; t < m_.n_threads; ++t) {
            const auto* thread = m_.threads[t];
            if (thread == nullptr) fail("Crash report is missing thread state information");
            std::vector<QCrashReportStackFrameInfo> frames;
            frames.reserve(thread->n_frames);
            for (size_t f = 0; f < thread->n_frames; ++f) frames.push_back(frame(thread->frames[f]));
            std::vector<QCrashReportRegisterInfo> registers;
            for (size_t r = 0; r < thread->n_registers; ++r) {
                const auto* value = thread->registers[r];
                if (value == nullptr || value->name == nullptr)
                    fail("Missing register name in register value", false);
                registers.emplace_back(value->name, value->value);
            }
            result.emplace_back(thread->thread_number, std::move(frames), thread->crashed != 0,
                                std::move(registers));
        }
        return result;
    }

    std::vector<QCrashReportBinaryImageInfo> images() const {
        if (m_.n_binary_images == 0) fail("Crash report is missing binary image information");
        std::vector<QCrashReportBinaryImageInfo> result;
        for (size_t i = 0; i < m_.n_binary_images; ++i) {
            const auto* image = m_.binary_images[i];
            if (image == nullptr || image->name == nullptr) fail("Missing image name in image record", false);
            std::optional<QCrashReportProcessorInfo> codeType;
            if (image->code_type != nullptr) codeType = processor(image->code_type);
            std::optional<std::vector<uint8_t>> uuid;
            if (image->has_uuid)
                uuid = std::vector<uint8_t>(image->uuid.data, image->uuid.data + image->uuid.len);
            result.emplace_back(codeType, image->base_address, image->size, image->name, uuid);
        }
        return result;
    }

    QCrashReportExceptionInfo exception(const Qcrash__CrashReport__Exception* info) const {
        if (info->name == nullptr) fail("Crash report is missing exception name field");
        if (info->reason == nullptr) fail("Crash report is missing exception reason field");
        if (info->n_frames == 0) return QCrashReportExceptionInfo(info->name, info->reason);
        std::vector<QCrashReportStackFrameInfo> frames;
        for (size_t f = 0; f < info->n_frames; ++f) frames.push_back(frame(info->frames[f]));
        return QCrashReportExceptionInfo(info->name, info->reason, std::move(frames));
    }

    const Qcrash__CrashReport& m_;
    bool maskPointerAuthentication_ = false;
};

namespace {

// The header checks of decoding; false with the error set on a defect.
bool checkHeader(std::span<const uint8_t> data, platform::Error* error) {
    if (data.size() < 9) {
        setError(error, platform::localizedString("Could not decode truncated crash log"));
        return false;
    }
    // "qcrash" and the zero byte that pads the header to 8 bytes.
    if (std::memcmp(data.data(), "qcrash", 7) != 0) {
        setError(error, platform::localizedString("Could not decode invalid crash log header"));
        return false;
    }
    if (data[7] != 1) {
        std::string text = platform::localizedString("Could not decode unsupported crash report version: %d");
        const auto at = text.find("%d");
        if (at != std::string::npos) text.replace(at, 2, std::to_string(data[7]));
        setError(error, text);
        return false;
    }
    return true;
}

Qcrash__CrashReport* unpackBody(std::span<const uint8_t> data, ProtobufCAllocator* allocator,
                                platform::Error* error) {
    Qcrash__CrashReport* message =
        data.size() > QCrashReport::kMaxReportBytes
            ? nullptr
            : qcrash__crash_report__unpack(allocator, data.size() - 8, data.data() + 8);
    if (message == nullptr) {
        setError(error, platform::localizedString("An unknown error occured decoding the crash report"));
    }
    return message;
}

}  // namespace

// Where one unpack's pieces live while the model is built from them. A report unpacks into
// tens of thousands of small pieces (every frame, its symbol and the symbol's name) that malloc
// would hand out and take back one at a time; here they are cut from a few large blocks and all
// go at once with the arena. A piece is never freed on its own. The report keeps the arena: its
// strings are views into the unpacked message.
class UnpackArena {
  public:
    // A report of symbolicated frames unpacks into about five times its file size; what
    // does not fit comes in blocks of a quarter of that.
    explicit UnpackArena(size_t fileSize)
        : nextBlock_(std::max<size_t>(fileSize * 11 / 2, kMinBlock)),
          laterBlock_(std::max(nextBlock_ / 4, kMinBlock)) {}
    ~UnpackArena() {
        for (void* block : blocks_) std::free(block);
    }
    UnpackArena(const UnpackArena&) = delete;
    UnpackArena& operator=(const UnpackArena&) = delete;

    ProtobufCAllocator* allocator() { return &allocator_; }

  private:
    static constexpr size_t kMinBlock = 16 * 1024;
    static constexpr size_t kAlign = alignof(std::max_align_t);

    static void* allocate(void* self, size_t size) { return static_cast<UnpackArena*>(self)->take(size); }
    static void release(void*, void*) {}

    void* take(size_t size) {
        size = (size + kAlign - 1) & ~(kAlign - 1);
        if (size > static_cast<size_t>(end_ - next_)) {
            const size_t blockSize = std::max(nextBlock_, size);
            void* block = std::malloc(blockSize);
            if (block == nullptr) return nullptr;  // the unpack fails and reports it
            blocks_.push_back(block);
            next_ = static_cast<char*>(block);
            end_ = next_ + blockSize;
            nextBlock_ = laterBlock_;
        }
        void* piece = next_;
        next_ += size;
        return piece;
    }

    ProtobufCAllocator allocator_{&UnpackArena::allocate, &UnpackArena::release, this};
    std::vector<void*> blocks_;
    char* next_ = nullptr;
    char* end_ = nullptr;
    size_t nextBlock_;
    size_t laterBlock_;
};

QCrashReport::QCrashReport() = default;
QCrashReport::~QCrashReport() = default;

QCrashReport::Message QCrashReport::decode(std::span<const uint8_t> data, platform::Error* error) {
    Message none(nullptr, [](Qcrash__CrashReport*) {});
    if (!checkHeader(data, error)) return none;
    Qcrash__CrashReport* message = unpackBody(data, nullptr, error);
    if (message == nullptr) return none;
    return Message(message, [](Qcrash__CrashReport* m) { qcrash__crash_report__free_unpacked(m, nullptr); });
}

std::shared_ptr<QCrashReport> QCrashReport::build(const Qcrash__CrashReport& message,
                                                  platform::Error* error) {
    try {
        return ReportBuilder(message).build();
    } catch (const BuildError& defect) {
        setError(error, defect.message);
        return nullptr;
    }
}

std::shared_ptr<QCrashReport> QCrashReport::create(std::span<const uint8_t> data, platform::Error* error) {
    if (!checkHeader(data, error)) return nullptr;
    // The model's strings point into the unpacked message, so the report keeps the arena.
    auto arena = std::make_unique<UnpackArena>(data.size());
    const Qcrash__CrashReport* message = unpackBody(data, arena->allocator(), error);
    if (message == nullptr) return nullptr;
    auto report = build(*message, error);
    if (report) report->arena_ = std::move(arena);
    return report;
}

const QCrashReportBinaryImageInfo* QCrashReport::imageForAddress(uint64_t address) const {
    for (const auto& image : images_) {
        // Unsigned difference: no overflow near the top of the address space.
        if (address >= image.imageBaseAddress() && address - image.imageBaseAddress() < image.imageSize()) {
            return &image;
        }
    }
    return nullptr;
}

}  // namespace tervolo::crash
