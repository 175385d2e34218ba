// Preparing the log writer: everything that may allocate or ask the system,
// done before any crash.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crash/QCrashLogWriter.hpp"
#include "crash/QCrashProcessInfo.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::crash {

namespace {

qcrash_log_string_t copy(const std::string& text) {
    auto* data = static_cast<char*>(std::malloc(text.size() + 1));
    if (data == nullptr) return {nullptr, 0};
    std::memcpy(data, text.data(), text.size());
    data[text.size()] = 0;
    return {data, text.size()};
}

void release(qcrash_log_string_t* s) {
    std::free(s->data);
    *s = {nullptr, 0};
}

std::string processExecutablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// "major.minor", and ".patch" when the patch is 1 or more, from the kernel
// release ("6.1.0-13-amd64" gives "6.1").
std::string osVersion() {
    const auto release = platform::Sysctl::string("kern.osrelease").value_or("");
    long major = 0, minor = 0, patch = 0;
    std::sscanf(release.c_str(), "%ld.%ld.%ld", &major, &minor, &patch);
    char text[64];
    if (patch >= 1) {
        std::snprintf(text, sizeof text, "%ld.%ld.%ld", major, minor, patch);
    } else {
        std::snprintf(text, sizeof text, "%ld.%ld", major, minor);
    }
    return text;
}

}  // namespace

qcrash_error_t qcrash_log_writer_init(qcrash_log_writer_t* writer, const std::string& app_identifier,
                                      const std::string& app_version,
                                      const std::string* app_marketing_version, uint64_t symbol_strategy,
                                      bool user_requested) {
    std::memset(writer, 0, sizeof *writer);
    writer->symbol_strategy = symbol_strategy;
    writer->user_requested = user_requested;
    const auto uuid = platform::UUID::random();
    std::memcpy(writer->uuid, uuid.bytes().data(), 16);

    writer->application_info.identifier = copy(app_identifier);
    writer->application_info.version = copy(app_version);
    if (app_marketing_version != nullptr)
        writer->application_info.marketing_version = copy(*app_marketing_version);

    const auto process = QCrashProcessInfo::currentProcessInfo();
    if (!process) return QCRASH_EINVAL;
    writer->process_info.process_id = static_cast<uint32_t>(process->processID());
    if (process->processName()) writer->process_info.process_name = copy(*process->processName());
    writer->process_info.start_time = static_cast<uint64_t>(process->startTime().seconds);
    // The path without a terminating zero: readers compare it with image names.
    writer->process_info.process_path = copy(processExecutablePath());
    writer->process_info.parent_process_id = static_cast<uint32_t>(process->parentProcessID());
    if (const auto parent = QCrashProcessInfo::create(process->parentProcessID());
        parent && parent->processName()) {
        writer->process_info.parent_process_name = copy(*parent->processName());
    }

    if (const auto model = platform::Sysctl::string("hw.model"); model && !model->empty()) {
        writer->machine_info.has_model = true;
        writer->machine_info.model = copy(*model);
    }
    writer->machine_info.cpu_type = static_cast<int32_t>(platform::Sysctl::integer("hw.cputype").value_or(0));
    writer->machine_info.cpu_subtype =
        static_cast<int32_t>(platform::Sysctl::integer("hw.cpusubtype").value_or(0));
    writer->machine_info.processor_count =
        static_cast<uint32_t>(platform::Sysctl::integer("hw.physicalcpu_max").value_or(0));
    writer->machine_info.logical_processor_count =
        static_cast<uint32_t>(platform::Sysctl::integer("hw.logicalcpu_max").value_or(0));
    const auto native = platform::Sysctl::integer("sysctl.proc_native");
    writer->process_info.native = !(native && *native == 0);

    writer->system_info.os_build = copy(platform::Sysctl::string("kern.osversion").value_or(""));
    writer->system_info.os_version = copy(osVersion());
    return QCRASH_ESUCCESS;
}

void qcrash_log_writer_set_exception(qcrash_log_writer_t* writer, const std::string& name,
                                     const std::string& reason, const std::vector<uint64_t>& callstack) {
    auto& e = writer->uncaught_exception;
    e.name = copy(name);
    e.reason = copy(reason);
    e.callstack = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t) * (callstack.size() + 1)));
    if (e.callstack != nullptr) {
        std::memcpy(e.callstack, callstack.data(), sizeof(uint64_t) * callstack.size());
        e.callstack_count = callstack.size();
    }
    e.has_exception = true;
}

void qcrash_log_writer_set_custom_data(qcrash_log_writer_t* writer, const std::vector<uint8_t>* data) {
    std::free(writer->custom_data.data);
    writer->custom_data = {nullptr, 0};
    if (data == nullptr) return;
    auto* copyOf = static_cast<uint8_t*>(std::malloc(data->size() + 1));
    if (copyOf == nullptr) return;
    std::memcpy(copyOf, data->data(), data->size());
    writer->custom_data = {copyOf, data->size()};
}

void qcrash_log_writer_free(qcrash_log_writer_t* writer) {
    release(&writer->system_info.os_version);
    release(&writer->system_info.os_build);
    release(&writer->machine_info.model);
    release(&writer->application_info.identifier);
    release(&writer->application_info.version);
    release(&writer->application_info.marketing_version);
    release(&writer->process_info.process_name);
    release(&writer->process_info.process_path);
    release(&writer->process_info.parent_process_name);
    release(&writer->uncaught_exception.name);
    release(&writer->uncaught_exception.reason);
    std::free(writer->uncaught_exception.callstack);
    std::free(writer->custom_data.data);
    std::memset(writer, 0, sizeof *writer);
}

}  // namespace tervolo::crash
