#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Result.hpp"

namespace platform {

using Data = std::vector<uint8_t>;

// Options of FileManager::writeFile; they combine with `|`.
enum class WriteOptions : unsigned {
    None = 0,
    // Write a temporary file in the same folder, fsync it, then rename it over
    // the destination: readers see the old or the new content, never a torn
    // file, even when the process dies mid-way. The temporary is removed on
    // every failure.
    Atomic = 1,
    // Refuse when the destination exists (Error::isFileExists()); with Atomic
    // the final step is a rename that never replaces.
    WithoutOverwriting = 2,
    // When the destination is a symbolic link (a chain of them), write to the
    // file it finally names, in that file's folder, and keep the link. Without
    // it a link at the destination is replaced by a plain file.
    ThroughSymbolicLinks = 4,
};
constexpr WriteOptions operator|(WriteOptions a, WriteOptions b) {
    return static_cast<WriteOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool hasOption(WriteOptions set, WriteOptions option) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(option)) != 0;
}

enum class FileType {
    Regular,
    Directory,
    SymbolicLink,
    CharacterSpecial,
    BlockSpecial,
    Socket,
    FIFO,
    Unknown
};

struct FileAttributes {
    uint64_t size = 0;                  // bytes
    Date modificationDate;              // seconds since 2001
    std::optional<Date> creationDate;   // absent when the file system keeps no birth time
    FileType type = FileType::Unknown;  // of the item itself (links are not followed)
    unsigned permissions = 0;           // st_mode & 07777
    uint64_t linkCount = 0;
};

// The file operations the program needs, with errors instead of exceptions.
// Paths are plain UTF-8/byte strings; folders are returned without a trailing
// slash. All functions are thread-safe.
class FileManager {
  public:
    static FileManager& defaultManager();

    // The application's folders, created on first use:
    //   documents   $XDG_DATA_HOME/TervoloNG   (default ~/.local/share/TervoloNG)
    //   caches      $XDG_CACHE_HOME/TervoloNG  (default ~/.cache/TervoloNG)
    //   preferences $XDG_CONFIG_HOME/TervoloNG (default ~/.config/TervoloNG)
    //   temporary   $TMPDIR or /tmp (not created)
    // The variables are read on every call, so tests can point them elsewhere.
    std::string documentsDirectory() const;
    std::string cachesDirectory() const;
    std::string preferencesDirectory() const;
    std::string temporaryDirectory() const;

    // Any kind of item, links followed (a dangling link does not exist).
    bool fileExists(const std::string& path) const;
    bool isDirectory(const std::string& path) const;

    std::optional<Error> createDirectory(const std::string& path, bool withIntermediateDirectories) const;

    // Names of the entries of one folder level, hidden ones included, "." and
    // ".." excluded, in no particular order.
    Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const;

    Result<Data> readFile(const std::string& path) const;

    // For loaders of files found in a folder: regular files only (after
    // following links), opened non-blocking so a FIFO cannot stall the caller,
    // checked with fstat on the opened descriptor, and at most maxBytes long.
    // A FIFO, device or folder fails with EINVAL; an oversized file with
    // Error::kFileReadTooLarge (EFBIG).
    static constexpr size_t kDefaultReadCap = 1024 * 1024;
    Result<Data> readFileSafely(const std::string& path, size_t maxBytes = kDefaultReadCap) const;

    std::optional<Error> writeFile(const std::string& path, std::span<const uint8_t> bytes,
                                   WriteOptions options = WriteOptions::None) const;
    std::optional<Error> writeFile(const std::string& path, std::string_view text,
                                   WriteOptions options = WriteOptions::None) const;

    // The path a chain of symbolic links at `path` finally names (relative
    // targets taken from each link's folder); `path` itself when it is no
    // link. The final target need not exist. ELOOP after 40 links.
    Result<std::string> resolvingSymbolicLinks(const std::string& path) const;

    // Atomic writes go through a temporary file ".<name>.tmp-XXXXXX" beside
    // the destination (hidden, with a suffix no loader looks for). A process
    // killed between creating and renaming it leaves it behind.
    static bool isTemporaryFileName(std::string_view name);
    // Removes the temporary files that interrupted atomic writes left in
    // `folder`: regular files named by the pattern above (for the
    // destination `forName` only, when given) whose last change lies at
    // least `minimumAge` seconds in the past by the file system's clock, so a
    // write still running in another process keeps its file. Returns the
    // names removed.
    std::vector<std::string> removeAbandonedTemporaryFiles(const std::string& folder,
                                                           double minimumAge = 60.0,
                                                           std::string_view forName = {}) const;

    // Removes a file, link or folder (folders with their contents).
    std::optional<Error> removeItem(const std::string& path) const;
    // Renames; fails with Error::isFileExists() when the destination exists.
    std::optional<Error> moveItem(const std::string& from, const std::string& to) const;

    Result<FileAttributes> attributesOfItem(const std::string& path) const;

    // Extended attributes in the "user." namespace: `name` "quova.log.archived"
    // is stored as "user.quova.log.archived". Errors keep their errno:
    // ENODATA (no such attribute), ERANGE (value longer than maxBytes),
    // ENOENT (no file), ENOTSUP (file system without user attributes;
    // Error::isNotSupported()).
    Result<Data> extendedAttribute(const std::string& path, const std::string& name,
                                   size_t maxBytes = 1) const;
    std::optional<Error> setExtendedAttribute(const std::string& path, const std::string& name,
                                              std::span<const uint8_t> value) const;
    std::optional<Error> removeExtendedAttribute(const std::string& path, const std::string& name) const;

    // Fault injection for crash tests of the atomic write: called before the
    // named step ("write", "fsync", "rename") with the temporary's path; a
    // non-zero return makes the step fail with that errno. Process-wide.
    using WriteStepHook = int (*)(const char* step, const char* temporaryPath);
    static void setWriteStepHookForTesting(WriteStepHook hook);

  private:
    FileManager() = default;
};

}  // namespace platform
