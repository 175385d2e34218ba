// The crash-time side of the log writer: the protocol-buffer encoder and the
// report write. Async-safe: no heap, no locks; the other threads are parked
// for the whole write.
#include <signal.h>
#include <time.h>

#include "crash/AsyncFrameCursor.hpp"
#include "crash/AsyncObjCReader.hpp"
#include "crash/AsyncThreadCapture.hpp"
#include "crash/QCrashLogWriter.hpp"
#include "crash/SignalNames.hpp"

namespace tervolo::crash {

namespace {

constexpr uint32_t kWireVarint = 0, kWire64 = 1, kWireLength = 2, kWire32 = 5;
// How long the threads together may take to answer the parking signal: a
// loaded machine can be slow to schedule them.
constexpr uint64_t kParkTimeoutNs = 1'000'000'000;
// Room kept for the closing fields' keys beyond their measured size.
constexpr uint64_t kBudgetSlack = 64;

size_t varint(uint8_t* out, uint64_t value) {
    size_t n = 0;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0) byte |= 0x80;
        out[n++] = byte;
    } while (value != 0);
    return n;
}

void emit(qcrash_async_file_t* file, const void* data, size_t length) {
    if (file != nullptr) qcrash_async_file_write(file, data, length);
}

}  // namespace

size_t qcrash_writer_pack(qcrash_async_file_t* file, uint32_t field, qcrash_writer_type_t type,
                          const void* value) {
    uint8_t buffer[10];
    uint32_t wire;
    switch (type) {
        case QCRASH_WRITER_SFIXED32:
        case QCRASH_WRITER_FIXED32:
        case QCRASH_WRITER_FLOAT:
            wire = kWire32;
            break;
        case QCRASH_WRITER_SFIXED64:
        case QCRASH_WRITER_FIXED64:
        case QCRASH_WRITER_DOUBLE:
            wire = kWire64;
            break;
        case QCRASH_WRITER_STRING:
        case QCRASH_WRITER_BYTES:
        case QCRASH_WRITER_MESSAGE:
            wire = kWireLength;
            break;
        case QCRASH_WRITER_INT32:
        case QCRASH_WRITER_SINT32:
        case QCRASH_WRITER_INT64:
        case QCRASH_WRITER_SINT64:
        case QCRASH_WRITER_UINT32:
        case QCRASH_WRITER_UINT64:
        case QCRASH_WRITER_BOOL:
        case QCRASH_WRITER_ENUM:
            wire = kWireVarint;
            break;
        default:
            __builtin_trap();  // a type this encoder does not know: a programming error
    }
    size_t size = varint(buffer, (uint64_t{field} << 3) | wire);
    emit(file, buffer, size);

    uint64_t v = 0;
    switch (type) {
        case QCRASH_WRITER_INT32:  // negative values take ten bytes, sign-extended
            v = static_cast<uint64_t>(static_cast<int64_t>(*static_cast<const int32_t*>(value)));
            break;
        case QCRASH_WRITER_SINT32: {
            const int32_t s = *static_cast<const int32_t*>(value);
            v = (static_cast<uint32_t>(s) << 1) ^ static_cast<uint32_t>(s >> 31);
            break;
        }
        case QCRASH_WRITER_SINT64: {
            const int64_t s = *static_cast<const int64_t*>(value);
            v = (static_cast<uint64_t>(s) << 1) ^ static_cast<uint64_t>(s >> 63);
            break;
        }
        case QCRASH_WRITER_INT64:
        case QCRASH_WRITER_UINT64:
            v = *static_cast<const uint64_t*>(value);
            break;
        case QCRASH_WRITER_UINT32:
        case QCRASH_WRITER_ENUM:
            v = *static_cast<const uint32_t*>(value);
            break;
        case QCRASH_WRITER_BOOL:
            v = *static_cast<const bool*>(value) ? 1 : 0;
            break;
        case QCRASH_WRITER_SFIXED32:
        case QCRASH_WRITER_FIXED32:
        case QCRASH_WRITER_FLOAT:
            emit(file, value, 4);  // little-endian host
            return size + 4;
        case QCRASH_WRITER_SFIXED64:
        case QCRASH_WRITER_FIXED64:
        case QCRASH_WRITER_DOUBLE:
            emit(file, value, 8);
            return size + 8;
        case QCRASH_WRITER_STRING: {
            const auto* text = static_cast<const char*>(value);
            const size_t length = qcrash_async_strlen(text);
            const size_t n = varint(buffer, length);
            emit(file, buffer, n);
            emit(file, text, length);
            return size + n + length;
        }
        case QCRASH_WRITER_BYTES: {
            const auto* bytes = static_cast<const qcrash_writer_bytes_t*>(value);
            const size_t n = varint(buffer, bytes->length);
            emit(file, buffer, n);
            emit(file, bytes->data, bytes->length);
            return size + n + bytes->length;
        }
        case QCRASH_WRITER_MESSAGE:
            v = *static_cast<const uint32_t*>(value);
            break;
        default:
            break;
    }
    const size_t n = varint(buffer, v);
    emit(file, buffer, n);
    return size + n;
}

namespace {

// Writers of fields by value.
size_t u64(qcrash_async_file_t* f, uint32_t field, uint64_t v) {
    return qcrash_writer_pack(f, field, QCRASH_WRITER_UINT64, &v);
}
size_t u32(qcrash_async_file_t* f, uint32_t field, uint32_t v) {
    return qcrash_writer_pack(f, field, QCRASH_WRITER_UINT32, &v);
}
size_t i64(qcrash_async_file_t* f, uint32_t field, int64_t v) {
    return qcrash_writer_pack(f, field, QCRASH_WRITER_INT64, &v);
}
size_t boolean(qcrash_async_file_t* f, uint32_t field, bool v) {
    return qcrash_writer_pack(f, field, QCRASH_WRITER_BOOL, &v);
}
size_t enumeration(qcrash_async_file_t* f, uint32_t field, uint32_t v) {
    return qcrash_writer_pack(f, field, QCRASH_WRITER_ENUM, &v);
}
size_t bytes(qcrash_async_file_t* f, uint32_t field, const void* data, size_t length) {
    const qcrash_writer_bytes_t value{length, data};
    return qcrash_writer_pack(f, field, QCRASH_WRITER_BYTES, &value);
}
size_t text(qcrash_async_file_t* f, uint32_t field, const qcrash_log_string_t& s) {
    return bytes(f, field, s.data != nullptr ? s.data : "", s.data != nullptr ? s.length : 0);
}
size_t text(qcrash_async_file_t* f, uint32_t field, const char* s) {
    return bytes(f, field, s, qcrash_async_strlen(s));
}

// A sub-message: measured by running `body` without a file, then written.
template <typename Body>
size_t message(qcrash_async_file_t* file, uint32_t field, Body body) {
    const auto length = static_cast<uint32_t>(body(nullptr));
    const size_t key = qcrash_writer_pack(file, field, QCRASH_WRITER_MESSAGE, &length);
    if (file != nullptr) body(file);
    return key + length;
}

size_t processor(qcrash_async_file_t* f, uint32_t field, int32_t type, int32_t subtype) {
    return message(f, field, [&](qcrash_async_file_t* g) {
        return enumeration(g, 1, 1) + u64(g, 2, static_cast<uint64_t>(type)) +
               u64(g, 3, static_cast<uint64_t>(subtype));
    });
}

// "#<n>" for an unknown signal or code, into a 12-byte buffer.
const char* numbered(char* buffer, int value) {
    char digits[12];
    size_t n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t at = 0;
    buffer[at++] = '#';
    if (value < 0) buffer[at++] = '-';
    while (n > 0) buffer[at++] = digits[--n];
    buffer[at] = 0;
    return buffer;
}

struct SymbolBuffer {
    bool found;
    uint64_t start;
    char name[QCRASH_SYMBOL_NAME_MAX];
};

void keepSymbol(qcrash_vm_address_t address, const char* name, void* context) {
    auto* symbol = static_cast<SymbolBuffer*>(context);
    symbol->found = true;
    symbol->start = address;
    size_t i = 0;
    while (name[i] != 0 && i + 1 < sizeof symbol->name) {
        symbol->name[i] = name[i];
        ++i;
    }
    symbol->name[i] = 0;
}

struct WriteContext {
    qcrash_log_writer_t* writer;
    qcrash_async_image_list_t* images;
    qcrash_async_objc_cache_t* cache;
};

size_t frameEntry(qcrash_async_file_t* f, uint32_t field, const WriteContext& ctx, uint64_t pc,
                  bool returnAddress) {
    SymbolBuffer symbol;
    symbol.found = false;
    if (ctx.writer->symbol_strategy != 0) {
        // A return address belongs to the call before it.
        const uint64_t lookup = returnAddress && pc > 0 ? pc - 1 : pc;
        qcrash_async_image_list_set_reading(ctx.images, true);
        if (auto* image = qcrash_async_image_containing_address(ctx.images, lookup)) {
            qcrash_async_find_symbol(image, ctx.writer->symbol_strategy, ctx.cache, lookup, keepSymbol,
                                     &symbol);
        }
        qcrash_async_image_list_set_reading(ctx.images, false);
    }
    return message(f, field, [&](qcrash_async_file_t* g) {
        size_t n = u64(g, 3, pc);
        if (symbol.found) {
            n += message(g, 6, [&](qcrash_async_file_t* h) {
                return text(h, 1, symbol.name) + u64(h, 2, symbol.start);
            });
        }
        return n;
    });
}

// One thread's body: number, crashed flag, the crashed thread's registers,
// then up to 512 frames.
size_t threadBody(qcrash_async_file_t* f, const WriteContext& ctx, uint32_t number, bool crashed,
                  const qcrash_async_thread_state_t* state) {
    size_t n = u32(f, 1, number) + boolean(f, 3, crashed);
    if (state == nullptr) return n;
    plframe_cursor_t cursor;
    plframe_cursor_init(&cursor, qcrash_task_self(), state, ctx.images);
    if (plframe_cursor_next(&cursor) != PLFRAME_ESUCCESS) return n;
    if (crashed) {
        for (uint32_t r = 0; r < qcrash_async_thread_state_get_reg_count(state); ++r) {
            const uint64_t value =
                qcrash_async_thread_state_has_reg(state, r) ? qcrash_async_thread_state_get_reg(state, r) : 0;
            n += message(f, 4, [&](qcrash_async_file_t* g) {
                return text(g, 1, qcrash_async_thread_state_get_reg_name(state, r)) + u64(g, 2, value);
            });
        }
    }
    for (uint32_t frames = 0; frames < QCRASH_LOG_MAX_FRAMES; ++frames) {
        uint64_t pc;
        if (plframe_cursor_get_reg(&cursor, QCRASH_REG_IP, &pc) != PLFRAME_ESUCCESS) break;
        n += frameEntry(f, 2, ctx, pc, (cursor.frame.flags & QCRASH_THREAD_STATE_PC_IS_RETURN_ADDRESS) != 0);
        if (plframe_cursor_next(&cursor) != PLFRAME_ESUCCESS) break;
    }
    return n;
}

size_t imageBody(qcrash_async_file_t* f, qcrash_async_macho_t* image) {
    size_t n = u64(f, 2, image->text_size) + u64(f, 1, image->header_addr) + text(f, 3, image->name);
    if (image->format == qcrash_image_format::elf) {
        if (image->elf.build_id_length > 0) n += bytes(f, 4, image->elf.build_id, image->elf.build_id_length);
        n += processor(f, 5, image->header.cputype, image->header.cpusubtype);
    } else {
        const void* command = qcrash_async_macho_find_command(image, macho::LC_UUID);
        if (command != nullptr && qcrash_async_mobject_verify_local_pointer(
                                      &image->load_cmds, reinterpret_cast<uintptr_t>(command), 0, 24)) {
            n += bytes(f, 4, static_cast<const uint8_t*>(command) + 8, 16);
        }
        n += processor(f, 5, qcrash_async_macho_cpu_type(image), qcrash_async_macho_cpu_subtype(image));
    }
    return n;
}

size_t exceptionField(qcrash_async_file_t* f, const WriteContext& ctx) {
    const auto& e = ctx.writer->uncaught_exception;
    if (!e.has_exception) return 0;
    return message(f, 5, [&](qcrash_async_file_t* g) {
        size_t n = text(g, 1, e.name) + text(g, 2, e.reason);
        const size_t count =
            e.callstack_count < QCRASH_LOG_MAX_FRAMES ? e.callstack_count : QCRASH_LOG_MAX_FRAMES;
        for (size_t i = 0; i < count; ++i) n += frameEntry(g, 3, ctx, e.callstack[i], true);
        return n;
    });
}

size_t signalField(qcrash_async_file_t* f, const qcrash_log_signal_info_t* info) {
    char nameBuffer[16];
    char codeBuffer[16];
    const char* name = qcrash_async_signal_signame(info->signo);
    if (name == nullptr) name = numbered(nameBuffer, info->signo);
    const char* code = qcrash_async_signal_sigcode(info->signo, info->code);
    if (code == nullptr) code = numbered(codeBuffer, info->code);
    return message(f, 6, [&](qcrash_async_file_t* g) {
        size_t n = text(g, 1, name) + text(g, 2, code) + u64(g, 3, info->address);
        if (info->has_mach_exception) {
            n += message(g, 4, [&](qcrash_async_file_t* h) {
                size_t m = u64(h, 1, static_cast<uint64_t>(info->mach_type));
                for (uint32_t i = 0; i < info->mach_code_count; ++i)
                    m += u64(h, 2, static_cast<uint64_t>(info->mach_codes[i]));
                return m;
            });
        }
        return n;
    });
}

size_t customDataField(qcrash_async_file_t* f, const qcrash_log_writer_t* writer) {
    if (writer->custom_data.data == nullptr) return 0;
    return bytes(f, 10, writer->custom_data.data, writer->custom_data.length);
}

// Whether `bytes` more still leave room for the closing fields.
bool fits(const qcrash_async_file_t* file, uint64_t bytes, uint64_t reserve) {
    if (file->limit_bytes == 0) return true;
    return file->total_bytes + bytes + reserve <= file->limit_bytes;
}

// Parked threads' registers: static storage, one report at a time.
qcrash_async_thread_entry_t gParked[QCRASH_LOG_MAX_THREADS];

}  // namespace

qcrash_error_t qcrash_log_writer_write(qcrash_log_writer_t* writer, uint32_t crashed_thread,
                                       qcrash_async_image_list_t* image_list, qcrash_async_file_t* file,
                                       const qcrash_log_signal_info_t* signal_info,
                                       const qcrash_async_thread_state_t* current_state) {
    uint32_t tids[QCRASH_LOG_MAX_THREADS];
    const uint32_t listed = qcrash_async_thread_list(tids, QCRASH_LOG_MAX_THREADS);
    const uint32_t parked = qcrash_async_threads_park(gParked, QCRASH_LOG_MAX_THREADS, kParkTimeoutNs);
    // With the other threads parked the loader's list holds still: libraries
    // loaded or unloaded since the image list was made are seen as they are.
    const bool loaderView = qcrash_async_image_list_begin_loader_view(image_list);
    auto finish = [&] {
        if (loaderView) qcrash_async_image_list_end_loader_view(image_list);
        qcrash_async_threads_release();
    };

    qcrash_async_objc_cache_t cache;
    qcrash_error_t error = qcrash_async_objc_cache_init(&cache);
    if (error != QCRASH_ESUCCESS) {
        finish();
        return error;
    }
    const WriteContext ctx{writer, image_list, &cache};
    static const uint8_t kHeader[8] = {'q', 'c', 'r', 'a', 's', 'h', 0, 1};
    qcrash_async_file_write(file, kHeader, sizeof kHeader);

    message(file, 9, [&](qcrash_async_file_t* g) {
        return boolean(g, 1, writer->user_requested) + bytes(g, 2, writer->uuid, 16);
    });
    struct timespec now;
    const int64_t timestamp = clock_gettime(CLOCK_REALTIME, &now) == 0 ? now.tv_sec : 0;
    message(file, 1, [&](qcrash_async_file_t* g) {
        // This system is none of the report format's named ones.
        return enumeration(g, 1, 3) + text(g, 2, writer->system_info.os_version) +
               text(g, 5, writer->system_info.os_build) + enumeration(g, 3, 1) + i64(g, 4, timestamp);
    });
    message(file, 8, [&](qcrash_async_file_t* g) {
        const auto& m = writer->machine_info;
        size_t n = m.has_model ? text(g, 1, m.model) : 0;
        return n + processor(g, 2, m.cpu_type, m.cpu_subtype) + u32(g, 3, m.processor_count) +
               u32(g, 4, m.logical_processor_count);
    });
    message(file, 2, [&](qcrash_async_file_t* g) {
        const auto& a = writer->application_info;
        return text(g, 1, a.identifier) + text(g, 2, a.version) + text(g, 3, a.marketing_version);
    });
    message(file, 7, [&](qcrash_async_file_t* g) {
        const auto& p = writer->process_info;
        return text(g, 1, p.process_name) + u32(g, 2, p.process_id) + text(g, 3, p.process_path) +
               text(g, 4, p.parent_process_name) + u32(g, 5, p.parent_process_id) + boolean(g, 6, p.native) +
               u64(g, 7, p.start_time);
    });

    // The closing fields always get their room.
    const uint64_t reserve = exceptionField(nullptr, ctx) + signalField(nullptr, signal_info) +
                             customDataField(nullptr, writer) + kBudgetSlack;
    // Threads leave room for at least the first image: a report without
    // images cannot be read back.
    uint64_t firstImage = 0;
    qcrash_async_image_list_set_reading(image_list, true);
    if (auto* image = qcrash_async_image_list_next(image_list, nullptr))
        firstImage = imageBody(nullptr, image) + 8;
    qcrash_async_image_list_set_reading(image_list, false);

    const uint32_t self = pl_mach_thread_self();
    uint32_t number = 0;
    for (uint32_t i = 0; i < listed; ++i) {
        const qcrash_async_thread_state_t* state = nullptr;
        if (tids[i] == self) {
            if (current_state == nullptr) continue;
            state = current_state;
        } else {
            for (uint32_t p = 0; p < parked; ++p) {
                if (gParked[p].tid == tids[i] && gParked[p].captured.load(std::memory_order_acquire) != 0) {
                    state = &gParked[p].state;
                }
            }
        }
        const bool crashed = tids[i] == crashed_thread;
        const auto length = static_cast<uint32_t>(threadBody(nullptr, ctx, number, crashed, state));
        uint8_t key[16];
        const size_t head = varint(key, (3u << 3) | kWireLength) + varint(key, length);
        if (!fits(file, head + length, reserve + firstImage)) break;
        qcrash_writer_pack(file, 3, QCRASH_WRITER_MESSAGE, &length);
        threadBody(file, ctx, number, crashed, state);
        ++number;
    }

    qcrash_async_image_list_set_reading(image_list, true);
    for (auto* image = qcrash_async_image_list_next(image_list, nullptr); image != nullptr;
         image = qcrash_async_image_list_next(image_list, image)) {
        const auto length = static_cast<uint32_t>(imageBody(nullptr, image));
        if (!fits(file, length + 8, reserve)) break;
        qcrash_writer_pack(file, 4, QCRASH_WRITER_MESSAGE, &length);
        imageBody(file, image);
    }
    qcrash_async_image_list_set_reading(image_list, false);

    exceptionField(file, ctx);
    signalField(file, signal_info);
    customDataField(file, writer);

    qcrash_async_objc_cache_free(&cache);
    finish();
    // Output refused by the limit: the report is not whole.
    if (file->limit_bytes != 0 && file->total_bytes > file->limit_bytes) return QCRASH_OUTPUT_ERR;
    return QCRASH_ESUCCESS;
}

qcrash_error_t qcrash_log_writer_close(qcrash_log_writer_t*) {
    return QCRASH_ESUCCESS;
}

}  // namespace tervolo::crash
