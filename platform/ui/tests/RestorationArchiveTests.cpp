#include <gtest/gtest.h>

#include <fstream>

#include "WidgetKitTestSupport.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/ui/RestorationArchive.hpp"
#include "platform/ui/ViewController.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::AppVersionRestorationGate;
using platform::Date;
using platform::PropertyValue;
using platform::RestorationArchive;
using platform::RestorationCoder;
using platform::ViewController;

namespace {

class RestorationArchiveTest : public widgetkit_test::WidgetTest {};

// Keeps what it is given and hands it back; records whether its view was
// loaded when the state arrived.
class RestorableController : public ViewController {
  public:
    explicit RestorableController(std::string identifier) { setRestorationIdentifier(std::move(identifier)); }
    void encodeRestorableState(RestorationCoder& coder) override {
        for (const auto& [key, value] : state) coder.encode(key, value);
    }
    void decodeRestorableState(const RestorationCoder& coder) override {
        decoded = coder;
        viewLoadedAtDecode = isViewLoaded();
    }
    PropertyValue::Dictionary state;
    std::optional<RestorationCoder> decoded;
    bool viewLoadedAtDecode = false;
};

class FixedGate : public AppVersionRestorationGate {
  public:
    explicit FixedGate(std::optional<std::string> version)
        : AppVersionRestorationGate([version] { return version; }) {}
};

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST_F(RestorationArchiveTest, CoderKeepsEveryValueTypeAndReadsWrongTypesAsNone) {
    tervolo::testsupport::TemporaryFolder folder;
    auto gate = std::make_shared<FixedGate>("2.0.1");
    const PropertyValue::Dictionary mapRect{{"x", 1.5}, {"y", 2.0}, {"width", 300.25}, {"height", 1e-05}};
    auto map = std::make_shared<RestorableController>("Map");
    map->state = {{"flag", true},
                  {"count", 42},
                  {"big", static_cast<long long>(9007199254740993LL)},
                  {"ratio", 0.1},
                  {"mapStyle", "OpenCycleMap Retina"},
                  {"searchString", "caf\u00e9"},
                  {"when", Date{12345.5}},
                  {"list", PropertyValue::List{1, "two", 3.0}},
                  {"mapRect", mapRect}};
    {
        RestorationArchive archive(folder.file("state.json"));
        archive.setDelegate(gate);
        ASSERT_TRUE(archive.save({map}));
    }
    auto restored = std::make_shared<RestorableController>("Map");
    RestorationArchive archive(folder.file("state.json"));
    archive.setDelegate(gate);
    ASSERT_TRUE(archive.restore({restored}));
    ASSERT_TRUE(restored->decoded);
    const RestorationCoder& coder = *restored->decoded;
    EXPECT_EQ(coder.values(), map->state);
    EXPECT_EQ(coder.decode<bool>("flag"), true);
    EXPECT_EQ(coder.decode<int64_t>("count"), 42);
    EXPECT_EQ(coder.decode<int64_t>("big"), 9007199254740993LL);
    EXPECT_EQ(coder.decode<double>("ratio"), 0.1);
    EXPECT_EQ(coder.decode<std::string>("searchString"), "caf\u00e9");
    EXPECT_EQ(coder.decode<Date>("when"), Date{12345.5});
    EXPECT_EQ(coder.decode<PropertyValue::Dictionary>("mapRect"), mapRect);
    EXPECT_EQ(coder.decode<PropertyValue::List>("list")->size(), 3u);
    // Wrong types and absent keys.
    EXPECT_EQ(coder.decode<std::string>("count"), std::nullopt);
    EXPECT_EQ(coder.decode<int64_t>("ratio"), std::nullopt);
    EXPECT_EQ(coder.decode<bool>("count"), std::nullopt);
    EXPECT_EQ(coder.decode<double>("flag"), std::nullopt);
    EXPECT_EQ(coder.decode<PropertyValue::Dictionary>("list"), std::nullopt);
    EXPECT_EQ(coder.decode<std::string>("missing"), std::nullopt);
    EXPECT_EQ(coder.decode<double>("count"), 42.0);  // an integer a double holds exactly
    // Decoding does not load the view: screens cope with state before viewDidLoad.
    EXPECT_FALSE(restored->viewLoadedAtDecode);
    // The file is read once.
    restored->decoded.reset();
    EXPECT_FALSE(archive.restore({restored}));
    EXPECT_FALSE(restored->decoded);
}

TEST_F(RestorationArchiveTest, VersionGateRestoresOnlyTheSameVersion) {
    struct Case {
        std::optional<std::string> saved;
        std::optional<std::string> running;
        bool restores;
    };
    const Case cases[] = {
        {"2.0.1", "2.0.1", true},       {"2.0.1", "2.0.2", false},      {"2.0.1 ", "2.0.1", false},
        {std::nullopt, "2.0.1", false}, {"2.0.1", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved.value_or("(none)") + " / " + c.running.value_or("(none)"));
        tervolo::testsupport::TemporaryFolder folder;
        auto map = std::make_shared<RestorableController>("Map");
        map->state = {{"mapStyle", "OpenStreetMap"}};
        RestorationArchive saving(folder.file("state.json"));
        auto savingGate = std::make_shared<FixedGate>(c.saved);
        saving.setDelegate(savingGate);
        ASSERT_TRUE(saving.save({map}));
        auto restored = std::make_shared<RestorableController>("Map");
        RestorationArchive restoring(folder.file("state.json"));
        auto restoringGate = std::make_shared<FixedGate>(c.running);
        restoring.setDelegate(restoringGate);
        EXPECT_EQ(restoring.restore({restored}), c.restores);
        EXPECT_EQ(restored->decoded.has_value(), c.restores);
    }
    // A stamp that is not a string refuses too.
    EXPECT_FALSE(FixedGate("2.0.1").shouldRestoreApplicationState(RestorationCoder({{"appVersion", 201}})));
}

TEST_F(RestorationArchiveTest, ControllersAreKeyedByTheirIdentifierPath) {
    tervolo::testsupport::TemporaryFolder folder;
    auto gate = std::make_shared<FixedGate>("1");
    auto build = [](auto& root, auto& child, auto& anonymous, auto& hidden) {
        root = std::make_shared<RestorableController>("Main");
        child = std::make_shared<RestorableController>("Map");
        anonymous = std::make_shared<RestorableController>("");
        hidden = std::make_shared<RestorableController>("Map");  // under a controller without identifier
        root->addChild(child);
        root->addChild(anonymous);
        anonymous->addChild(hidden);
    };
    std::shared_ptr<RestorableController> root, child, anonymous, hidden;
    build(root, child, anonymous, hidden);
    root->state = {{"k", "root"}};
    child->state = {{"k", "child"}};
    hidden->state = {{"k", "hidden"}};
    RestorationArchive saving(folder.file("state.json"));
    saving.setDelegate(gate);
    ASSERT_TRUE(saving.save({root}));

    build(root, child, anonymous, hidden);
    RestorationArchive restoring(folder.file("state.json"));
    restoring.setDelegate(gate);
    ASSERT_TRUE(restoring.restore({root}));
    EXPECT_EQ(root->decoded->decode<std::string>("k"), "root");
    EXPECT_EQ(child->decoded->decode<std::string>("k"), "child");
    EXPECT_FALSE(hidden->decoded);
}

// Torn, hostile or foreign files are refused with a log line; the launch goes on.
TEST_F(RestorationArchiveTest, BadArchiveFilesAreRefusedWithALogLine) {
    auto capture = platform::OSLogCapture::install();
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const Case cases[] = {
        {"torn", R"({"format": "TervoloNG restoration archive 1", "application": {"appVer)", "not JSON"},
        {"empty", "", "not JSON"},
        {"binary", std::string("\x00\xff\xfe{", 4), "not JSON"},
        {"array", "[1, 2]", "not a restoration archive"},
        {"foreign", R"({"appVersion": "1"})", "not a restoration archive"},
        {"deep", R"({"format": "TervoloNG restoration archive 1", "application": {"a": )" + deep + "}}",
         "nested too deeply"},
        {"application list", R"({"format": "TervoloNG restoration archive 1", "application": [1]})",
         "application state is not a dictionary"},
        {"controllers list", R"({"format": "TervoloNG restoration archive 1", "controllers": [1]})",
         "controller states are not a dictionary"},
        {"controller string", R"({"format": "TervoloNG restoration archive 1", "controllers": {"Map": "x"}})",
         "state of \"Map\" is not a dictionary"},
    };
    auto gate = std::make_shared<FixedGate>("1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tervolo::testsupport::TemporaryFolder folder;
        write(folder.file("state.json"), c.bytes);
        capture->clear();
        auto map = std::make_shared<RestorableController>("Map");
        RestorationArchive archive(folder.file("state.json"));
        archive.setDelegate(gate);
        EXPECT_FALSE(archive.restore({map}));
        EXPECT_FALSE(map->decoded);
        ASSERT_EQ(capture->texts().size(), 1u);
        EXPECT_EQ(capture->texts()[0],
                  "ignoring restoration state " + folder.file("state.json") + ": " + c.reason);
    }
    // A folder in place of the file, and a missing file (first launch: no line).
    tervolo::testsupport::TemporaryFolder folder;
    platform::FileManager::defaultManager().createDirectory(folder.file("state.json"), true);
    capture->clear();
    EXPECT_FALSE(RestorationArchive(folder.file("state.json")).restore({}));
    EXPECT_EQ(capture->texts().size(), 1u);
    capture->clear();
    EXPECT_FALSE(RestorationArchive(folder.file("absent.json")).restore({}));
    EXPECT_TRUE(capture->texts().empty());
    capture->uninstall();
}

TEST_F(RestorationArchiveTest, DefaultFileLivesInThePreferencesFolder) {
    tervolo::testsupport::TemporaryFolder folder;
    EXPECT_EQ(RestorationArchive::defaultFilePath(),
              folder.configHome() + "/TervoloNG/RestorationState.json");
}
