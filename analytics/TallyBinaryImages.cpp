#include "analytics/TallyBinaryImages.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <link.h>
#include <unistd.h>

#include "analytics/TallyCommon.hpp"

namespace tervolo::analytics {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string executablePath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::optional<std::string> buildIDOf(const dl_phdr_info& info) {
    for (int i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info.dlpi_phdr[i];
        if (header.p_type != PT_NOTE) continue;
        const auto* at = reinterpret_cast<const uint8_t*>(info.dlpi_addr + header.p_vaddr);
        const uint8_t* end = at + header.p_memsz;
        while (at + sizeof(ElfW(Nhdr)) <= end) {
            ElfW(Nhdr) note;
            std::memcpy(&note, at, sizeof note);
            const uint8_t* name = at + sizeof note;
            const uint8_t* descriptor = name + ((note.n_namesz + 3u) & ~3u);
            if (descriptor + note.n_descsz > end) break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
                return TallyBuildIDAsUUID({descriptor, note.n_descsz});
            }
            at = descriptor + ((note.n_descsz + 3u) & ~3u);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> TallyBuildIDAsUUID(std::span<const uint8_t> buildID) {
    if (buildID.empty()) {
        return std::nullopt;
    }
    std::array<uint8_t, 16> bytes{};
    std::copy_n(buildID.begin(), std::min<size_t>(16, buildID.size()), bytes.begin());
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string(text);
}

std::vector<TallyImage> TallyLoadedImages() {
    struct Context {
        std::vector<TallyImage> images;
        std::string executable;
    } context{{}, executablePath()};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& context = *static_cast<Context*>(data);
            TallyImage image;
            const bool main = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
            // The vDSO has a name of its own but no file; the main program has neither.
            if (main && !context.images.empty()) return 0;
            image.isMainExecutable = main;
            image.name = baseName(main ? context.executable : std::string(info->dlpi_name));
            uint64_t low = UINT64_MAX;
            uint64_t high = 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& header = info->dlpi_phdr[i];
                if (header.p_type != PT_LOAD) continue;
                low = std::min<uint64_t>(low, header.p_vaddr & ~static_cast<uint64_t>(header.p_align - 1));
                high = std::max<uint64_t>(high, header.p_vaddr + header.p_memsz);
            }
            if (low == UINT64_MAX) low = 0;
            image.loadAddress = info->dlpi_addr + low;
            image.endAddress = info->dlpi_addr + high;
            image.buildUUID = buildIDOf(*info);
            context.images.push_back(std::move(image));
            return 0;
        },
        &context);
    return context.images;
}

std::optional<std::array<uint8_t, 16>> TallyMachOUUID(std::span<const uint8_t> header) {
    auto read32 = [&](size_t offset, bool swap) -> std::optional<uint32_t> {
        if (offset + 4 > header.size()) return std::nullopt;
        uint32_t value = 0;
        std::memcpy(&value, header.data() + offset, 4);
        return swap ? __builtin_bswap32(value) : value;
    };
    const auto magic = read32(0, false);
    if (!magic) return std::nullopt;
    const bool is64 = *magic == 0xFEEDFACFu || *magic == 0xCFFAEDFEu;
    const bool swap = *magic == 0xCFFAEDFEu || *magic == 0xCEFAEDFEu;
    const auto commands = read32(16, swap);
    if (!commands) return std::nullopt;
    size_t offset = is64 ? 32 : 28;
    for (uint32_t i = 0; i < *commands; ++i) {
        const auto command = read32(offset, swap);
        const auto size = read32(offset + 4, swap);
        if (!command || !size || *size < 8) return std::nullopt;
        if (*command == 0x1B) {
            if (offset + 8 + 16 > header.size()) return std::nullopt;
            std::array<uint8_t, 16> uuid{};
            std::memcpy(uuid.data(), header.data() + offset + 8, 16);
            return uuid;
        }
        offset += *size;
    }
    return std::nullopt;
}

std::string TallyFormatStackLine(int frame, const std::string& image, uint64_t address,
                                 const std::string& symbol, uint64_t offset) {
    char head[64];
    std::snprintf(head, sizeof head, "%-4d", frame);
    char addressText[32];
    std::snprintf(addressText, sizeof addressText, "0x%016" PRIx64 " ", address);
    std::string line = head;
    line += image;
    if (image.size() < 35) line.append(35 - image.size(), ' ');
    line += addressText;
    line += symbol;
    line += " + ";
    line += std::to_string(offset);
    return line;
}

std::vector<std::string> TallyCurrentStackTrace(int skip) {
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    std::vector<std::string> lines;
    for (int i = skip + 1; i < count; ++i) {
        const auto address = reinterpret_cast<uint64_t>(frames[i]);
        Dl_info info{};
        std::string image = "???";
        std::string symbol = "???";
        uint64_t offset = 0;
        if (::dladdr(frames[i], &info) != 0) {
            if (info.dli_fname != nullptr) image = baseName(info.dli_fname);
            if (info.dli_sname != nullptr) {
                int status = 0;
                char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
                symbol = status == 0 && demangled != nullptr ? demangled : info.dli_sname;
                std::free(demangled);
                offset = address - reinterpret_cast<uint64_t>(info.dli_saddr);
            } else if (info.dli_fbase != nullptr) {
                symbol = image;
                offset = address - reinterpret_cast<uint64_t>(info.dli_fbase);
            }
        }
        lines.push_back(TallyFormatStackLine(i - skip - 1, image, address, symbol, offset));
    }
    return lines;
}

std::vector<std::string> TallyImageNamesInStackTrace(const std::vector<std::string>& lines) {
    std::set<std::string> names;
    for (const auto& line : lines) {
        if (line.size() < 39) continue;
        std::string name = line.substr(4, 35);
        const size_t first = name.find_first_not_of(" \t\n");
        const size_t last = name.find_last_not_of(" \t\n");
        names.insert(first == std::string::npos ? std::string() : name.substr(first, last - first + 1));
    }
    return {names.begin(), names.end()};
}

TallyJSON TallyBinaryImagesForStackTrace(const std::vector<std::string>& lines,
                                         const std::vector<TallyImage>& images, std::string* buildUUID,
                                         std::string* executableName) {
    const auto wanted = TallyImageNamesInStackTrace(lines);
    TallyJSON result = TallyJSON::object();
    for (const auto& image : images) {
        if (image.name.empty()) {
            TallyLog(TallyLogLevel::Warning, "Image Name can not be retrieved!");
            continue;
        }
        if (!std::binary_search(wanted.begin(), wanted.end(), image.name)) {
            TallyLog(TallyLogLevel::Verbose,
                     "Image Name is not in the stack trace, so it will be ignored!\n{}", image.name);
            continue;
        }
        TallyLog(TallyLogLevel::Debug, "Image Name is in the stack trace, so it will be used!\n{}",
                 image.name);
        if (!image.buildUUID) {
            TallyLog(TallyLogLevel::Warning, "Image UUID can not be retrieved!");
            continue;
        }
        if (image.isMainExecutable) {
            if (buildUUID) *buildUUID = *image.buildUUID;
            if (executableName) *executableName = image.name;
        }
        char address[32];
        std::snprintf(address, sizeof address, "0x%" PRIX64, image.loadAddress);
        TallyJSON entry = TallyJSON::object();
        entry["la"] = address;
        entry["id"] = *image.buildUUID;
        result[image.name] = entry;
    }
    return result;
}

}  // namespace tervolo::analytics
