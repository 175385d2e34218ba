// Building ELF image records from what the dynamic loader reports. Reads
// files and allocates, so never on the crash path.
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash/AsyncElfImage.hpp"

namespace tervolo::crash {

namespace {

// A symbol table larger than this is not read (no object of ours comes
// close; a hostile file could claim anything).
constexpr uint64_t kMaxSymbolTableBytes = 64ull << 20;

bool readAt(int fd, uint64_t offset, void* out, uint64_t size) {
    uint64_t done = 0;
    while (done < size) {
        const ssize_t n =
            pread(fd, static_cast<uint8_t*>(out) + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<uint64_t>(n);
    }
    return true;
}

// The full symbol table from the file, when the file is the object loaded:
// same build ID (or neither has one).
void readFileSymbols(qcrash_async_macho_t* image, const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ElfW(Ehdr) header;
    std::vector<ElfW(Shdr)> sections;
    if (readAt(fd, 0, &header, sizeof header) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(ElfW(Shdr)) &&
        header.e_shnum > 0) {
        sections.resize(header.e_shnum);
        if (!readAt(fd, header.e_shoff, sections.data(), sections.size() * sizeof(ElfW(Shdr))))
            sections.clear();
    }
    std::vector<uint8_t> fileId;
    const ElfW(Shdr)* symtab = nullptr;
    for (const auto& section : sections) {
        if (section.sh_type == SHT_NOTE && section.sh_size < (1u << 20) && fileId.empty()) {
            std::vector<uint8_t> notes(section.sh_size);
            uint8_t id[sizeof image->elf.build_id];
            uint32_t length = 0;
            if (readAt(fd, section.sh_offset, notes.data(), notes.size()) &&
                qcrash_async_elf_build_id(reinterpret_cast<uintptr_t>(notes.data()), notes.size(), id,
                                          sizeof id, &length)) {
                fileId.assign(id, id + length);
            }
        }
        if (section.sh_type == SHT_SYMTAB && symtab == nullptr) symtab = &section;
    }
    const std::vector<uint8_t> memoryId(image->elf.build_id,
                                        image->elf.build_id + image->elf.build_id_length);
    if (symtab != nullptr && fileId == memoryId && symtab->sh_link < sections.size() &&
        symtab->sh_entsize == sizeof(ElfW(Sym)) && symtab->sh_size <= kMaxSymbolTableBytes) {
        const auto& strings = sections[symtab->sh_link];
        if (strings.sh_size <= kMaxSymbolTableBytes) {
            auto* symbols = static_cast<uint8_t*>(std::malloc(symtab->sh_size + 1));
            auto* names = static_cast<char*>(std::malloc(strings.sh_size + 1));
            if (symbols != nullptr && names != nullptr &&
                readAt(fd, symtab->sh_offset, symbols, symtab->sh_size) &&
                readAt(fd, strings.sh_offset, names, strings.sh_size)) {
                image->elf.symtab = symbols;
                image->elf.symtab_count = symtab->sh_size / sizeof(ElfW(Sym));
                image->elf.strtab = names;
                image->elf.strtab_size = strings.sh_size;
                symbols = nullptr;
                names = nullptr;
            }
            std::free(symbols);
            std::free(names);
        }
    }
    close(fd);
}

std::string executablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

qcrash_error_t qcrash_nasync_elf_init(qcrash_async_macho_t* image, const char* path, uintptr_t load_bias,
                                      const ElfW(Phdr) * phdrs, uint16_t phnum) {
    const qcrash_error_t error =
        qcrash_async_elf_init(image, nullptr, load_bias, reinterpret_cast<uintptr_t>(phdrs), phnum);
    if (error != QCRASH_ESUCCESS) {
        *image = qcrash_async_macho_t{};
        return error;
    }
    const std::string file = (path == nullptr || path[0] == 0) ? executablePath() : std::string(path);
    if (!file.empty() && file[0] == '/') readFileSymbols(image, file);
    image->name = strdup(file.c_str());
    return QCRASH_ESUCCESS;
}

}  // namespace tervolo::crash
