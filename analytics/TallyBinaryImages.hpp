#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"

namespace tervolo::analytics {

// One image (executable or shared library) loaded in the process.
struct TallyImage {
    std::string name;                      // file name, "TervoloNG", "libc.so.6"
    uint64_t loadAddress = 0;              // address of its ELF header in memory
    uint64_t endAddress = 0;               // one past its highest loaded byte
    std::optional<std::string> buildUUID;  // first 16 bytes of the GNU build ID, "8-4-4-4-12" upper case
    bool isMainExecutable = false;
};

// The images of this process in load order (dl_iterate_phdr). The main
// program, which the loader lists without a name, is named after
// /proc/self/exe.
std::vector<TallyImage> TallyLoadedImages();

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" of the first 16 bytes of a build ID
// (shorter IDs are padded with zeros); none for an empty one.
std::optional<std::string> TallyBuildIDAsUUID(std::span<const uint8_t> buildID);

// The UUID of a Mach-O header: the 16 bytes after the head of its first
// LC_UUID (0x1B) load command; none when the buffer holds no such command.
// Kept for records that name images of the platform the server knows best.
std::optional<std::array<uint8_t, 16>> TallyMachOUUID(std::span<const uint8_t> header);

// The stack lines of the current thread in the layout the server reads:
// frame number padded to 4, image name padded to 35, the address, then the
// symbol and offset ("%-4d%-35s0x%016lx %s + %lu"). `skip` frames of the
// caller are left out.
std::vector<std::string> TallyCurrentStackTrace(int skip);
std::string TallyFormatStackLine(int frame, const std::string& image, uint64_t address,
                                 const std::string& symbol, uint64_t offset);

// Image names a stack trace mentions: of every line of at least 39
// characters, the 35 starting at position 4, trimmed.
std::vector<std::string> TallyImageNamesInStackTrace(const std::vector<std::string>& lines);

// {"<name>": {"la": "0x…", "id": "<UUID>"}} for the images named in the
// trace; the main executable's UUID and name are returned through the two
// out-parameters when it is among them.
TallyJSON TallyBinaryImagesForStackTrace(const std::vector<std::string>& lines,
                                         const std::vector<TallyImage>& images, std::string* buildUUID,
                                         std::string* executableName);

}  // namespace tervolo::analytics
