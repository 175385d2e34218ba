#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.hpp"
#include "app/Program.hpp"
#include "logging/QLLog.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/backend/FakeBackendServer.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace {

// A line feed, then what a system log line looks like: a reader of the log
// would take it for a record of its own.
constexpr const char* kForgedLine = "\nJan  1 00:00:00 host sudo: FORGED";

// The first raw control character in `text` (C0, DEL, C1, the Unicode line
// and paragraph separators), or none.
std::optional<size_t> controlCharacterIn(std::string_view text) {
    for (size_t index = 0; index < text.size(); ++index) {
        const auto c = static_cast<unsigned char>(text[index]);
        if (c < 0x20 || c == 0x7F) return index;
        if (c == 0xC2 && index + 1 < text.size() && static_cast<unsigned char>(text[index + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[index + 1]) <= 0x9F)
            return index;
        if (c == 0xE2 && text.substr(index, 3) >= "\xE2\x80\xA8" && text.substr(index, 3) <= "\xE2\x80\xA9")
            return index;
    }
    return std::nullopt;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& text : texts) {
        if (text.find(part) != std::string::npos) return true;
    }
    return false;
}

// The program as composed, in a process of its own, with hostile input on
// every road into its log: a point link whose identifier decodes to a forged
// line, a short link whose path does, a shared point whose title (from the
// backend's reply) holds one, and a point file whose name holds one. Once the
// texts have reached the log the window closes; then no record may hold a raw
// control character. Ends the process: 0 when all went well.
[[noreturn]] void runWithHostileInput() {
    tervolo::testsupport::TemporaryFolder home;
    setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home.path() + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home.path() + "/state").c_str(), 1);
    mkdir((home.path() + "/run").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (home.path() + "/run").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("TERVOLO_QUIT_AFTER_FIRST_FRAME");

    tervolo::testsupport::FakeBackendServer backend("s.hostile.localhost");
    setenv("TERVOLO_QuovaAPIHost", backend.url().c_str(), 1);
    setenv("TERVOLO_QuovaProductWebHost", backend.url().c_str(), 1);
    setenv("TERVOLO_QuovaShortLinkHost", "s.hostile.localhost", 1);
    const auto shared =
        backend.addSharedPoint(std::string("Pier") + kForgedLine + "\x1b[2J\xC2\x85", 60.11, 24.98);

    const std::string points = home.path() + "/data/TervoloNG/points/";
    std::filesystem::create_directories(points);
    std::ofstream(points + "unreadable" + kForgedLine + ".QuovaMapPoint") << "{ not a point";

    const std::string forgedPoint = "tervolo://point/abc%0AJan%20%201%2000:00:00%20host%20sudo:%20FORGED";
    const std::string forgedShortLink = "http://s.hostile.localhost/shared-location/%0AFORGED%0D";
    // A command line can carry raw control characters too.
    const std::string rawLink = std::string("gopher://x/") + kForgedLine;
    const char* argv[] = {"TervoloNG", forgedPoint.c_str(), shared.link.c_str(), forgedShortLink.c_str(),
                          rawLink.c_str()};
    const auto line = tervolo::app::CommandLine::parse(5, argv);

    const auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    tervolo::logging::QLLog::sharedInstance().addLogger(recorder);
    auto configuration = tervolo::app::programConfiguration(line, tervolo::app::claimInstance(line));
    const auto reached = [recorder] {
        tervolo::logging::QLLog::sharedInstance().flushLog();
        const auto texts = recorder->messages();
        return anyContains(texts, "handleIncomingUUID(uuid:) received UUID") &&
               anyContains(texts, "handleIncomingShorturl(shorturl:) received shorturl") &&
               anyContains(texts, "FORGED") && anyContains(texts, "Can't decode file") &&
               anyContains(texts, "decoding shorturl key") &&
               anyContains(texts, "ignoring link the program does not open");
    };
    auto created = configuration.applicationCreated;
    configuration.applicationCreated = [created, reached](QApplication& application) {
        if (created) created(application);
        // A bound for a hang, not a timed assertion: the texts arrive in
        // well under a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        auto* poll = new QTimer(&application);
        QObject::connect(poll, &QTimer::timeout, &application, [reached, deadline] {
            if (reached() || std::chrono::steady_clock::now() > deadline) QCoreApplication::quit();
        });
        poll->start(50);
    };
    int argc = 1;
    char name[] = "tervolo_app_tests";
    char* arguments[] = {name, nullptr};
    const int status = platform::applicationMain(argc, arguments, std::move(configuration));
    tervolo::logging::QLLog::sharedInstance().flushLog();

    const bool allReached = reached();
    int raw = 0;
    for (const auto& record : recorder->records()) {
        if (const auto at = controlCharacterIn(record->message())) {
            if (raw++ < 5)
                std::fprintf(stderr, "raw control character at %zu: %s\n", *at, record->message().c_str());
        }
    }
    std::fprintf(stderr, "status %d, texts reached the log %d, records with control characters %d\n", status,
                 allReached, raw);
    std::fflush(stderr);
    std::_Exit(status == 0 && allReached && raw == 0 ? 0 : 1);
}

TEST(HostileInput, NoLogRecordCarriesARawControlCharacter) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runWithHostileInput(), ::testing::ExitedWithCode(0),
                "status 0, texts reached the log 1, records with control characters 0");
}

}  // namespace
