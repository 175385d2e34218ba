#include "ReportFixture.hpp"

#include <cstring>

namespace tervolo::crash::testing {

ReportFixture::ReportFixture() {
    qcrash__crash_report__init(&report);
    qcrash__crash_report__system_info__init(&system);
    qcrash__crash_report__application_info__init(&application);
    qcrash__crash_report__process_info__init(&process);
    qcrash__crash_report__machine_info__init(&machine);
    qcrash__crash_report__processor__init(&machineProcessor);
    qcrash__crash_report__report_info__init(&reportInfo);
    qcrash__crash_report__signal__init(&signal);
    qcrash__crash_report__signal__mach_exception__init(&mach);
    qcrash__crash_report__exception__init(&exception);

    system.has_operating_system = 1;
    system.operating_system = QCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X;
    system.os_version = text("10.15.7");
    system.os_build = text("19H15");
    system.architecture = QCRASH__ARCHITECTURE__X86_64;
    system.timestamp = 1600000000;  // 2020-09-13 12:26:40 UTC
    report.system_info = &system;

    application.identifier = text("com.example.tervolo");
    application.version = text("42");
    application.marketing_version = text("1.0.0");
    report.application_info = &application;

    process.process_name = text("app");
    process.process_id = 1234;
    process.process_path = text("/opt/tervolo/bin/app");
    process.parent_process_name = text("launchd");
    process.parent_process_id = 1;
    process.native = 1;
    process.has_start_time = 1;
    process.start_time = 1599999000;
    report.process_info = &process;

    machineProcessor.has_encoding = 1;
    machineProcessor.encoding = QCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
    machineProcessor.type = 16777223;
    machineProcessor.subtype = 3;
    machine.model = text("MacBookPro15,1");
    machine.processor = &machineProcessor;
    machine.processor_count = 4;
    machine.logical_processor_count = 8;
    report.machine_info = &machine;

    uuid_ = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    reportInfo.user_requested = 0;
    reportInfo.has_uuid = 1;
    reportInfo.uuid.len = uuid_.size();
    reportInfo.uuid.data = uuid_.data();
    report.report_info = &reportInfo;

    signal.name = text("SIGSEGV");
    signal.code = text("SEGV_MAPERR");
    signal.address = 0x10;
    report.signal = &signal;
}

char* ReportFixture::text(const std::string& value) {
    strings_.push_back(value);
    return strings_.back().data();
}

Qcrash__CrashReport__Thread* ReportFixture::addThread(uint32_t number, bool crashed) {
    threads_.emplace_back();
    auto* thread = &threads_.back();
    qcrash__crash_report__thread__init(thread);
    thread->thread_number = number;
    thread->crashed = crashed;
    framePointers_.emplace_back();
    registerPointers_.emplace_back();
    threadPointers_.push_back(thread);
    report.n_threads = threadPointers_.size();
    report.threads = threadPointers_.data();
    return thread;
}

void ReportFixture::addFrame(Qcrash__CrashReport__Thread* thread, uint64_t pc, const char* symbol,
                             uint64_t start) {
    size_t index = 0;
    while (&threads_[index] != thread) ++index;
    frames_.emplace_back();
    auto* frame = &frames_.back();
    qcrash__crash_report__thread__stack_frame__init(frame);
    frame->pc = pc;
    if (symbol != nullptr) {
        symbols_.emplace_back();
        qcrash__crash_report__symbol__init(&symbols_.back());
        symbols_.back().name = text(symbol);
        symbols_.back().start_address = start;
        frame->symbol = &symbols_.back();
    }
    auto& list = framePointers_[index];
    list.push_back(frame);
    thread->n_frames = list.size();
    thread->frames = list.data();
}

void ReportFixture::addRegister(Qcrash__CrashReport__Thread* thread, const char* name, uint64_t value) {
    size_t index = 0;
    while (&threads_[index] != thread) ++index;
    registers_.emplace_back();
    auto* reg = &registers_.back();
    qcrash__crash_report__thread__register_value__init(reg);
    reg->name = name != nullptr ? text(name) : nullptr;
    reg->value = value;
    auto& list = registerPointers_[index];
    list.push_back(reg);
    thread->n_registers = list.size();
    thread->registers = list.data();
}

Qcrash__CrashReport__BinaryImage* ReportFixture::addImage(uint64_t base, uint64_t size,
                                                          const std::string& name,
                                                          const std::vector<uint8_t>& uuid, uint64_t type,
                                                          uint64_t subtype) {
    images_.emplace_back();
    auto* image = &images_.back();
    qcrash__crash_report__binary_image__init(image);
    image->base_address = base;
    image->size = size;
    image->name = text(name);
    if (!uuid.empty()) {
        bytes_.push_back(uuid);
        image->has_uuid = 1;
        image->uuid.len = bytes_.back().size();
        image->uuid.data = bytes_.back().data();
    }
    if (type != 0) {
        processors_.emplace_back();
        auto* cpu = &processors_.back();
        qcrash__crash_report__processor__init(cpu);
        cpu->has_encoding = 1;
        cpu->encoding = QCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        cpu->type = type;
        cpu->subtype = subtype;
        image->code_type = cpu;
    }
    imagePointers_.push_back(image);
    report.n_binary_images = imagePointers_.size();
    report.binary_images = imagePointers_.data();
    return image;
}

void ReportFixture::addExceptionFrame(uint64_t pc) {
    frames_.emplace_back();
    auto* frame = &frames_.back();
    qcrash__crash_report__thread__stack_frame__init(frame);
    frame->pc = pc;
    exceptionFrames_.push_back(frame);
    exception.n_frames = exceptionFrames_.size();
    exception.frames = exceptionFrames_.data();
}

std::vector<uint8_t> ReportFixture::file(uint8_t version) const {
    std::vector<uint8_t> out = {'q', 'c', 'r', 'a', 's', 'h', 0, version};
    auto& self = const_cast<ReportFixture&>(*this);
    if (!machCodes.empty()) {
        self.mach.n_codes = machCodes.size();
        self.mach.codes = self.machCodes.data();
    }
    const size_t size = qcrash__crash_report__get_packed_size(&report);
    out.resize(8 + size);
    qcrash__crash_report__pack(&report, out.data() + 8);
    return out;
}

}  // namespace tervolo::crash::testing
