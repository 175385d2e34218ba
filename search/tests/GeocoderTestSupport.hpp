#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "points/QuovaPlacemark.hpp"
#include "search/QuovaForwardGeocoder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::search::testing {

// One call of a search's completion handler.
struct HandlerCall {
    std::optional<std::vector<points::QuovaPlacemark>> placemarks;
    bool done = false;
    std::optional<platform::Error> error;
    double at = 0;  // monotonic seconds
};

// Records the calls of completion handlers; main thread.
class HandlerCalls {
  public:
    QuovaForwardGeocoder::CompletionHandler handler(std::string search = "");
    const std::vector<HandlerCall>& calls() const { return calls_; }
    std::vector<std::string> searches() const { return searches_; }
    size_t size() const { return calls_.size(); }

  private:
    std::vector<HandlerCall> calls_;
    std::vector<std::string> searches_;
};

// A start reply and a poll reply in the backend's JSON.
std::string startReply(const std::string& uuid, const std::string& searchString = "abc");
std::string pollReply(int hits, bool done, bool withPlacemarks = true, const std::string& uuid = "S1");

// A clock at 2001-01-01 + 700 000 000 s and a record of the shared log.
class GeocoderTest : public ::testing::Test {
  protected:
    GeocoderTest();
    ~GeocoderTest() override;

    std::vector<std::string> logTexts() { return log_.texts(); }
    bool logged(const std::string& text);
    size_t loggedCount(const std::string& text);

    testsupport::VirtualClockScope time_;
    testsupport::SharedLogRecording log_;
};

}  // namespace tervolo::search::testing
