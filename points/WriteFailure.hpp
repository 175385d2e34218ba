#pragma once

#include <string>

#include "platform/foundation/Error.hpp"

namespace tervolo::points {

// What the user's collection is made of, for the sentence that names the
// folder that could not be written.
enum class RecordKind { location, tag };

// Why a point or tag file was not written, as one localized sentence for the
// user (the alert that follows a failed write): too large, not storable, a
// full disk, a read-only disk, no permission, or the folder that cannot be
// written with the platform's description.
std::string writeFailureReason(const platform::Error& error, RecordKind kind = RecordKind::location);

}  // namespace tervolo::points
