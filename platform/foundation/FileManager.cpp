#include "platform/foundation/FileManager.hpp"
#include "platform/dispatch/SharedInstance.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace platform {

namespace {

constexpr const char* kApplicationFolder = "TervoloNG";

std::atomic<FileManager::WriteStepHook> gWriteStepHook{nullptr};

// Runs the fault-injection hook of a write step; returns the errno to fail with.
int injectedFault(const char* step, const std::string& temporaryPath) {
    const FileManager::WriteStepHook hook = gWriteStepHook.load(std::memory_order_acquire);
    return hook != nullptr ? hook(step, temporaryPath.c_str()) : 0;
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    // Only reached without $HOME; getpwuid_r keeps this thread-safe.
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::string stripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// $VARIABLE when it is an absolute path (the XDG rule: relative values are
// ignored), else ~/fallback; then the application's own folder, created.
std::string applicationFolder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string base;
    if (value != nullptr && value[0] == '/') {
        base = value;
    } else {
        base = homeDirectory() + "/" + fallback;
    }
    std::string folder = stripTrailingSlashes(base) + "/" + kApplicationFolder;
    // Best effort: a caller that then fails to write gets the precise error.
    FileManager::defaultManager().createDirectory(folder, true);
    return folder;
}

std::string parentFolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes every byte, retrying EINTR and short writes; returns 0 or errno.
int writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

// Reads until end of file or until more than `limit` bytes were read.
int readAll(int fd, Data& out, size_t limit) {
    uint8_t chunk[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        out.insert(out.end(), chunk, chunk + got);
        if (out.size() > limit) return EFBIG;
    }
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

FileType typeOfMode(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return FileType::Regular;
        case S_IFDIR:
            return FileType::Directory;
        case S_IFLNK:
            return FileType::SymbolicLink;
        case S_IFCHR:
            return FileType::CharacterSpecial;
        case S_IFBLK:
            return FileType::BlockSpecial;
        case S_IFSOCK:
            return FileType::Socket;
        case S_IFIFO:
            return FileType::FIFO;
        default:
            return FileType::Unknown;
    }
}

Date dateOf(int64_t seconds, uint32_t nanoseconds) {
    return Date::fromUnix(static_cast<double>(seconds) + static_cast<double>(nanoseconds) * 1e-9);
}

std::string attributeName(const std::string& name) {
    return "user." + name;
}

// A rename that never replaces: renameat2(RENAME_NOREPLACE), or, where the
// file system lacks it, link + unlink (link also refuses an existing name).
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: makes the rename itself durable
    ::close(fd);
}

constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr size_t kTemporaryRandomLength = 6;  // mkstemp's XXXXXX

std::string temporaryTemplate(const std::string& path) {
    return parentFolderOf(path) + "/." + baseName(path) + std::string(kTemporaryMarker) +
           std::string(kTemporaryRandomLength, 'X');
}

std::optional<Error> writeAtomically(const std::string& path, std::span<const uint8_t> bytes,
                                     bool overwrite) {
    if (!overwrite) {
        struct stat existing {};
        if (::lstat(path.c_str(), &existing) == 0) return Error::file(EEXIST, "write", path);
    }
    // Hidden and with a suffix no loader looks for, in the destination's own
    // folder so the final rename stays on one file system.
    std::string temporary = temporaryTemplate(path);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Error::file(errno, "write", path);

    auto fail = [&](int errnoValue, int openFd) -> std::optional<Error> {
        if (openFd >= 0) ::close(openFd);
        ::unlink(temporary.c_str());
        return Error::file(errnoValue, "write", path);
    };

    // mkstemp creates 0600; keep the mode of the file being replaced, else the
    // usual 0644 of a new file.
    struct stat destination {};
    const mode_t mode = ::stat(path.c_str(), &destination) == 0 ? (destination.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) return fail(errno, fd);

    if (int injected = injectedFault("write", temporary)) return fail(injected, fd);
    if (int err = writeAll(fd, bytes.data(), bytes.size())) return fail(err, fd);
    if (int injected = injectedFault("fsync", temporary)) return fail(injected, fd);
    if (::fsync(fd) != 0) return fail(errno, fd);
    if (::close(fd) != 0) return fail(errno, -1);
    if (int injected = injectedFault("rename", temporary)) return fail(injected, -1);
    if (overwrite) {
        if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno, -1);
    } else if (int err = renameNoReplace(temporary, path)) {
        return fail(err, -1);
    }
    syncFolder(parentFolderOf(path));
    return std::nullopt;
}

std::optional<Error> writeInPlace(const std::string& path, std::span<const uint8_t> bytes, bool overwrite) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return Error::file(errno, "write", path);
    int err = injectedFault("write", path);
    if (err == 0) err = writeAll(fd, bytes.data(), bytes.size());
    // close() releases the descriptor even when it reports an error.
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        // A file this call created is not left behind half written.
        if (!overwrite) ::unlink(path.c_str());
        return Error::file(err, "write", path);
    }
    return std::nullopt;
}

}  // namespace

FileManager& FileManager::defaultManager() {
    return SharedInstance<FileManager>::get([] { return new FileManager; });
}

std::string FileManager::documentsDirectory() const {
    return applicationFolder("XDG_DATA_HOME", ".local/share");
}

std::string FileManager::cachesDirectory() const {
    return applicationFolder("XDG_CACHE_HOME", ".cache");
}

std::string FileManager::preferencesDirectory() const {
    return applicationFolder("XDG_CONFIG_HOME", ".config");
}

std::string FileManager::temporaryDirectory() const {
    const char* value = std::getenv("TMPDIR");
    if (value != nullptr && value[0] == '/') return stripTrailingSlashes(value);
    return "/tmp";
}

bool FileManager::fileExists(const std::string& path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool FileManager::isDirectory(const std::string& path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<Error> FileManager::createDirectory(const std::string& path,
                                                  bool withIntermediateDirectories) const {
    if (path.empty()) return Error::file(ENOENT, "create folder", path);
    if (!withIntermediateDirectories) {
        if (::mkdir(path.c_str(), 0777) != 0) return Error::file(errno, "create folder", path);
        return std::nullopt;
    }
    // The common case: the folder is already there.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return std::nullopt;
    // Create each missing component in turn; an existing folder is fine, an
    // existing file on the way is not.
    size_t position = 0;
    for (;;) {
        position = path.find('/', position + 1);
        const std::string prefix = position == std::string::npos ? path : path.substr(0, position);
        if (!prefix.empty() && prefix != "/" && ::mkdir(prefix.c_str(), 0777) != 0) {
            const int err = errno;
            struct stat info {};
            if (err != EEXIST || ::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                return Error::file(err == EEXIST ? ENOTDIR : err, "create folder", path);
            }
        }
        if (position == std::string::npos) break;
    }
    return std::nullopt;
}

Result<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path) const {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    if (!folder) return Error::file(errno, "list", path);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (entry == nullptr) {
            if (errno != 0) return Error::file(errno, "list", path);
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    return names;
}

Result<Data> FileManager::readFile(const std::string& path) const {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Error::file(errno, "read", path);
    FdCloser closer{fd};
    Data data;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data.reserve(static_cast<size_t>(info.st_size));
    }
    if (int err = readAll(fd, data, data.max_size() - 1)) return Error::file(err, "read", path);
    return data;
}

Result<Data> FileManager::readFileSafely(const std::string& path, size_t maxBytes) const {
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return Error::file(errno, "read", path);
    FdCloser closer{fd};
    // Checked on the opened descriptor, so a swap of the path between a check
    // and the open cannot slip a device or FIFO in.
    struct stat info {};
    if (::fstat(fd, &info) != 0) return Error::file(errno, "read", path);
    if (!S_ISREG(info.st_mode)) return Error::file(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "read", path);
    if (static_cast<uint64_t>(info.st_size) > maxBytes) return Error::file(EFBIG, "read", path);
    Data data;
    data.reserve(static_cast<size_t>(info.st_size));
    // The file may grow after fstat; the cap holds for what is actually read.
    if (int err = readAll(fd, data, maxBytes)) return Error::file(err, "read", path);
    return data;
}

std::optional<Error> FileManager::writeFile(const std::string& path, std::span<const uint8_t> bytes,
                                            WriteOptions options) const {
    const bool overwrite = !hasOption(options, WriteOptions::WithoutOverwriting);
    if (hasOption(options, WriteOptions::ThroughSymbolicLinks)) {
        auto target = resolvingSymbolicLinks(path);
        if (!target) return Error::file(target.error().posixCode, "write", path);
        if (hasOption(options, WriteOptions::Atomic))
            return writeAtomically(target.value(), bytes, overwrite);
        return writeInPlace(target.value(), bytes, overwrite);
    }
    if (hasOption(options, WriteOptions::Atomic)) return writeAtomically(path, bytes, overwrite);
    return writeInPlace(path, bytes, overwrite);
}

std::optional<Error> FileManager::writeFile(const std::string& path, std::string_view text,
                                            WriteOptions options) const {
    return writeFile(
        path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), options);
}

Result<std::string> FileManager::resolvingSymbolicLinks(const std::string& path) const {
    std::string current = path;
    for (int links = 0; links <= 40; ++links) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno == ENOENT) return current;  // a new file, or a dangling link's target
            return Error::file(errno, "resolve", path);
        }
        if (!S_ISLNK(info.st_mode)) return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) return Error::file(errno, "resolve", path);
        if (static_cast<size_t>(length) >= target.size()) return Error::file(ENAMETOOLONG, "resolve", path);
        target.resize(static_cast<size_t>(length));
        if (target.empty()) return Error::file(ENOENT, "resolve", path);
        current = target.front() == '/' ? target : parentFolderOf(current) + "/" + target;
    }
    return Error::file(ELOOP, "resolve", path);
}

bool FileManager::isTemporaryFileName(std::string_view name) {
    if (name.size() < 1 + kTemporaryMarker.size() + kTemporaryRandomLength || name.front() != '.')
        return false;
    return name.substr(name.size() - kTemporaryRandomLength - kTemporaryMarker.size(),
                       kTemporaryMarker.size()) == kTemporaryMarker;
}

std::vector<std::string> FileManager::removeAbandonedTemporaryFiles(const std::string& folder,
                                                                    double minimumAge,
                                                                    std::string_view forName) const {
    std::vector<std::string> removed;
    auto names = contentsOfDirectory(folder);
    if (!names) return removed;
    // Modification times are the file system's, so the age is measured on the
    // real clock, never on a test's virtual one.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double nowSeconds = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    for (const auto& name : names.value()) {
        if (!isTemporaryFileName(name)) continue;
        if (!forName.empty()) {
            const size_t length = name.size() - 1 - kTemporaryMarker.size() - kTemporaryRandomLength;
            if (std::string_view(name).substr(1, length) != forName) continue;
        }
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const double changed =
            static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) * 1e-9;
        if (nowSeconds - changed < minimumAge) continue;
        if (::unlink(path.c_str()) == 0) removed.push_back(name);
    }
    return removed;
}

std::optional<Error> FileManager::removeItem(const std::string& path) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return Error::file(errno, "remove", path);
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(path.c_str()) != 0) return Error::file(errno, "remove", path);
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error) return Error::file(error.value(), "remove", path);
    return std::nullopt;
}

std::optional<Error> FileManager::moveItem(const std::string& from, const std::string& to) const {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) return Error::file(errno, "move", from);
    if (int err = renameNoReplace(from, to)) return Error::file(err, "move", from + "\" to \"" + to);
    return std::nullopt;
}

Result<FileAttributes> FileManager::attributesOfItem(const std::string& path) const {
    FileAttributes attributes;
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &info) == 0) {
        attributes.size = info.stx_size;
        attributes.modificationDate = dateOf(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
        if ((info.stx_mask & STATX_BTIME) != 0) {
            attributes.creationDate = dateOf(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
        }
        attributes.type = typeOfMode(info.stx_mode);
        attributes.permissions = info.stx_mode & 07777;
        attributes.linkCount = info.stx_nlink;
        return attributes;
    }
    if (errno != ENOSYS && errno != EPERM) return Error::file(errno, "stat", path);
    // Kernels or sandboxes without statx: no birth time.
    struct stat plain {};
    if (::lstat(path.c_str(), &plain) != 0) return Error::file(errno, "stat", path);
    attributes.size = static_cast<uint64_t>(plain.st_size);
    attributes.modificationDate = dateOf(plain.st_mtim.tv_sec, static_cast<uint32_t>(plain.st_mtim.tv_nsec));
    attributes.type = typeOfMode(plain.st_mode);
    attributes.permissions = plain.st_mode & 07777;
    attributes.linkCount = plain.st_nlink;
    return attributes;
}

Result<Data> FileManager::extendedAttribute(const std::string& path, const std::string& name,
                                            size_t maxBytes) const {
    const std::string fullName = attributeName(name);
    Data value(maxBytes);
    ssize_t size;
    if (maxBytes == 0) {
        // A zero-sized buffer asks for the length instead of the value.
        size = ::getxattr(path.c_str(), fullName.c_str(), nullptr, 0);
        if (size > 0) return Error::file(ERANGE, "get attribute", path);
    } else {
        size = ::getxattr(path.c_str(), fullName.c_str(), value.data(), value.size());
    }
    if (size < 0) return Error::file(errno, "get attribute", path);
    value.resize(static_cast<size_t>(size));
    return value;
}

std::optional<Error> FileManager::setExtendedAttribute(const std::string& path, const std::string& name,
                                                       std::span<const uint8_t> value) const {
    if (::setxattr(path.c_str(), attributeName(name).c_str(), value.data(), value.size(), 0) != 0) {
        return Error::file(errno, "set attribute", path);
    }
    return std::nullopt;
}

std::optional<Error> FileManager::removeExtendedAttribute(const std::string& path,
                                                          const std::string& name) const {
    if (::removexattr(path.c_str(), attributeName(name).c_str()) != 0) {
        return Error::file(errno, "remove attribute", path);
    }
    return std::nullopt;
}

void FileManager::setWriteStepHookForTesting(WriteStepHook hook) {
    gWriteStepHook.store(hook, std::memory_order_release);
}

}  // namespace platform
