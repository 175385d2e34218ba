// The tag record and its file.
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/text/UUID.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;
using testing::goldenText;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class QuovaPointTagTest : public testing::PointsTest {};

TEST_F(QuovaPointTagTest, SavedTagIsWrittenByteExactAndReadsBack) {
    auto tag = QuovaPointTag::make("Bar / Pub \"Ölfass\"");
    tag->setUuid("6A1E2B3C-4D5E-4F60-8172-839405A6B7C8");
    tag->setColorString("246,170,0");
    tag->setDeletedAt(platform::Date{700000001.5});
    tag->setHiddenAt(platform::Date{-12.25});
    tag->save();

    const std::string path = tagsFolder() + "6A1E2B3C-4D5E-4F60-8172-839405A6B7C8.QuovaPointTag";
    EXPECT_EQ(readText(path), goldenText("full.QuovaPointTag"));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::debug),
                ElementsAre("Tag written to \"file://" + path + "\""));

    auto read = QuovaPointTag::initWithFilePath(path);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->title(), "Bar / Pub \"Ölfass\"");
    EXPECT_EQ(read->encodedFile(), goldenText("full.QuovaPointTag"));
}

TEST_F(QuovaPointTagTest, NewTagWritesOnlyThePresentKeysAndSavingAgainRewritesTheSameFile) {
    auto tag = QuovaPointTag::make("Cinema");
    EXPECT_TRUE(platform::UUID::fromString(tag->uuid()).has_value());
    tag->save();
    const std::string path = tagsFolder() + tag->uuid() + ".QuovaPointTag";
    auto first = nlohmann::json::parse(readText(path));
    for (const char* key : {"title", "uuid", "createdAt", "lastSavedAt", "lastSavedByAppVersion"}) {
        EXPECT_TRUE(first.contains(key)) << key;
    }
    for (const char* key : {"colorString", "deletedAt", "hiddenAt"}) EXPECT_FALSE(first.contains(key)) << key;

    clock_->advance(10);
    tag->save();
    EXPECT_THAT(entries(tagsFolder()), ElementsAre(tag->uuid() + ".QuovaPointTag"));
    EXPECT_EQ(nlohmann::json::parse(readText(path))["lastSavedAt"], kStartSeconds2001 + 10);
}

TEST_F(QuovaPointTagTest, StrictReadingTable) {
    const struct {
        const char* name;
        const char* text;
        bool accepted;
    } cases[] = {
        {"required only", R"({"title":"a","uuid":"U","createdAt":1})", true},
        {"extra key", R"({"title":"a","uuid":"U","createdAt":1,"more":{}})", true},
        {"null colour", R"({"title":"a","uuid":"U","createdAt":1,"colorString":null})", true},
        {"integer date", R"({"title":"a","uuid":"U","createdAt":1,"deletedAt":2})", true},
        {"without createdAt", R"({"title":"a","uuid":"U"})", false},
        {"without title", R"({"uuid":"U","createdAt":1})", false},
        {"without uuid", R"({"title":"a","createdAt":1})", false},
        {"null title", R"({"title":null,"uuid":"U","createdAt":1})", false},
        {"number as colour", R"({"title":"a","uuid":"U","createdAt":1,"colorString":5})", false},
        {"text as date", R"({"title":"a","uuid":"U","createdAt":1,"hiddenAt":"now"})", false},
        {"identifier leaving the folder", R"({"title":"a","uuid":"../../x","createdAt":1})", false},
        {"identifier with a slash", R"({"title":"a","uuid":"a/b","createdAt":1})", false},
        {"not JSON", "Bar", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        bool accepted = true;
        try {
            QuovaPointTag::decode(std::string_view(row.text));
        } catch (const platform::DecodingError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, row.accepted);
    }
    EXPECT_FALSE(QuovaPointTag::decode(
                     std::string_view(R"({"title":"a","uuid":"U","createdAt":1,"colorString":null})"))
                     ->colorString()
                     .has_value());
}

TEST_F(QuovaPointTagTest, ReadingLogsOnlyFilesThatReadButDoNotDecode) {
    const std::string folder = QuovaPointTag::documentDirectory();
    EXPECT_EQ(folder, tagsFolder());
    writeText(folder + "broken.QuovaPointTag", R"({"title":"a","uuid":"U"})");
    log_->clear();
    EXPECT_EQ(QuovaPointTag::initWithFilePath(folder + "missing.QuovaPointTag"), nullptr);
    EXPECT_EQ(QuovaPointTag::initWithFilePath(folder + "broken.QuovaPointTag"), nullptr);
    EXPECT_THAT(log_->texts(),
                ElementsAre("Can't decode file \"" + folder +
                            "broken.QuovaPointTag\": No value associated with key \"createdAt\"."));
}

TEST_F(QuovaPointTagTest, UnwritableFolderLogsTheDebugLineAndKeepsTheFields) {
    std::filesystem::create_directories(documents());
    writeText(documents() + "/tags", "");
    auto tag = QuovaPointTag::make("Park");
    tag->save();
    EXPECT_TRUE(tag->lastSavedAt().has_value());
    EXPECT_THAT(log_->texts(logging::QLLogFlag::debug), ElementsAre("Couldn't serialize this tag: "));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info), IsEmpty());  // a plain file counts as the folder

    // A documents folder that is a plain file: the tags folder cannot be made.
    std::filesystem::remove_all(documents());
    writeText(documents(), "");
    log_->clear();
    tag->save();
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info), ElementsAre(HasSubstr("Can't create directory: ")));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::debug), ElementsAre("Couldn't serialize this tag: "));
}

TEST_F(QuovaPointTagTest, TagsOrderByTitleInCodePointOrder) {
    auto upper = QuovaPointTag::make("Zoo");
    auto lower = QuovaPointTag::make("apple");
    auto composed = QuovaPointTag::make("\u00e9");     // é
    auto decomposed = QuovaPointTag::make("e\u0301");  // e + combining acute
    EXPECT_TRUE(*upper < *lower);
    EXPECT_FALSE(*lower < *upper);
    EXPECT_FALSE(*composed < *decomposed);
    EXPECT_FALSE(*decomposed < *composed);
}

}  // namespace
}  // namespace tervolo::points
