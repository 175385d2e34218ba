#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "testsupport/LoopbackHTTPServer.hpp"

namespace tervolo::testsupport {

// An OpenStreetMap-style geocoder on 127.0.0.1 (random port, plain HTTP), in
// the JSON form the program's geocoder reads (format=jsonv2):
//
//   GET /reverse?lat=<deg>&lon=<deg>&...   the reverse place set by
//                                          setReversePlace, at the asked
//                                          coordinate
//   GET /search?q=<text>&...               the places added by addPlace whose
//                                          name contains the text (ASCII case
//                                          ignored); [] when none
//
// Every request is recorded. Thread-safe.
class FakeGeocoderServer {
  public:
    struct Place {
        std::string name;
        std::string road;
        std::string city;
        std::string country;
        double latitude = 0;
        double longitude = 0;
    };

    FakeGeocoderServer();
    FakeGeocoderServer(const FakeGeocoderServer&) = delete;
    FakeGeocoderServer& operator=(const FakeGeocoderServer&) = delete;

    // "http://127.0.0.1:<port>": the geocoder host setting.
    std::string url() const { return http_.url(); }

    // What a reverse lookup answers (its coordinate is the asked one).
    void setReversePlace(Place place);
    void addPlace(Place place);

    std::vector<RecordedRequest> requests() const { return http_.requests(); }
    // Requests to "/reverse" and to "/search".
    size_t reverseCount() const;
    size_t searchCount() const;
    void stop() { http_.stop(); }

  private:
    CannedReply answer(const RecordedRequest& request);

    mutable std::mutex mutex_;
    Place reverse_;
    std::vector<Place> places_;
    LoopbackHTTPServer http_;  // last: its threads stop before the state above goes
};

}  // namespace tervolo::testsupport
