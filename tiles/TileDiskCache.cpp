#include "tiles/TileDiskCache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <filesystem>

#include <fmt/format.h>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/text/Random.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

namespace {

constexpr const char* kCacheDirTag =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by TervoloNG.\n"
    "# For information about cache directory tags see https://bford.info/cachedir/\n";

std::optional<double> modificationTime(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) * 1e-9;
}

bool isOutdated(double modified) {
    return modified + TileDiskCache::kExpirySeconds < platform::Clock::current()->wallSeconds();
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// A name no earlier clear used, so a second clear never meets the first one's trash.
std::string uniqueTrashName(const std::string& prefix) {
    uint8_t random[8];
    platform::text::randomBytes(random);
    std::string name = prefix + "-";
    for (uint8_t byte : random) name += fmt::format("{:02x}", byte);
    return name;
}

// A full or read-only disk fails every tile: one line a minute says so
// instead of one per tile (wall seconds of the last line; NaN: none yet).
std::atomic<double> gLastStoreFailureLine{std::nan("")};
std::atomic<uint64_t> gUnloggedStoreFailures{0};

template <typename... Args>
void logStoreFailure(fmt::format_string<Args...> format, Args&&... args) {
    const double now = platform::Clock::current()->wallSeconds();
    double last = gLastStoreFailureLine.load();
    do {
        if (!std::isnan(last) && now - last < 60.0) {
            ++gUnloggedStoreFailures;
            return;
        }
    } while (!gLastStoreFailureLine.compare_exchange_weak(last, now));
    tileLog(format, std::forward<Args>(args)...);
    if (const uint64_t unlogged = gUnloggedStoreFailures.exchange(0)) {
        tileLog("{} more tiles could not be stored in the last minute", unlogged);
    }
}

void deleteInBackground(std::string path) {
    platform::DispatchQueue::global(platform::QoS::Background)->async([path = std::move(path)] {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    });
}

}  // namespace

TileDiskCache::TileDiskCache(std::string tempDirPrefix, std::string documentsFolder)
    : prefix_(std::move(tempDirPrefix)), documents_(std::move(documentsFolder)) {}

bool TileDiskCache::isValidFolderName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool TileDiskCache::isValidStoragePath(std::string_view path) {
    int parts = 1;
    bool digit = false;
    for (char c : path) {
        if (c == '-') {
            if (!digit) return false;
            ++parts;
            digit = false;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            return false;
        }
    }
    return parts == 3 && digit && path.size() <= 64;
}

std::string TileDiskCache::documentsFolder() const {
    return documents_.empty() ? platform::FileManager::defaultManager().documentsDirectory() : documents_;
}

std::string TileDiskCache::tempDir() const {
    return documentsFolder() + "/" + prefix_;
}

std::string TileDiskCache::oldTempDir() const {
    return platform::FileManager::defaultManager().temporaryDirectory() + "/" + prefix_;
}

std::string TileDiskCache::filePath(std::string_view storagePath) const {
    return fmt::format("{}/{}.image", tempDir(), storagePath);
}

TileDiskCache::FileState TileDiskCache::fileState(std::string_view storagePath) const {
    if (!isValidStoragePath(storagePath)) return FileState::missing;
    auto modified = modificationTime(filePath(storagePath));
    if (!modified) return FileState::missing;
    return isOutdated(*modified) ? FileState::outdated : FileState::fresh;
}

std::optional<std::vector<uint8_t>> TileDiskCache::tileData(std::string_view storagePath,
                                                            bool acceptOutdated) const {
    if (!isValidStoragePath(storagePath)) return std::nullopt;
    const std::string path = filePath(storagePath);
    auto modified = modificationTime(path);
    if (!modified) return std::nullopt;
    if (isOutdated(*modified) && !acceptOutdated) {
        tileLog("outdated tiles are not OK -> deleting expired tile {} ", path);
        ::unlink(path.c_str());
        return std::nullopt;
    }
    // A plain read, not a mapping: a file replaced or cut short while mapped would fault.
    auto data = platform::FileManager::defaultManager().readFileSafely(path, kMaximumTileBytes);
    if (!data.ok()) return std::nullopt;
    return std::move(data).value();
}

bool TileDiskCache::storeTile(std::span<const uint8_t> bytes, std::string_view storagePath) const {
    if (!isValidFolderName(prefix_) || !isValidStoragePath(storagePath)) return false;
    const std::string folder = tempDir();
    const std::string path = filePath(storagePath);
    // The temporary file lives in the same folder so that the rename is atomic;
    // no fsync: a tile lost in a crash is simply downloaded again. The folder is
    // made only when the temporary cannot be, which saves a look per tile.
    std::string temporary = fmt::format("{}/.{}.XXXXXX", folder, storagePath);
    int fd = ::mkstemp(temporary.data());
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        if (platform::FileManager::defaultManager().createDirectory(folder, true)) {
            logStoreFailure("Can't store tile - failed to create tile dir");
            return false;
        }
        tileLog("Created tile dir");
        // Backup and archiving tools skip a folder tagged so; no per-file marking exists here.
        platform::FileManager::defaultManager().writeFile(folder + "/CACHEDIR.TAG",
                                                          std::string_view(kCacheDirTag));
        temporary = fmt::format("{}/.{}.XXXXXX", folder, storagePath);
        fd = ::mkstemp(temporary.data());
    }
    bool written = fd >= 0 && writeAll(fd, bytes);
    if (fd >= 0 && ::close(fd) != 0) written = false;
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) written = false;
    if (!written) {
        if (fd >= 0) ::unlink(temporary.c_str());
        logStoreFailure("ERROR writing data to file {}", path);
        return false;
    }
    // Written just now, so there is nothing to look up: the folder's tag keeps it out of backups.
    return true;
}

void TileDiskCache::removeTile(std::string_view storagePath) const {
    if (!isValidStoragePath(storagePath)) return;
    ::unlink(filePath(storagePath).c_str());
}

void TileDiskCache::excludePathFromBackup(const std::string& path) const {
    if (::access(path.c_str(), F_OK) != 0) {
        tileLog("exclude from backup - no such file: {} - nothing to do", path);
    }
    // Otherwise nothing per file: the folder's CACHEDIR.TAG excludes it.
}

void TileDiskCache::clearCacheDirs() const {
    tileLog("TilecacheManager: received clearCacheDirs");
    if (!isValidFolderName(prefix_)) return;
    auto& files = platform::FileManager::defaultManager();
    const std::string documents = documentsFolder();
    const std::string current = tempDir();
    const std::string old = oldTempDir();
    if (!files.isDirectory(documents)) {
        deleteInBackground(old);
        deleteInBackground(current);
        return;
    }
    const std::string trash1 = documents + "/trashcan1";
    const std::string trash2 = documents + "/trashcan2";
    files.createDirectory(trash1, true);
    files.createDirectory(trash2, true);
    // Moves go to names of their own, so a clear right after another one still
    // empties the folder; a folder on another file system (the temporary
    // folder is often tmpfs) is renamed beside itself instead.
    auto moveAway = [&](const std::string& folder, const std::string& trash) {
        if (::access(folder.c_str(), F_OK) != 0) return;
        std::string target = trash + "/" + uniqueTrashName(prefix_);
        if (::rename(folder.c_str(), target.c_str()) != 0 && errno == EXDEV) {
            target = folder + ".trash-" + uniqueTrashName(prefix_);
            if (::rename(folder.c_str(), target.c_str()) != 0) target.clear();
        } else if (::access(folder.c_str(), F_OK) == 0) {
            target.clear();
        }
        if (target.empty()) {
            tileLog("cache deletion issue: {}",
                    fmt::format("cannot move {}: {}", folder, std::strerror(errno)));
            return;
        }
        deleteInBackground(target);
    };
    moveAway(old, trash1);
    moveAway(current, trash2);
}

bool TileDiskCache::isTemporaryFileName(std::string_view name) {
    // "." + storage path + "." + the six characters mkstemp put in.
    constexpr size_t kRandom = 6;
    if (name.size() < 1 + 5 + 1 + kRandom || name[0] != '.' || name[name.size() - kRandom - 1] != '.')
        return false;
    for (char c : name.substr(name.size() - kRandom)) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    }
    return isValidStoragePath(name.substr(1, name.size() - kRandom - 2));
}

std::vector<std::string> TileDiskCache::removeAbandonedTemporaryFiles(double minimumAge) const {
    std::vector<std::string> removed;
    if (!isValidFolderName(prefix_)) return removed;
    const std::string folder = tempDir();
    auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names) return removed;
    // File times are the file system's, so the age is taken on the real clock, never a test's virtual one.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double nowSeconds = double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
    for (const auto& name : names.value()) {
        if (!isTemporaryFileName(name)) continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (nowSeconds - (double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) * 1e-9) < minimumAge)
            continue;
        if (::unlink(path.c_str()) != 0) continue;
        tileLog("Removed {}, left by a tile store that never completed", path);
        removed.push_back(name);
    }
    return removed;
}

void TileDiskCache::resetStoreFailureLogForTesting() {
    gLastStoreFailureLine = std::nan("");
    gUnloggedStoreFailures = 0;
}

std::optional<std::string> storagePathWithURLString(std::string_view url) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t slash = url.find('/', start);
        parts.push_back(
            url.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    if (parts.size() < 3) return std::nullopt;
    std::string_view last = parts.back();
    if (size_t at = last.find('@'); at != std::string_view::npos) {
        last = last.substr(0, at);
    } else if (size_t dot = last.find('.'); dot != std::string_view::npos) {
        last = last.substr(0, dot);
    }
    return fmt::format("{}-{}-{}", parts[parts.size() - 3], parts[parts.size() - 2], last);
}

}  // namespace tervolo::tiles
