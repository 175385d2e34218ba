#pragma once

#include <string>

namespace tervolo::shell {

// Opens an outside URL (directions in another application, the update page of
// the version alert, web pages) with the desktop's handler for its scheme,
// and logs at debug level that it does and, when the desktop reports back,
// "succeeded" or "failed". The open is issued whatever the answer; the answer
// is platform::canOpenURL for the URL (whether a handler is registered), not
// the outcome of this open, which arrives later. Main thread.
bool quovaOpen(const std::string& url);

}  // namespace tervolo::shell
