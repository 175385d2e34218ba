#include "platform/foundation/Error.hpp"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

std::string errnoText(int errnoValue) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in buffer.
    return std::string(strerror_r(errnoValue, buffer, sizeof buffer));
}

bool isWriteOperation(const std::string& operation) {
    return operation != "read" && operation != "open" && operation != "list" && operation != "stat" &&
           operation != "get attribute";
}

}  // namespace

Error Error::posix(int errnoValue, const std::string& what) {
    std::string text = errnoText(errnoValue);
    if (!what.empty()) text = what + ": " + text;
    return Error{kPOSIXDomain, errnoValue, std::move(text), errnoValue};
}

Error Error::file(int errnoValue, const std::string& operation, const std::string& path) {
    const bool write = isWriteOperation(operation);
    int64_t code = write ? kFileWriteUnknown : kFileReadUnknown;
    switch (errnoValue) {
        case ENOENT:
        case ENOTDIR:
            code = write ? kFileNoSuchFile : kFileReadNoSuchFile;
            break;
        case EEXIST:
        case ENOTEMPTY:
            code = kFileWriteFileExists;
            break;
        case EACCES:
        case EPERM:
            code = write ? kFileWriteNoPermission : kFileReadNoPermission;
            break;
        case ENOSPC:
        case EDQUOT:
            code = kFileWriteOutOfSpace;
            break;
        case EROFS:
            code = kFileWriteVolumeReadOnly;
            break;
        case EFBIG:
            code = write ? kFileWriteUnknown : kFileReadTooLarge;
            break;
        case ENOTSUP:
            code = kFeatureUnsupported;
            break;
        default:
            break;
    }
    std::string text = "Could not " + operation + " \"" + path + "\": " + errnoText(errnoValue);
    return Error{kCocoaDomain, code, std::move(text), errnoValue};
}

bool Error::isNoSuchFile() const {
    if (posixCode == ENOENT) return true;
    return domain == kCocoaDomain && (code == kFileNoSuchFile || code == kFileReadNoSuchFile);
}

bool Error::isFileExists() const {
    if (posixCode == EEXIST) return true;
    return domain == kCocoaDomain && code == kFileWriteFileExists;
}

bool Error::isNotSupported() const {
    if (posixCode == ENOTSUP) return true;
    return domain == kCocoaDomain && code == kFeatureUnsupported;
}

std::string Error::fullDescription() const {
    return domain + " " + std::to_string(code) + ": " + description;
}

}  // namespace platform
