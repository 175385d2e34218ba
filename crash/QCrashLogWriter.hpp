#pragma once

// The crash log writer: gathers ahead of any crash what is unsafe to collect
// in a signal handler (strings, machine and process facts), and at crash
// time writes one report to an open file with async-safe operations only:
// it parks the other threads, walks every thread's stack, lists the images
// and the signal, and encodes it all as the report message (CrashReport.proto)
// by hand, each sub-message measured first and then written.
//
// The file starts with the 8-byte header "qcrash", a zero byte, version 1.
// Under an output limit, threads and images stop being added while the
// exception, signal and custom data still fit, so a report stays decodable;
// a report that nevertheless lost output is an error (2), never a success.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/AsyncFile.hpp"
#include "crash/AsyncImageList.hpp"
#include "crash/AsyncThreadState.hpp"

namespace tervolo::crash {

// A byte run owned by the writer.
struct qcrash_log_string_t {
    char* data;
    size_t length;
};

inline constexpr uint32_t QCRASH_LOG_MAX_FRAMES = 512;
inline constexpr uint32_t QCRASH_LOG_MAX_THREADS = 512;

struct qcrash_log_writer_t {
    uint64_t symbol_strategy;
    bool user_requested;
    uint8_t uuid[16];
    struct {
        qcrash_log_string_t os_version;
        qcrash_log_string_t os_build;
    } system_info;
    struct {
        bool has_model;
        qcrash_log_string_t model;
        int32_t cpu_type;
        int32_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;
    struct {
        qcrash_log_string_t identifier;
        qcrash_log_string_t version;
        qcrash_log_string_t marketing_version;
    } application_info;
    struct {
        qcrash_log_string_t process_name;
        uint32_t process_id;
        qcrash_log_string_t process_path;  // no terminating zero
        uint64_t start_time;               // seconds since 1970
        qcrash_log_string_t parent_process_name;
        uint32_t parent_process_id;
        bool native;
    } process_info;
    struct {
        bool has_exception;
        qcrash_log_string_t name;
        qcrash_log_string_t reason;
        uint64_t* callstack;
        size_t callstack_count;
    } uncaught_exception;
    struct {
        uint8_t* data;
        size_t length;
    } custom_data;
};

// The signal the report describes; the Mach part only for Mach exceptions.
struct qcrash_log_signal_info_t {
    int signo;
    int code;
    uint64_t address;
    bool has_mach_exception;
    int64_t mach_type;
    const int64_t* mach_codes;
    uint32_t mach_code_count;
};

// Field types in protobuf-c's numbering.
enum qcrash_writer_type_t : uint32_t {
    QCRASH_WRITER_INT32 = 0,
    QCRASH_WRITER_SINT32,
    QCRASH_WRITER_SFIXED32,
    QCRASH_WRITER_INT64,
    QCRASH_WRITER_SINT64,
    QCRASH_WRITER_SFIXED64,
    QCRASH_WRITER_UINT32,
    QCRASH_WRITER_FIXED32,
    QCRASH_WRITER_UINT64,
    QCRASH_WRITER_FIXED64,
    QCRASH_WRITER_FLOAT,
    QCRASH_WRITER_DOUBLE,
    QCRASH_WRITER_BOOL,
    QCRASH_WRITER_ENUM,
    QCRASH_WRITER_STRING,
    QCRASH_WRITER_BYTES,
    QCRASH_WRITER_MESSAGE,
};

// A bytes value: length and pointer.
struct qcrash_writer_bytes_t {
    size_t length;
    const void* data;
};

// Bytes one field takes (key and value); written when `file` is given.
// `value` points at the value's type (a zero-terminated text for strings,
// a qcrash_writer_bytes_t for bytes, the uint32_t length for messages, whose
// body the caller writes).
size_t qcrash_writer_pack(qcrash_async_file_t* file, uint32_t field, qcrash_writer_type_t type,
                          const void* value);

// Not async-safe. 5 when the process information cannot be read.
qcrash_error_t qcrash_log_writer_init(qcrash_log_writer_t* writer, const std::string& app_identifier,
                                      const std::string& app_version,
                                      const std::string* app_marketing_version, uint64_t symbol_strategy,
                                      bool user_requested);
void qcrash_log_writer_set_exception(qcrash_log_writer_t* writer, const std::string& name,
                                     const std::string& reason, const std::vector<uint64_t>& callstack);
void qcrash_log_writer_set_custom_data(qcrash_log_writer_t* writer, const std::vector<uint8_t>* data);
void qcrash_log_writer_free(qcrash_log_writer_t* writer);

// Async-safe: writes one report. `crashed_thread` is a thread id;
// `current_state` the calling thread's registers (null leaves the calling
// thread out). The images listed and used for symbols and unwinding are
// those the dynamic loader holds at the time of the write (see
// qcrash_async_image_list_begin_loader_view). 2 when output was lost.
qcrash_error_t qcrash_log_writer_write(qcrash_log_writer_t* writer, uint32_t crashed_thread,
                                       qcrash_async_image_list_t* image_list, qcrash_async_file_t* file,
                                       const qcrash_log_signal_info_t* signal_info,
                                       const qcrash_async_thread_state_t* current_state);
qcrash_error_t qcrash_log_writer_close(qcrash_log_writer_t* writer);

}  // namespace tervolo::crash
