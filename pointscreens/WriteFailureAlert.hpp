#pragma once

#include <string>

#include "platform/foundation/Error.hpp"
#include "points/WriteFailure.hpp"

namespace platform {
class ViewController;
}

namespace tervolo::pointscreens {

// Tells the user that something they did was not written: an alert titled
// `title` (localized), whose message is the reason (points::writeFailureReason)
// followed by `outcome` (localized), what the screen now shows, with one "OK"
// button. The same form as the details screen's "Location Not Saved".
void presentWriteFailure(platform::ViewController& presenter, const char* title, const platform::Error& error,
                         const char* outcome, points::RecordKind kind = points::RecordKind::location);

}  // namespace tervolo::pointscreens
