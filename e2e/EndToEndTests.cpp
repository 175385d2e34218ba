#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/CommandLine.hpp"
#include "app/Program.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "e2e/EndToEndRun.hpp"
#include "e2e/PhaseDriver.hpp"
#include "e2e/Phases.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLTTYLogger.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "platform/ui/MainWindow.hpp"

namespace {

using tervolo::e2e::EndToEndRun;

// Generous: a phase under the sanitizers starts slowly; a phase that hangs
// still fails in bounded time, its own waits first.
constexpr double kPhaseSeconds = 300;
constexpr const char* kReverseTitle = "Harbour Gate";
constexpr const char* kSearchPlace = "Fish Market Hall";

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string selfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

std::string differingFiles(const std::map<std::string, std::string>& before,
                           const std::map<std::string, std::string>& after) {
    std::string names;
    for (const auto& [name, bytes] : before) {
        const auto found = after.find(name);
        if (found == after.end())
            names += " gone:" + name;
        else if (found->second != bytes)
            names += " changed:" + name;
    }
    for (const auto& [name, bytes] : after) {
        if (!before.count(name)) names += " new:" + name;
    }
    return names;
}

// Every event the analytics server received, in arrival order, as JSON text.
std::vector<nlohmann::json> receivedEvents(tervolo::testsupport::FakeAnalyticsServer& server) {
    std::vector<nlohmann::json> events;
    for (const auto& batch : server.values("events")) {
        const auto list = nlohmann::json::parse(batch, nullptr, false);
        if (!list.is_array()) continue;
        for (const auto& event : list) events.push_back(event);
    }
    return events;
}

size_t countOf(const std::vector<nlohmann::json>& events, const std::string& key) {
    size_t count = 0;
    for (const auto& event : events) {
        if (event.is_object() && event.value("key", "") == key) ++count;
    }
    return count;
}

void expectEachEventOnce(tervolo::testsupport::FakeAnalyticsServer& server) {
    std::set<std::string> distinct;
    for (const auto& event : receivedEvents(server)) {
        EXPECT_TRUE(distinct.insert(event.dump()).second) << "received twice: " << event.dump();
    }
}

void expectPhaseSucceeded(const EndToEndRun::Outcome& outcome, int phase, const EndToEndRun& run) {
    EXPECT_EQ(run.strayRequests(), std::vector<std::string>{}) << "requests for hosts off this machine";
    EXPECT_TRUE(outcome.finished) << "phase " << phase << " did not end in time:\n" << outcome.output;
    EXPECT_FALSE(outcome.crashed) << "phase " << phase << " crashed:\n" << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << "phase " << phase << " failed:\n" << outcome.output;
    // The phase's own notes belong in this test's output too.
    std::printf("---- phase %d\n", phase);
    size_t start = 0;
    while (start < outcome.output.size()) {
        size_t end = outcome.output.find('\n', start);
        if (end == std::string::npos) end = outcome.output.size();
        const std::string line = outcome.output.substr(start, end - start);
        if (line.rfind("[phase ", 0) == 0 || !environmentValue("TERVOLO_E2E_LOG").empty()) {
            std::printf("%s\n", line.c_str());
        }
        start = end + 1;
    }
}

// The whole program three times over one home: a first run driven through its
// two roads, a restart that must find everything as the first left it, and a
// start under another application version that must restore nothing.
TEST(EndToEnd, ThreeRunsOverOneHome) {
    // Only this run's screenshots in the folder, so none is taken for a later one's.
    std::filesystem::remove_all(TERVOLO_SCREENSHOT_DIR);
    EndToEndRun run;
    const auto incoming = run.backend().addSharedPoint("Lighthouse Island", 60.1100, 24.9870);
    const std::map<QString, QString> phaseOne{
        {"TERVOLO_E2E_INCOMING_LINK", QString::fromStdString(incoming.link)},
        {"TERVOLO_E2E_INCOMING_TITLE", QString::fromStdString(incoming.title)},
        {"TERVOLO_E2E_REVERSE_TITLE", kReverseTitle},
        {"TERVOLO_E2E_SEARCH_PLACE", kSearchPlace}};
    run.geocoder().setReversePlace({kReverseTitle, "Quay Street", "Helsinki", "Finland", 0, 0});
    run.geocoder().addPlace({kSearchPlace, "Market Square", "Helsinki", "Finland", 60.1672, 24.9531});

    // ---- Phase 1
    const auto one = run.runPhase(selfPath(), 1, phaseOne, kPhaseSeconds);
    expectPhaseSucceeded(one, 1, run);
    ASSERT_TRUE(one.finished && one.exitCode == 0);
    std::ifstream factsFile(run.runFolder() + "/phase1.json");
    const auto facts = nlohmann::json::parse(factsFile, nullptr, false);
    ASSERT_TRUE(facts.is_object());

    // The program talked to its servers, each over the loopback address.
    EXPECT_FALSE(run.backend().requestsTo("/apps/api/device").empty());
    EXPECT_FALSE(run.backend().requestsTo("/tervolo-ng/MacVersion.json").empty());
    for (const auto& [host, count] : run.tiles().requestsByHost()) {
        EXPECT_NE(host.find(".tiles.e2e.localhost"), std::string::npos) << host;
    }
    EXPECT_GT(run.tiles().requestCount(), 0u);
    EXPECT_GE(run.tiles().requestsByHost().size(), 2u) << "the tile host prefixes do not rotate";
    EXPECT_GE(run.geocoder().reverseCount(), 1u);
    // One upload, with the point's title and coordinate; its link is what was copied.
    const auto uploads = run.backend().uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].title, facts["targetTitle"].get<std::string>());
    EXPECT_NEAR(uploads[0].latitude, facts["targetLatitude"].get<double>(), 1e-9);
    EXPECT_NEAR(uploads[0].longitude, facts["targetLongitude"].get<double>(), 1e-9);
    EXPECT_EQ(uploads[0].link, facts["copiedLink"].get<std::string>());
    EXPECT_EQ(run.backend().requestsTo("/apps/api/location/shorturl/" + incoming.key).size(), 1u);
    const auto afterOne = run.storedFiles();
    EXPECT_FALSE(afterOne.empty());

    // ---- Phase 2
    // Without a position: the program opens on the user at the first fix,
    // which would cover the region the restart is to restore.
    const auto two = run.runPhase(selfPath(), 2, {}, kPhaseSeconds, EndToEndRun::Position::none);
    expectPhaseSucceeded(two, 2, run);
    EXPECT_EQ(differingFiles(afterOne, run.storedFiles()), "");
    EXPECT_EQ(run.temporaryFiles(), std::vector<std::string>{});
    // Each analytics event of both runs arrived once: no event twice, each
    // run's launch, and the first run's end (sent as it quit, or from the
    // stored queue by the second run).
    expectEachEventOnce(run.analytics());
    const auto events = receivedEvents(run.analytics());
    EXPECT_EQ(countOf(events, "didFinishLaunchingWithOptions"), 2u);
    EXPECT_EQ(countOf(events, "applicationDidEnterBackground"), 2u);
    EXPECT_GE(countOf(events, "applicationWillTerminate"), 1u);

    // ---- Phase 3
    const auto three = run.runPhase(
        selfPath(), 3,
        {{"TERVOLO_CFBundleShortVersionString", "99.0.0"}, {"TERVOLO_CFBundleVersion", "99.0.0"}},
        kPhaseSeconds, EndToEndRun::Position::none);
    expectPhaseSucceeded(three, 3, run);
    expectEachEventOnce(run.analytics());
    EXPECT_EQ(differingFiles(afterOne, run.storedFiles()), "");
    EXPECT_EQ(run.temporaryFiles(), std::vector<std::string>{});
}

// The point list's roads through the mouse and the keys, over the seeded
// home: choosing a point zooms the map to it; a point deleted from the list and
// undeleted there has its file and its pin back; the preview's Print brings the
// print dialog, which prints the list to a PDF file.
TEST(EndToEnd, PointListRoads) {
    EndToEndRun run;
    const auto before = run.storedFiles();
    const auto outcome = run.runPhase(selfPath(), 4, {}, kPhaseSeconds);
    expectPhaseSucceeded(outcome, 4, run);
    EXPECT_TRUE(std::filesystem::exists(run.runFolder() + "/printed.pdf"));
    // Deleted and undeleted: the files hold no deletion; the points are all there.
    const auto after = run.storedFiles();
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : after) EXPECT_EQ(bytes.find("deletedAt"), std::string::npos) << name;
}

// One phase inside the program: started by the test above as a process of its
// own (this binary again); skipped when run on its own.
TEST(EndToEndPhase, Run) {
    const std::string phaseText = environmentValue("TERVOLO_E2E_PHASE");
    if (phaseText.empty()) GTEST_SKIP() << "runs only as a phase of the EndToEnd tests";

    tervolo::e2e::PhaseSettings settings;
    settings.phase = std::atoi(phaseText.c_str());
    settings.runFolder = environmentValue("TERVOLO_E2E_RUN");
    settings.incomingLink = environmentValue("TERVOLO_E2E_INCOMING_LINK");
    settings.incomingTitle = environmentValue("TERVOLO_E2E_INCOMING_TITLE");
    settings.reverseTitle = environmentValue("TERVOLO_E2E_REVERSE_TITLE");
    settings.shortLinkHost = EndToEndRun::kShortLinkHost;
    settings.searchPlace = environmentValue("TERVOLO_E2E_SEARCH_PLACE");
    settings.programPath = TERVOLO_PROGRAM_PATH;
    if (const std::string seconds = environmentValue("TERVOLO_E2E_USE_SECONDS"); !seconds.empty())
        settings.useSeconds = std::atof(seconds.c_str());
    if (const std::string rounds = environmentValue("TERVOLO_E2E_ROUNDS"); !rounds.empty())
        settings.rounds = std::max(1, std::atoi(rounds.c_str()));
    tervolo::e2e::PhaseDriver driver(settings.phase, TERVOLO_SCREENSHOT_DIR);

    // The program's own composition, with the phase's steps started once the
    // event loop runs and the first-frame watch reporting instead of quitting.
    // TERVOLO_E2E_LOG=1 shows the program's log in the phase's output.
    if (!environmentValue("TERVOLO_E2E_LOG").empty()) {
        tervolo::logging::QLLog::sharedInstance().addLogger(tervolo::logging::QLTTYLogger::make());
    }
    // The heap as the program sets it; then the run is the first start of its folders: later starts
    // reach it.
    tervolo::app::configureMemory();
    const tervolo::app::CommandLine line{};
    const auto instance = tervolo::app::claimInstance(line);
    ASSERT_FALSE(instance.exitStatus) << "another program already runs on this run's folders";
    auto configuration = tervolo::app::programConfiguration(line, instance);
    // The offscreen screen (800 x 800) would give the program a first window of nine tenths of it;
    // the phases' steps are made for the full 1280 x 800 a desktop screen gives (the compass beside
    // an open search list, among others).
    auto configure = configuration.configureWindow;
    configuration.configureWindow = [configure](platform::MainWindow& window) {
        if (configure) configure(window);
        window.resize(tervolo::app::kFirstWindowSize);
    };
    auto created = configuration.applicationCreated;
    bool stepsRan = false;
    configuration.applicationCreated = [&](QApplication& application) {
        if (created) created(application);
        auto* firstFrame = new tervolo::app::FirstMapFrameQuit(
            [&driver](const std::string& line) { driver.note(line); }, [] {}, &application);
        application.installEventFilter(firstFrame);
        QTimer::singleShot(0, &application, [&settings, &driver, &stepsRan, firstFrame] {
            tervolo::e2e::runPhaseSteps(settings, driver, *firstFrame);
            stepsRan = true;
        });
    };
    int argc = 1;
    char name[] = "tervolo_e2e_tests";
    char* argv[] = {name, nullptr};
    const int status = platform::applicationMain(argc, argv, std::move(configuration));
    EXPECT_TRUE(stepsRan);
    EXPECT_EQ(status, 0) << "closing the window did not end the program normally";
}

}  // namespace
