#include "points/WriteFailure.hpp"

#include <cerrno>

#include "platform/foundation/Bundle.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::points {

std::string writeFailureReason(const platform::Error& error, RecordKind kind) {
    const auto localized = [](const char* text) { return platform::Bundle::main().localizedString(text); };
    const bool tag = kind == RecordKind::tag;
    if (error.domain == recordfile::kRecordFileErrorDomain && error.code == recordfile::kRecordFileTooLarge) {
        return localized(
            "The location is too large to be stored: its texts may take at most 1 MiB together.");
    }
    if (error.domain == recordfile::kRecordFileErrorDomain) {
        return localized(tag ? "A value of the tag cannot be stored"
                             : "A value of the location cannot be stored") +
               " (" + error.description + ").";
    }
    if (error.posixCode == ENOSPC || error.posixCode == EDQUOT ||
        error.code == platform::Error::kFileWriteOutOfSpace) {
        return localized("The disk is full.");
    }
    if (error.posixCode == EROFS || error.code == platform::Error::kFileWriteVolumeReadOnly) {
        return localized(tag ? "The disk holding your tags is read-only."
                             : "The disk holding your locations is read-only.");
    }
    if (error.posixCode == EACCES || error.posixCode == EPERM ||
        error.code == platform::Error::kFileWriteNoPermission) {
        return localized(tag ? "There is no permission to write to the tags folder."
                             : "There is no permission to write to the locations folder.");
    }
    return localized(tag ? "The tags folder cannot be written to"
                         : "The locations folder cannot be written to") +
           " (" + error.description + ").";
}

}  // namespace tervolo::points
