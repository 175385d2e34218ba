#pragma once

#include <memory>
#include <string>

#include "logging/ASLStore.hpp"
#include "logging/QLAbstractLogger.hpp"

namespace tervolo::logging {

// Writes each record into the older system-log store (ASLStore), through a
// client opened for the facility "com.apple.console". Entries it writes carry
// "QLLog" = "1", so the capture (QLASLLogCapture) never reads them back; records
// the capture made (file name "QLASLLogCapture") are not written.
//
// ASL level by the record's flag value (equality, not a bit test): error → 2
// (critical), warning → 3 (error), error|warning (3) → 5 (notice), info → 4
// (warning), anything else, debug and verbose included → 5 (notice).
//
// One instance per process: nothing in the application creates it.
class QLASLLogger : public QLAbstractLogger {
  public:
    // Created once; never destroyed.
    static const std::shared_ptr<QLASLLogger>& sharedInstance();
    // A new logger, or nullptr once the shared instance exists (no second instance).
    static std::shared_ptr<QLASLLogger> make();

    void logMessage(const QLLogMessagePtr& logMessage) override;

    // The ASL level (0 to 7) a record of this flag value is written at.
    static int aslLevel(QLLogFlag flag);

    static constexpr const char* kLoggerName = "quova.logging.aslLogger";
    static constexpr const char* kFacility = "com.apple.console";

  protected:
    QLASLLogger();

  private:
    std::shared_ptr<ASLClient> client_;
};

}  // namespace tervolo::logging
