#pragma once

#include <functional>
#include <memory>
#include <string>

#include "testsupport/FakeSearchIndex.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::testsupport {

// Everything a test of code that keeps the user's documents needs around it, set up in this
// order and put back in the reverse one:
// - a temporary folder that the XDG variables point into (documents, caches, preferences), with
//   the previous values restored afterwards (TemporaryFolder);
// - a virtual clock at a fixed time (VirtualClockScope);
// - a fake search index installed as the default, answering on its own queue (FakeSearchIndex);
// - every registered reset run, at the start and again at the end, so shared stores that cache
//   what they read from the documents folder start empty and leave nothing behind.
//
// Use it as a member of a test fixture, or on the stack in a test body, before threads start.
//
//   class PointsTest : public ::testing::Test {
//     protected:
//       testsupport::TestEnvironment environment_;
//   };
class TestEnvironment {
  public:
    struct Options {
        double wallSeconds = 1700000000.0;  // seconds since 1970
        double monotonicSeconds = 1000.0;
    };

    TestEnvironment() : TestEnvironment(Options{}) {}
    explicit TestEnvironment(Options options);
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    TemporaryFolder& folder() { return folder_; }
    platform::VirtualClock& clock() { return time_.clock(); }
    void advance(double seconds) { time_.advance(seconds); }
    FakeSearchIndex& searchIndex() { return *searchIndex_; }

    // A subsystem's tests register how to forget its shared state (a store's cached points),
    // typically from a static initialiser in their support file:
    //
    //   const bool registered = testsupport::TestEnvironment::registerReset(
    //       [] { QuovaMapPointStore::resetSharedForTesting(); });
    //
    // Resets run in the order registered. Returns true, to initialise such a static.
    static bool registerReset(std::function<void()> reset);

  private:
    static void runResets();

    TemporaryFolder folder_;
    VirtualClockScope time_;
    std::shared_ptr<FakeSearchIndex> searchIndex_;
};

}  // namespace tervolo::testsupport
