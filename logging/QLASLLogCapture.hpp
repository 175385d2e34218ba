#pragma once

#include "logging/ASLStore.hpp"
#include "logging/QLLogFlag.hpp"

namespace tervolo::logging {

// Feeds entries of the older system-log store (ASLStore) into the shared
// registry (QLLog::sharedInstance()) as records, so messages written through
// the platform's own logging reach the framework's loggers. Nothing in the
// application starts it.
//
// Records it makes carry the file "QLASLLogCapture" (both system-log loggers
// skip them); entries QLASLLogger wrote ("QLLog" = "1") are not captured, so
// the two never feed each other.
//
// Flag and delivery by the entry's ASL level: 0, 1, 2 or no level → error,
// synchronous; 3 → warning; 4 → info; 5 → debug; any other → verbose (these
// asynchronous). A level text that is not a number counts as 0.
//
// Class-wide state only. start() registers one watch for the store's
// notification; stop() cancels that registration at once, so a stop followed
// by a start never leaves two watches, and a watch that was already running
// delivers no entry after a newer start took over. Across a stop and a start,
// an entry already delivered is never delivered again (the new watch begins at
// the new start's second, which can hold entries the old one delivered).
class QLASLLogCapture {
  public:
    QLASLLogCapture() = delete;

    // Starts watching (asynchronously, on the default global queue); nothing
    // when already capturing.
    static void start();
    // Stops watching: the registration is cancelled now.
    static void stop();

    // The flags passed on, and the level of every record made (default 31:
    // error, warning, info, debug and verbose).
    static QLLogLevel captureLevel();
    static void setCaptureLevel(QLLogLevel level);

    // Adds the watch's conditions: "Level" numerically at most 7, and "QLLog"
    // not "1" (entries QLASLLogger wrote).
    static void configureAslQuery(ASLQuery& query);
    // Turns one entry into a record and hands it to the shared registry.
    static void aslMessageReceived(const ASLMessage& message);
    // The watch of the current start: registers for the store's notification
    // on the high-priority global queue. Runs from start(); a watch whose start
    // was stopped or superseded meanwhile registers nothing.
    static void captureAslLogs();
};

}  // namespace tervolo::logging
