#include "e2e/EndToEndRun.hpp"

#include <sys/stat.h>

#include <QDateTime>
#include <QProcess>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/RecordFile.hpp"

namespace tervolo::e2e {

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

const std::vector<EndToEndRun::Seed>& EndToEndRun::seededPoints() {
    // Around the track's start, a few hundred metres apart, so they share the
    // map with the user's dot.
    static const std::vector<Seed> seeds{
        {"Old Market Hall", 60.1672, 24.9536, {"Favourites"}},
        {"Rock Church", 60.1731, 24.9253, {"Favourites", "Sights"}},
        {"Sea Fortress Ferry", 60.1676, 24.9542, {}},
    };
    return seeds;
}

const std::vector<std::string>& EndToEndRun::seededTags() {
    static const std::vector<std::string> tags{"Favourites", "Sights"};
    return tags;
}

EndToEndRun::EndToEndRun() {
    strays_.setFallback(testsupport::CannedReply::text("not on this machine", 502));
    fs::create_directories(runFolder());
    // The runtime folder must be the user's alone, as the desktop makes it.
    fs::create_directories(home_.path() + "/runtime");
    ::chmod((home_.path() + "/runtime").c_str(), 0700);
    fs::create_directories(home_.path() + "/tmp");
    seed();
}

EndToEndRun::~EndToEndRun() = default;

void EndToEndRun::seed() {
    // Written with the program's own record code while the home's folders
    // are this process's XDG folders (TemporaryFolder sets them).
    std::map<std::string, std::string> tagIDs;
    for (const auto& title : seededTags()) {
        auto tag = points::QuovaPointTag::make(title);
        tag->save();
        tagIDs[title] = tag->uuid();
    }
    for (const auto& seed : seededPoints()) {
        auto point = points::QuovaMapPoint::make(seed.title);
        point->setCoordinate({seed.latitude, seed.longitude});
        point->ensureUUID();
        if (!seed.tags.empty()) {
            std::vector<std::string> ids;
            for (const auto& tag : seed.tags) ids.push_back(tagIDs.at(tag));
            point->setTags(ids);
        }
        const std::string folder = points::recordfile::documentSubfolder("points");
        (void)points::recordfile::writeRecordFile(
            folder + *point->uuid() + points::QuovaMapPoint::kFileExtension, point->encodedFile());
    }
}

QProcessEnvironment EndToEndRun::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", q(home_.path()));
    environment.insert("XDG_DATA_HOME", q(home_.dataHome()));
    environment.insert("XDG_CACHE_HOME", q(home_.cacheHome()));
    environment.insert("XDG_CONFIG_HOME", q(home_.configHome()));
    environment.insert("XDG_STATE_HOME", q(home_.stateHome()));
    environment.insert("XDG_RUNTIME_DIR", q(home_.path() + "/runtime"));
    environment.insert("TMPDIR", q(home_.path() + "/tmp"));
    // Every host the program may talk to is on this machine: the servers on
    // 127.0.0.1, and names under ".localhost" (which libcurl answers with the
    // loopback address itself) where a host name must carry prefixes.
    const std::string tileHost = "tiles.e2e.localhost:" + std::to_string(tiles_.port());
    const std::map<std::string, std::string> hosts{
        {"QuovaAPIHost", backend_.url()},
        {"QuovaProductWebHost", backend_.url()},
        {"QuovaMakerWebPage", backend_.url() + "/"},
        {"QuovaAnalyticsHost", analytics_.host()},
        {"QuovaGeocoderHost", geocoder_.url()},
        {"QuovaTileServerScheme", "http"},
        {"QuovaTileServerHost", tileHost},
        {"QuovaSeaMarkTileServerScheme", "http"},
        {"QuovaSeaMarkTileServerHost", "seamarks.e2e.localhost:" + std::to_string(tiles_.port())},
        {"QuovaOpenStreetMapWebHost", "osm.e2e.localhost"},
        {"QuovaTilePreloadHost", ""},
        {"QuovaShortLinkHost", kShortLinkHost},
    };
    for (const auto& [key, value] : hosts) environment.insert(q("TERVOLO_" + key), q(value));
    // libcurl sends every other host to the stray-request proxy (it reads
    // the lower-case http_proxy only); loopback names go direct.
    const QString proxy = q(strays_.url());
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        environment.insert(name, proxy);
    }
    environment.insert("no_proxy", "127.0.0.1,localhost");
    environment.insert("NO_PROXY", "127.0.0.1,localhost");
    environment.insert("TERVOLO_NMEA_FILE", q(trackPath()));
    environment.insert("TERVOLO_E2E_RUN", q(runFolder()));
    return environment;
}

bool EndToEndRun::writeTrack(Position position, std::string& error) const {
    // Timed a little ahead: the location services drop fixes more than 30 s
    // old, and a start under the sanitizers on a busy machine can take a
    // good part of that before the replay begins.
    const double start = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0 +
                         (position == Position::current ? 10.0 : -3600.0);
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start("python3",
                 {QStringLiteral(TERVOLO_SOURCE_ROOT "/scripts/make-nmea-track.py"), q(trackPath()), "--lat",
                  QString::number(kTrackLatitude, 'f', 6), "--lon", QString::number(kTrackLongitude, 'f', 6),
                  "--count", QString::number(trackFixes_), "--speed", QString::number(trackSpeed_, 'f', 3),
                  "--step", "1", "--start", QString::number(start, 'f', 3)});
    if (!script.waitForFinished(30000) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0) {
        error =
            "the track script failed: " + script.readAll().toStdString() + script.errorString().toStdString();
        return false;
    }
    return fs::is_regular_file(trackPath());
}

EndToEndRun::Outcome EndToEndRun::runPhase(const std::string& self, int phase,
                                           const std::map<QString, QString>& extra, double timeoutSeconds,
                                           Position position) {
    Outcome outcome;
    std::string error;
    if (!writeTrack(position, error)) {
        outcome.output = error;
        return outcome;
    }
    QProcessEnvironment environment = this->environment();
    environment.insert("TERVOLO_E2E_PHASE", QString::number(phase));
    for (const auto& [key, value] : extra) environment.insert(key, value);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(q(self), {"--gtest_filter=EndToEndPhase.Run", "--gtest_brief=0"});
    if (!process.waitForStarted(30000)) {
        outcome.output = "the phase did not start: " + process.errorString().toStdString();
        return outcome;
    }
    outcome.finished = process.waitForFinished(static_cast<int>(timeoutSeconds * 1000));
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished(10000);
    }
    outcome.output = process.readAll().toStdString();
    outcome.crashed = process.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = process.exitCode();
    return outcome;
}

std::vector<std::string> EndToEndRun::strayRequests() const {
    std::vector<std::string> out;
    for (const auto& request : strays_.requests()) out.push_back(request.method + " " + request.target);
    return out;
}

std::map<std::string, std::string> EndToEndRun::storedFiles() const {
    std::map<std::string, std::string> files;
    for (const char* folder : {"points", "tags"}) {
        const fs::path root = fs::path(documentsFolder()) / folder;
        if (!fs::exists(root)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            files[fs::relative(entry.path(), documentsFolder()).string()] = readFile(entry.path());
        }
    }
    return files;
}

std::vector<std::string> EndToEndRun::temporaryFiles() const {
    // Atomic writes name their temporary file "<name>.tmp-XXXXXX" beside the target.
    std::vector<std::string> found;
    for (const char* folder : {"data", "config", "state", "tmp"}) {
        const fs::path root = fs::path(home_.path()) / folder;
        if (!fs::exists(root)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name.find(".tmp-") != std::string::npos) {
                found.push_back(entry.path().string());
            }
        }
    }
    return found;
}

}  // namespace tervolo::e2e
