#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace platform {

// An error as the platform reports it: a domain, a code within that domain and
// an English description for log lines. File operations use the Cocoa file
// error codes (so "exists" is 516 and callers can tell it apart from other
// write failures) and keep the underlying errno for finer decisions.
struct Error {
    std::string domain;
    int64_t code = 0;
    std::string description;
    int posixCode = 0;  // errno behind the error, 0 when there is none
    // Further facts under the platform's keys, e.g. "NSErrorFailingURLKey".
    std::map<std::string, std::string> userInfo;

    static constexpr const char* kCocoaDomain = "NSCocoaErrorDomain";
    static constexpr const char* kPOSIXDomain = "NSPOSIXErrorDomain";

    // Cocoa file error codes used by FileManager and FileHandle.
    static constexpr int64_t kFileNoSuchFile = 4;
    static constexpr int64_t kFileReadUnknown = 256;
    static constexpr int64_t kFileReadNoPermission = 257;
    static constexpr int64_t kFileReadNoSuchFile = 260;
    static constexpr int64_t kFileReadTooLarge = 263;
    static constexpr int64_t kFileWriteUnknown = 512;
    static constexpr int64_t kFileWriteNoPermission = 513;
    static constexpr int64_t kFileWriteFileExists = 516;
    static constexpr int64_t kFileWriteOutOfSpace = 640;
    static constexpr int64_t kFileWriteVolumeReadOnly = 642;
    static constexpr int64_t kFeatureUnsupported = 3328;

    // A plain POSIX error: domain kPOSIXDomain, code = errno.
    static Error posix(int errnoValue, const std::string& what);

    // A file error for `operation` ("read", "write", ...) on `path` from errno:
    // the Cocoa code that matches, the errno kept in posixCode.
    static Error file(int errnoValue, const std::string& operation, const std::string& path);

    bool isNoSuchFile() const;    // the item (or a folder on its path) does not exist
    bool isFileExists() const;    // refused because the destination exists
    bool isNotSupported() const;  // the file system does not support the operation

    // "<domain> <code>: <description>", for log lines.
    std::string fullDescription() const;
};

}  // namespace platform
