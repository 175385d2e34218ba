#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup/DesktopIdentity.hpp"
#include "app/startup/FirstMapFrameQuit.hpp"
#include "app/startup/VersionOption.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "testsupport/ScopedEnvironment.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace {

using tervolo::app::FirstMapFrameQuit;

QApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_app_startup_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

using tervolo::testsupport::ScopedEnvironment;

class Startup : public ::testing::Test {
  protected:
    void TearDown() override { platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt); }
};

// What answerVersionOption writes for `arguments`, and its answer.
std::pair<std::optional<int>, std::string> runVersionOption(const std::vector<const char*>& arguments) {
    std::FILE* out = std::tmpfile();
    const auto status =
        tervolo::app::answerVersionOption(static_cast<int>(arguments.size()), arguments.data(), out);
    std::rewind(out);
    std::string text;
    char buffer[256];
    while (const size_t count = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, count);
    std::fclose(out);
    return {status, text};
}

TEST_F(Startup, VersionTextNamesTheProgramItsVersionAndBuild) {
    using Dictionary = platform::PropertyValue::Dictionary;
    struct Case {
        const char* name;
        Dictionary dictionary;
        const char* expected;
    };
    const Case cases[] = {
        {"complete",
         Dictionary{{"CFBundleName", "TervoloNG"},
                    {"CFBundleShortVersionString", "1.2.3"},
                    {"CFBundleVersion", "1.2.3"},
                    {"QXBuildNumber", "42"}},
         "TervoloNG 1.2.3 (build 42)"},
        {"no build", Dictionary{{"CFBundleName", "TervoloNG"}, {"CFBundleShortVersionString", "1.2.3"}},
         "TervoloNG 1.2.3"},
        {"bundle version only", Dictionary{{"CFBundleName", "Tervolo"}, {"CFBundleVersion", "2.0"}},
         "Tervolo 2.0"},
        {"empty build",
         Dictionary{{"CFBundleName", "TervoloNG"}, {"CFBundleVersion", "2.0"}, {"QXBuildNumber", ""}},
         "TervoloNG 2.0"},
        {"nothing", Dictionary{}, "TervoloNG"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        platform::Bundle::main().setInfoDictionaryForTesting(test.dictionary);
        EXPECT_EQ(tervolo::app::versionText(), test.expected);
    }
}

TEST_F(Startup, VersionOptionAnswersOnlyWhenAsked) {
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"CFBundleName", "TervoloNG"}, {"CFBundleShortVersionString", "1.0.0"}, {"QXBuildNumber", "7"}});
    struct Case {
        std::vector<const char*> arguments;
        std::optional<int> status;
        const char* output;
    };
    const Case cases[] = {
        {{"TervoloNG", "--version"}, 0, "TervoloNG 1.0.0 (build 7)\n"},
        {{"TervoloNG", "tervolo://point/ABC", "--version"}, 0, "TervoloNG 1.0.0 (build 7)\n"},
        {{"TervoloNG"}, std::nullopt, ""},
        {{"TervoloNG", "--versions", "-version", "version"}, std::nullopt, ""},
        // The program's own name is never taken for an option.
        {{"--version"}, std::nullopt, ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.arguments.back());
        const auto [status, output] = runVersionOption(test.arguments);
        EXPECT_EQ(status, test.status);
        EXPECT_EQ(output, test.output);
    }
}

TEST_F(Startup, TheBuiltBundleAnswersWithTheProjectVersion) {
    EXPECT_EQ(tervolo::app::versionText(),
              std::string("TervoloNG " TERVOLO_PROJECT_VERSION " (build " TERVOLO_BUILD_NUMBER ")"));
}

TEST_F(Startup, DesktopIdentityNamesTheDesktopEntryAndSetsTheWindowIcon) {
    application();
    tervolo::app::applyDesktopIdentity();
    EXPECT_EQ(QGuiApplication::desktopFileName().toStdString(), "org.tervolo.TervoloNG");
    const QIcon icon = QGuiApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    // Drawn from the SVG: sharp at any size, with the pin's red in the middle.
    for (const int size : {16, 48, 256}) {
        SCOPED_TRACE(size);
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.width(), size);
        const QColor middle = image.pixelColor(size / 2, size * 150 / 256);
        EXPECT_GT(middle.red(), 150);
        EXPECT_LT(middle.green(), 120);
    }
}

TEST_F(Startup, QuitAfterFirstFrameIsInstalledOnlyWhenAsked) {
    application();
    const struct {
        const char* value;
        bool installed;
    } cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.value ? test.value : "(unset)");
        ScopedEnvironment variable("TERVOLO_QUIT_AFTER_FIRST_FRAME", test.value);
        FirstMapFrameQuit* watcher = FirstMapFrameQuit::installIfRequested();
        EXPECT_EQ(watcher != nullptr, test.installed);
        delete watcher;
    }
}

// The line is written once, at the first frame that shows the whole map, and the application is told
// to quit then; frames with cells still being drawn, other widgets' paints and later frames do nothing.
TEST_F(Startup, QuitsAtTheFirstFrameWithNoCellPending) {
    application();
    tervolo::testsupport::VirtualClockScope time;
    std::vector<std::string> lines;
    std::vector<platform::MKMapView::FrameStats> framesAtLine;
    int quits = 0;
    platform::MKMapView map;
    FirstMapFrameQuit watcher(
        [&](const std::string& line) {
            lines.push_back(line);
            framesAtLine.push_back(map.lastFrameStats());
        },
        [&] { ++quits; });
    application().installEventFilter(&watcher);

    QLabel other(QStringLiteral("Not a map"));
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QApplication::processEvents();
    EXPECT_TRUE(lines.empty());

    time.advance(0.25);
    map.clearCellCache();
    map.resize(480, 320);
    map.setVisibleMapRect(platform::MKMapRectWorld);
    map.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.hasFired(); }, 30000));
    ASSERT_EQ(lines, std::vector<std::string>{"first map frame after 250 ms"});
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(framesAtLine[0].cellsPending, 0);
    EXPECT_GT(framesAtLine[0].cellsDrawn, 0);

    map.update();
    map.repaint();
    QApplication::processEvents();
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(quits, 1);
    application().removeEventFilter(&watcher);
}

}  // namespace
