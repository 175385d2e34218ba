#include "points/tests/PointsTestSupport.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::points::testing {

namespace {

// Every test environment starts and ends with fresh stores.
const bool registered = tervolo::testsupport::TestEnvironment::registerReset([] {
    QuovaMapPointStore::resetSharedForTesting();
    QuovaPointTagStore::resetSharedForTesting();
});

}  // namespace

void PointsTest::SetUp() {
    (void)registered;
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                            {"CFBundleVersion", "77"},
                                            {"CFBundleName", "TervoloNG"}});
    platform::UserDefaults::standard().reload();
    log_ = std::make_unique<tervolo::testsupport::SharedLogRecording>();
    log_->clear();
}

void PointsTest::TearDown() {
    log_.reset();
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    // Folders made read-only by a test must be writable again to be removed.
    tervolo::testsupport::makeFoldersWritable(root_);
}

std::string PointsTest::readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void PointsTest::writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> PointsTest::entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string PointsTest::pointFile(const std::string& uuid, const std::string& title) {
    return R"({"title":")" + title + R"(","coordinate":[9.9937,53.5511],"uuid":")" + uuid +
           R"(","hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})";
}

std::vector<std::string> PointsTest::storeTitles() {
    std::vector<std::string> result;
    for (const auto& point : QuovaMapPointStore::shared().points())
        result.push_back(point->title().value_or("-"));
    return result;
}

std::string goldenText(const std::string& name) {
    std::ifstream in(std::string(POINTS_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    // Golden files end with one newline for the editor's sake; the file
    // format itself has none.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace tervolo::points::testing
