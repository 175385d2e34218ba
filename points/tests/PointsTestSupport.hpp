#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::points::testing {

// The shared test environment (private documents, preferences and caches
// folders through the XDG variables, restored afterwards; a virtual clock at a
// fixed wall time; the fake search index; fresh point and tag stores on first
// use), the application's information values, and a recording of every log
// line.
class PointsTest : public ::testing::Test {
  protected:
    // 2023-03-06 ... : seconds since 2001 = 700000000.
    static constexpr double kStartSeconds2001 = 700000000.0;

    void SetUp() override;
    void TearDown() override;

    std::string documents() const { return root_ + "/data/TervoloNG"; }
    std::string pointsFolder() const { return documents() + "/points/"; }
    std::string tagsFolder() const { return documents() + "/tags/"; }

    static std::string readText(const std::string& path);
    static void writeText(const std::string& path, const std::string& text);
    // Names of the folder's entries, sorted.
    static std::vector<std::string> entries(const std::string& folder);
    // A point file as the store writes it, with this identifier and title.
    static std::string pointFile(const std::string& uuid, const std::string& title);
    // The titles of the store's points in its order ("-" for a point without one).
    static std::vector<std::string> storeTitles();

    tervolo::testsupport::TestEnvironment environment_{
        {.wallSeconds = kStartSeconds2001 + platform::Date::kUnixOffset, .monotonicSeconds = 1000.0}};
    const std::string root_ = environment_.folder().path();
    platform::VirtualClock* const clock_ = &environment_.clock();
    std::unique_ptr<tervolo::testsupport::SharedLogRecording> log_;
};

// The text of a golden file in the tests' data folder.
std::string goldenText(const std::string& name);

}  // namespace tervolo::points::testing
