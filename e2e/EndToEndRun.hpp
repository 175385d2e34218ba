#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <map>
#include <string>
#include <vector>

#include "testsupport/FakeAnalyticsServer.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/backend/FakeBackendServer.hpp"
#include "testsupport/location/FakeGeocoderServer.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"

namespace tervolo::e2e {

// One end-to-end run: the loopback servers the program talks to, a private
// home with its XDG folders (the stored points and tags seeded there), and
// the phases, each run as its own process with the program's composition
// inside it. Lives in the test's process; the phases read what they need from
// the environment it gives them.
class EndToEndRun {
  public:
    // What a phase process left behind.
    struct Outcome {
        bool finished = false;  // ended within its time
        bool crashed = false;
        int exitCode = -1;
        std::string output;  // standard output and error, interleaved
    };

    // Seeded data: three points, two of them tagged, and two tags.
    struct Seed {
        std::string title;
        double latitude;
        double longitude;
        std::vector<std::string> tags;  // tag titles
    };
    static const std::vector<Seed>& seededPoints();
    static const std::vector<std::string>& seededTags();

    EndToEndRun();
    ~EndToEndRun();
    EndToEndRun(const EndToEndRun&) = delete;
    EndToEndRun& operator=(const EndToEndRun&) = delete;

    // The environment of every process of the run: the private folders, the
    // servers through the information-key overrides, offscreen, the track.
    QProcessEnvironment environment() const;

    // Whether the phase's track gives the program the user's position.
    enum class Position { current, none };

    // Writes the track (timed from now, as the location services want, or
    // an hour back, so they drop every fix), then runs phase `phase` of the
    // test binary `self` with `extra` variables, waiting at most
    // `timeoutSeconds`.
    Outcome runPhase(const std::string& self, int phase, const std::map<QString, QString>& extra,
                     double timeoutSeconds, Position position = Position::current);

    // The track the next phases get: `fixes` fixes a second apart, walking east at
    // `metresPerSecond` (8 fixes at 1.4 m/s unless set).
    void setTrack(int fixes, double metresPerSecond) {
        trackFixes_ = fixes;
        trackSpeed_ = metresPerSecond;
    }

    // Every file under the documents folder's "points" and "tags", by path
    // relative to the documents folder, with its bytes.
    std::map<std::string, std::string> storedFiles() const;
    // Files an interrupted atomic write would leave, anywhere under the home.
    std::vector<std::string> temporaryFiles() const;

    const std::string& home() const { return home_.path(); }
    std::string documentsFolder() const { return home_.dataHome() + "/TervoloNG"; }
    // Where phases leave what they saw for the next phase and for the test.
    std::string runFolder() const { return home_.path() + "/run"; }
    std::string trackPath() const { return home_.path() + "/track.nmea"; }

    testsupport::FakeBackendServer& backend() { return backend_; }
    testsupport::FakeGeocoderServer& geocoder() { return geocoder_; }
    testsupport::LoopbackTileServer& tiles() { return tiles_; }
    testsupport::FakeAnalyticsServer& analytics() { return analytics_; }
    // Requests for any host that is not this machine's: the program's HTTP
    // goes through this loopback proxy for every other name, so one that
    // would have left the machine lands here instead ("<method> <target>").
    std::vector<std::string> strayRequests() const;

    // The track's first fix (the user's position when the program starts).
    static constexpr double kTrackLatitude = 60.1699;
    static constexpr double kTrackLongitude = 24.9384;
    static constexpr const char* kShortLinkHost = "s.e2e.localhost";

  private:
    void seed();
    bool writeTrack(Position position, std::string& error) const;

    int trackFixes_ = 8;
    double trackSpeed_ = 1.4;
    testsupport::TemporaryFolder home_;
    testsupport::FakeBackendServer backend_{kShortLinkHost};
    testsupport::FakeGeocoderServer geocoder_;
    testsupport::LoopbackTileServer tiles_;
    testsupport::FakeAnalyticsServer analytics_;
    testsupport::LoopbackHTTPServer strays_;
};

}  // namespace tervolo::e2e
