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

#include <QTest>
#include <nlohmann/json.hpp>

#include "app/CommandLine.hpp"
#include "app/Program.hpp"
#include "logging/QLLog.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/text/Unicode.hpp"
#include "platform/ui/ApplicationMain.hpp"
#include "platform/ui/MainWindow.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/backend/FakeBackendServer.hpp"
#include "testsupport/location/FakeGeocoderServer.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace {

// A line feed, then what a system log line looks like: a reader of the log
// would take it for a record of its own.
constexpr const char* kForgedLine = "\nJan  1 00:00:00 host sudo: FORGED";

// The first raw control character in `text` (C0, DEL, C1, the Unicode line
// and paragraph separators), or the first byte of text that is not UTF-8, or
// none.
std::optional<size_t> controlCharacterIn(std::string_view text) {
    for (size_t index = 0; index < text.size();) {
        const auto read = platform::text::nextCodePoint(text, index);
        const char32_t c = read.codePoint;
        if (!read.valid || c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) return index;
        index += read.length;
    }
    return std::nullopt;
}

// The one line break the program writes itself: the network usage line
// puts its list of domains on a second line, and no outside text is in it.
constexpr std::string_view kOwnLineBreak = " - \nlisted domains: ";

std::string withoutOwnLineBreak(std::string text) {
    if (text.rfind("network usage count: ", 0) == 0) {
        if (const auto at = text.find(kOwnLineBreak); at != std::string::npos)
            text.replace(at, kOwnLineBreak.size(), " - listed domains: ");
    }
    return text;
}

// The forged line as the escaping writes it.
constexpr const char* kForgedEscaped = "\\nJan  1 00:00:00 host sudo: FORGED";
// What the terminal would take for commands, a C1 line end (NEL), the
// Unicode line and paragraph separators and bytes that are no UTF-8.
constexpr const char* kMoreControls = "\x1b[2J\xC2\x85\xE2\x80\xA8\xE2\x80\xA9\xFF\x7F";
// The same less the stray byte, for texts that travel in JSON, which holds
// UTF-8 only.
constexpr const char* kJSONControls = "\x1b[2J\xC2\x85\xE2\x80\xA8\xE2\x80\xA9\x7F";

// One road from outside into the log: the record that shows the hostile text
// arrived (it holds `arrived`) and what its escaped form holds (`escaped`).
struct Channel {
    const char* name;
    const char* arrived;
    std::vector<std::string> escaped;
};

// Every road into the log that takes text from outside the program.
const std::vector<Channel>& channels() {
    static const std::vector<Channel> table = {
        {"point file name",
         "Can't decode file",
         {"unreadable" + std::string(kForgedEscaped) + ".QuovaMapPoint\""}},
        {"tag file name",
         "Found \"stray",
         {"stray" + std::string(kForgedEscaped) + "\\u{1B}[2J.QuovaPointTag\""}},
        {"tag title", "QuovaPointTagStore: add tag", {"Quay" + std::string(kForgedEscaped), "\\u{2028}"}},
        {"geocoder result", "[\"Pier museum", {"Pier museum" + std::string(kForgedEscaped), "\\u{85}"}},
        {"backend search result", "places: [", {"Pier office" + std::string(kForgedEscaped), "\\u{2029}"}},
        {"version reply headers", "Version info download response: ", {"\\u{1B}[2J", "\\x{FF}", "\\u{7F}"}},
        {"version reply body", "Version info: ", {"Update Info: Tervolo" + std::string(kForgedEscaped)}},
        {"point link", "handleIncomingUUID(uuid:) received UUID", {"abc" + std::string(kForgedEscaped)}},
        {"short link path", "decoding shorturl key", {"\\nFORGED\\r"}},
        {"shared point title",
         "handleIncomingShorturl(shorturl:) received shorturl",
         {"Pier" + std::string(kForgedEscaped) + "\\u{1B}[2J\\u{85}"}},
        {"link of another scheme",
         "ignoring link the program does not open",
         {"gopher://x/" + std::string(kForgedEscaped)}},
        {"launch options",
         "didFinishLaunchingWithOptions: ",
         {"gopher://y/\\u{2028}\\x{FF}\\u{85}", "\"… (" + std::to_string(24 + 100 * 1024) + " bytes)"}},
    };
    return table;
}

// The first record that holds `part`, or none.
std::optional<std::string> recordWith(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& text : texts) {
        if (text.find(part) != std::string::npos) return text;
    }
    return std::nullopt;
}

// The record that shows the channel's text arrived escaped, or none.
std::optional<std::string> arrivedRecord(const std::vector<std::string>& texts, const Channel& channel) {
    for (const auto& text : texts) {
        if (text.find(channel.arrived) == std::string::npos) continue;
        bool all = true;
        for (const auto& part : channel.escaped) all = all && text.find(part) != std::string::npos;
        if (all) return text;
    }
    return std::nullopt;
}

// The program's window and map screen, once shown.
tervolo::mapscreen::MainViewController* shownMapScreen() {
    const auto windows = platform::MainWindow::windows();
    if (windows.empty() || !windows.front()->isVisible()) return nullptr;
    return dynamic_cast<tervolo::mapscreen::MainViewController*>(windows.front()->rootViewController().get());
}

void clickInWindow(QWidget* widget) {
    QTest::mouseClick(widget->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(widget->window(), widget->rect().center()));
}

// The program as composed, in a process of its own, with hostile input on
// every road into its log (the channels above): files in the points and tags
// folders, links on the command line (a point link, a short link, a shared
// point whose title comes from the backend, another scheme, a 100 KiB one),
// the version server's reply headers and body, a search typed into the map
// screen's field that the geocoder and the backend answer with hostile
// titles, and a tag title as the tag editor hands it to the store. Once
// every text has reached the log the window closes; then no record may hold
// a raw control character, line or paragraph separator, nor an outside text
// longer than the cap. Ends the process: 0 when all went well.
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
    backend.addSearchPlace(std::string("Pier office") + kForgedLine + kJSONControls, 60.16, 24.95);
    backend.setVersionHeaders({{"X-Note", std::string("note") + kMoreControls}});
    nlohmann::json version = {{"appName", std::string("Tervolo") + kForgedLine + kJSONControls},
                              {"currentVersion", {{"build", 0}, {"major", 0}, {"minor", 0}, {"patch", 1}}},
                              {"forceUpdate", false},
                              {"updateURL", "http://127.0.0.1/update"},
                              {"fallbackURL", "http://127.0.0.1/"}};
    backend.setVersionDocument(version.dump());

    tervolo::testsupport::FakeGeocoderServer geocoder;
    setenv("TERVOLO_QuovaGeocoderHost", geocoder.url().c_str(), 1);
    geocoder.addPlace({std::string("Pier museum") + kForgedLine + kJSONControls, "Pier 3", "Helsinki",
                       "Finland", 60.17, 24.96});

    const std::string points = home.path() + "/data/TervoloNG/points/";
    std::filesystem::create_directories(points);
    std::ofstream(points + "unreadable" + kForgedLine + ".QuovaMapPoint") << "{ not a point";
    const std::string tags = home.path() + "/data/TervoloNG/tags/";
    std::filesystem::create_directories(tags);
    std::ofstream(tags + "stray" + kForgedLine + "\x1b[2J.QuovaPointTag") << "{ not a tag";

    const std::string forgedPoint = "tervolo://point/abc%0AJan%20%201%2000:00:00%20host%20sudo:%20FORGED";
    const std::string forgedShortLink = "http://s.hostile.localhost/shared-location/%0AFORGED%0D";
    // A command line can carry raw control characters too, bytes that are no
    // UTF-8, and more text than any record should hold.
    const std::string rawLink = std::string("gopher://x/") + kForgedLine;
    const std::string separatorLink = "gopher://y/\xE2\x80\xA8\xFF\xC2\x85";
    const std::string longLink = "https://example.invalid/" + std::string(100 * 1024, 'x');
    const char* argv[] = {
        "TervoloNG",     forgedPoint.c_str(),   shared.link.c_str(), forgedShortLink.c_str(),
        rawLink.c_str(), separatorLink.c_str(), longLink.c_str()};
    const auto line = tervolo::app::CommandLine::parse(7, argv);

    const auto recorder = std::make_shared<tervolo::testsupport::LogRecorder>();
    tervolo::logging::QLLog::sharedInstance().addLogger(recorder);
    auto configuration = tervolo::app::programConfiguration(line, tervolo::app::claimInstance(line));
    const auto texts = [recorder] {
        tervolo::logging::QLLog::sharedInstance().flushLog();
        return recorder->messages();
    };
    const auto reached = [texts] {
        const auto now = texts();
        for (const auto& channel : channels()) {
            if (!arrivedRecord(now, channel)) return false;
        }
        return true;
    };
    auto created = configuration.applicationCreated;
    configuration.applicationCreated = [created, reached](QApplication& application) {
        if (created) created(application);
        // A bound for a hang, not a timed assertion: the texts arrive in a
        // few seconds.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        auto* poll = new QTimer(&application);
        // What a person does once the window shows: a tag named in the tag
        // editor, then a search typed into the map screen's field.
        auto step = std::make_shared<int>(0);
        QObject::connect(poll, &QTimer::timeout, &application, [reached, deadline, step] {
            if (reached() || std::chrono::steady_clock::now() > deadline) {
                QCoreApplication::quit();
                return;
            }
            auto* screen = shownMapScreen();
            if (screen == nullptr || screen->searchButton() == nullptr) return;
            if (*step == 0) {
                auto tag =
                    tervolo::points::QuovaPointTag::make(std::string("Quay") + kForgedLine + kMoreControls);
                (void)tervolo::points::QuovaPointTagStore::shared().addTag(tag);
                clickInWindow(screen->searchButton());
                *step = 1;
            } else if (*step == 1 && screen->searchBar() && screen->searchBar()->isVisible()) {
                if (!screen->searchBar()->hasFocus()) {
                    screen->window()->activateWindow();
                    clickInWindow(screen->searchBar());
                    return;
                }
                for (const char c : std::string("Pier")) QTest::keyClick(screen->window()->windowHandle(), c);
                *step = 2;
            }
        });
        poll->start(50);
    };
    int argc = 1;
    char name[] = "tervolo_app_tests";
    char* arguments[] = {name, nullptr};
    const int status = platform::applicationMain(argc, arguments, std::move(configuration));
    tervolo::logging::QLLog::sharedInstance().flushLog();

    const auto all = texts();
    bool allReached = true;
    for (const auto& channel : channels()) {
        if (arrivedRecord(all, channel)) continue;
        allReached = false;
        const auto record = recordWith(all, channel.arrived);
        std::fprintf(stderr, "channel %s: %s\n", channel.name,
                     record ? ("not escaped as expected: " + *record).c_str() : "nothing reached the log");
    }
    int raw = 0;
    int whole = 0;
    const std::string uncut(5000, 'x');
    for (const auto& record : recorder->records()) {
        const std::string text = withoutOwnLineBreak(record->message());
        if (const auto at = controlCharacterIn(text)) {
            if (raw++ < 5) std::fprintf(stderr, "raw control character at %zu: %s\n", *at, text.c_str());
        }
        if (text.find(uncut) != std::string::npos) {
            if (whole++ < 5) std::fprintf(stderr, "uncut long text: %.200s…\n", text.c_str());
        }
    }
    // A few of the escaped records, for whoever reads the test's output.
    for (const auto& channel : channels()) {
        if (const auto record = arrivedRecord(all, channel)) {
            const bool longer = record->size() > 400;
            std::fprintf(stdout, "[%s] %s%s\n", channel.name, record->substr(0, 300).c_str(),
                         longer ? (" ... " + record->substr(record->size() - 100)).c_str() : "");
        }
    }
    std::fflush(stdout);
    std::fprintf(stderr,
                 "status %d, texts reached the log %d, records with control characters %d, uncut %d\n",
                 status, allReached, raw, whole);
    std::fflush(stderr);
    std::_Exit(status == 0 && allReached && raw == 0 && whole == 0 ? 0 : 1);
}

TEST(HostileInput, NoLogRecordCarriesARawControlCharacter) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runWithHostileInput(), ::testing::ExitedWithCode(0),
                "status 0, texts reached the log 1, records with control characters 0, uncut 0");
}

}  // namespace
