// The tag store: first start, rebuilding after every tag was deleted, lookup,
// adding with palette colours and deleting.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/text/Random.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class QuovaPointTagStoreTest : public testing::PointsTest {
  protected:
    void TearDown() override {
        platform::text::setRandomSourceForTesting({});
        PointsTest::TearDown();
    }

    // What the application's start-up does with the store.
    static QuovaPointTagStore& startUp() {
        auto& store = QuovaPointTagStore::shared();
        const auto& tags = store.allTags();
        if (tags && tags->empty()) store.buildDefaultTags();
        return store;
    }

    static std::vector<std::string> titles(const QuovaPointTagStore& store) {
        std::vector<std::string> result;
        for (const auto& tag : *store.tags()) result.push_back(tag->title());
        return result;
    }
};

TEST_F(QuovaPointTagStoreTest, FirstStartWritesTheSixDefaultTagsWithDecimalColours) {
    auto& store = startUp();
    EXPECT_THAT(titles(store), ElementsAre("Bar", "Cinema", "Favorite", "MustSee", "Park", "Restaurant"));
    const char* colours[] = {"246,170,0", "255,75,0", "0,176,107", "25,113,255", "153,0,153", "0,0,0"};
    ASSERT_EQ(entries(tagsFolder()).size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& tag = (*store.tags())[i];
        auto file = nlohmann::json::parse(readText(tagsFolder() + tag->uuid() + ".QuovaPointTag"));
        EXPECT_EQ(file["title"], tag->title());
        EXPECT_EQ(file["colorString"], colours[i]);
        EXPECT_FALSE(file.contains("deletedAt"));
    }
    EXPECT_TRUE(store.needsSync());
    const auto debug = log_->texts(logging::QLLogFlag::debug);
    EXPECT_THAT(debug,
                Contains("Created UIColor " + platform::Color(246 / 255.0, 170 / 255.0, 0, 1).description()));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info), Contains("QuovaPointTagStore: add tag \"Bar\"."));

    // The next start loads the six and builds nothing.
    QuovaPointTagStore::resetSharedForTesting();
    auto& again = startUp();
    EXPECT_EQ(again.tags()->size(), 6u);
    EXPECT_EQ(entries(tagsFolder()).size(), 6u);
}

TEST_F(QuovaPointTagStoreTest, DeletingEveryTagAndRestartingRebuildsTheDefaults) {
    auto& store = startUp();
    std::vector<std::string> oldIdentifiers;
    const auto all = *store.tags();
    for (const auto& tag : all) {
        oldIdentifiers.push_back(tag->uuid());
        store.deleteTag(tag);
    }
    EXPECT_THAT(*store.tags(), IsEmpty());
    for (const auto& tag : all) {
        EXPECT_TRUE(tag->deletedAt() && tag->hiddenAt());
        EXPECT_LE(*tag->hiddenAt(), *tag->deletedAt());
    }

    QuovaPointTagStore::resetSharedForTesting();
    auto& again = startUp();
    EXPECT_THAT(titles(again), ElementsAre("Bar", "Cinema", "Favorite", "MustSee", "Park", "Restaurant"));
    for (const auto& tag : *again.tags()) {
        EXPECT_EQ(std::count(oldIdentifiers.begin(), oldIdentifiers.end(), tag->uuid()), 0);
    }
    EXPECT_EQ(entries(tagsFolder()).size(), 12u);  // deleted files stay
}

TEST_F(QuovaPointTagStoreTest, LoadingSkipsDeletedHiddenAndStrayFiles) {
    std::filesystem::create_directories(tagsFolder());
    writeText(tagsFolder() + "a.QuovaPointTag", R"({"title":"kept","uuid":"A","createdAt":1})");
    writeText(tagsFolder() + "b.QuovaPointTag",
              R"({"title":"hidden","uuid":"B","createdAt":1,"hiddenAt":2})");
    writeText(tagsFolder() + "c.QuovaPointTag",
              R"({"title":"deleted","uuid":"C","createdAt":1,"deletedAt":2})");
    writeText(tagsFolder() + "stray.txt", "hello");
    auto& store = QuovaPointTagStore::shared();
    EXPECT_THAT(titles(store), ElementsAre("kept"));
    const auto info = log_->texts(logging::QLLogFlag::info);
    EXPECT_THAT(info, Contains("Found \"stray.txt\""));
    EXPECT_THAT(info,
                Contains(::testing::StartsWith("Can't decode file \"" + tagsFolder() + "stray.txt\": ")));
    EXPECT_EQ(info.front(), "loadFromLocalStore()");
}

// Hostile and unfinished entries of the tags folder: skipped ones with the
// tag extension are named with the reason, old leftovers of interrupted saves
// are removed, a tag too large to read back is never written.
TEST_F(QuovaPointTagStoreTest, SkippedFilesAreNamedLeftoversRemovedOversizedTagsRefused) {
    std::filesystem::create_directories(tagsFolder());
    writeText(tagsFolder() + "a.QuovaPointTag", R"({"title":"kept","uuid":"A","createdAt":1})");
    std::filesystem::create_directory(tagsFolder() + "folder.QuovaPointTag");
    writeText(tagsFolder() + ".a.QuovaPointTag.tmp-Old001",
              R"({"title":"unfinished","uuid":"A","createdAt":1})");
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 120;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, (tagsFolder() + ".a.QuovaPointTag.tmp-Old001").c_str(), times, 0), 0);

    auto& store = QuovaPointTagStore::shared();
    EXPECT_THAT(titles(store), ElementsAre("kept"));
    EXPECT_THAT(entries(tagsFolder()), ElementsAre("a.QuovaPointTag", "folder.QuovaPointTag"));
    EXPECT_THAT(
        log_->texts(logging::QLLogFlag::warning),
        ElementsAre(::testing::StartsWith("Skipping \"" + tagsFolder() + "folder.QuovaPointTag\": ")));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                Contains("Removed \".a.QuovaPointTag.tmp-Old001\", left by a save that never completed"));

    auto huge = QuovaPointTag::make(std::string(2 * 1024 * 1024, 't'));
    huge->setColorString("0,0,0");
    log_->clear();
    store.addTag(huge);
    EXPECT_FALSE(std::filesystem::exists(tagsFolder() + huge->uuid() + ".QuovaPointTag"));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::error), ElementsAre(::testing::StartsWith("Not saving ")));
}

// Typed observers see every tag added (the defaults included) and deleted.
TEST_F(QuovaPointTagStoreTest, TypedObserversSeeAddedAndDeletedTags) {
    auto& store = QuovaPointTagStore::shared();
    std::vector<std::pair<PointTagChange::Reason, std::string>> seen;
    auto token = store.observeChanges([&](const PointTagChange& change) {
        // The tag is saved when the observer runs.
        EXPECT_FALSE(readText(tagsFolder() + change.tag->uuid() + ".QuovaPointTag").empty());
        seen.emplace_back(change.reason, change.tag->title());
    });
    store.buildDefaultTags();
    auto tag = QuovaPointTag::make("Ferry");
    store.addTag(tag);
    store.deleteTag(tag);
    using Reason = PointTagChange::Reason;
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen[0], std::make_pair(Reason::added, std::string("Bar")));
    EXPECT_EQ(seen[6], std::make_pair(Reason::added, std::string("Ferry")));
    EXPECT_EQ(seen[7], std::make_pair(Reason::deleted, std::string("Ferry")));
    token.reset();
    store.addTag(QuovaPointTag::make("After"));
    EXPECT_EQ(seen.size(), 8u);
}

TEST_F(QuovaPointTagStoreTest, UnreadableTagsFolderGivesAnEmptyList) {
    std::filesystem::create_directories(documents());
    writeText(documents() + "/tags", "");
    auto& store = QuovaPointTagStore::shared();
    ASSERT_TRUE(store.tags().has_value());
    EXPECT_THAT(*store.tags(), IsEmpty());
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info), Contains("Can't read tags directory."));
}

TEST_F(QuovaPointTagStoreTest, TagWithTitleIgnoresCaseUnderFullCaseMapping) {
    auto& store = startUp();
    EXPECT_EQ(store.tagWithTitle("bar"), (*store.tags())[0]);
    EXPECT_EQ(store.tagWithTitle("MUSTSEE"), (*store.tags())[3]);
    EXPECT_EQ(store.tagWithTitle("Zoo"), nullptr);

    auto first = QuovaPointTag::make("STRASSE");
    first->setColorString("0,0,0");
    auto second = QuovaPointTag::make("Straße");
    second->setColorString("0,0,0");
    auto sigma = QuovaPointTag::make("ΣΑΣ");
    sigma->setColorString("0,0,0");
    store.addTag(second);
    store.addTag(first);
    store.addTag(sigma);
    EXPECT_EQ(store.tagWithTitle("straße"), second);
    EXPECT_EQ(store.tagWithTitle("strasse"), first);
    EXPECT_EQ(store.tagWithTitle("σασ"), nullptr);  // full lower-case mapping gives a final sigma
    EXPECT_EQ(store.tagWithTitle("σας"), sigma);
}

TEST_F(QuovaPointTagStoreTest, TagWithTitleTreatsCanonicallyEquivalentTitlesAsOneTag) {
    auto& store = startUp();
    struct Case {
        const char* stored;
        const char* asked;
        bool found;
    };
    const std::vector<Case> cases = {
        {"Caf\u00E9", "Cafe\u0301", true},                     // precomposed stored, decomposed asked
        {"Cafe\u0301", "Caf\u00E9", true},                     // and the other way round
        {"Cafe\u0301", "CAF\u00C9", true},                     // upper-case precomposed
        {"a\u030Angstro\u0308m", "\u00C5NGSTR\u00D6M", true},  // decomposed lower, precomposed upper
        {"Stra\u00DFe", "STRASSE", false},                     // lower-casing, not folding
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " / " + c.asked);
        auto tag = QuovaPointTag::make(c.stored);
        tag->setColorString("0,0,0");
        store.addTag(tag);
        EXPECT_EQ(store.tagWithTitle(c.asked), c.found ? tag : nullptr);
        store.deleteTag(tag);
    }
}

TEST_F(QuovaPointTagStoreTest, AddingWithoutColourStoresTheHexFormOfAPaletteEntry) {
    auto& store = QuovaPointTagStore::shared();
    // Random bytes that pick the first entry, then the last.
    for (const auto& [byte, expected] :
         std::vector<std::pair<uint8_t, const char*>>{{0, "F6AA00"}, {5, "000000"}}) {
        platform::text::setRandomSourceForTesting([byte = byte](std::span<uint8_t> bytes) {
            std::fill(bytes.begin(), bytes.end(), uint8_t{0});
            if (!bytes.empty()) bytes[0] = byte;
        });
        auto tag = QuovaPointTag::make("new");
        log_->clear();
        store.addTag(tag);
        EXPECT_EQ(tag->colorString(), expected);
        EXPECT_THAT(log_->texts(logging::QLLogFlag::debug),
                    Contains(std::string("tag \"new\": color not set yet, using random color ") + expected));
    }
    platform::text::setRandomSourceForTesting({});
    const std::vector<std::string> palette = {"F6AA00", "FF4B00", "00B06B", "1971FF", "990099", "000000"};
    for (int i = 0; i < 50; ++i) {
        auto hex = quovaHexStringRepresentation(store.randomPaletteColor(), false);
        ASSERT_TRUE(hex.has_value());
        EXPECT_THAT(palette, Contains(*hex));
    }
    auto coloured = QuovaPointTag::make("coloured");
    coloured->setColorString("1,2,3");
    store.addTag(coloured);
    EXPECT_EQ(coloured->colorString(), "1,2,3");
    EXPECT_EQ(store.tags()->back(), coloured);
}

TEST_F(QuovaPointTagStoreTest, DeletingATagNotInTheListStillMarksAndSavesIt) {
    auto& store = startUp();
    auto stranger = QuovaPointTag::make("stranger");
    store.deleteTag(stranger);
    EXPECT_EQ(store.tags()->size(), 6u);
    auto file = nlohmann::json::parse(readText(tagsFolder() + stranger->uuid() + ".QuovaPointTag"));
    EXPECT_TRUE(file.contains("deletedAt"));
    EXPECT_TRUE(file.contains("hiddenAt"));
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                Contains("QuovaPointTagStore: delete tag \"stranger\"."));
}

// A tag write that fails changes nothing in the list: a deleted tag whose file
// still says valid stays, a new tag without a file is not taken, and the
// caller hears why. A plain file where the tags folder should be fails every
// write, for root too.
TEST_F(QuovaPointTagStoreTest, WritesThatFailLeaveTheListAsTheFilesAre) {
    auto& store = startUp();
    auto bar = store.tagWithTitle("Bar");
    ASSERT_NE(bar, nullptr);
    const std::string file = readText(tagsFolder() + bar->uuid() + ".QuovaPointTag");
    std::filesystem::rename(tagsFolder(), documents() + "/kept");
    writeText(documents() + "/tags", "");

    const auto deleted = store.deleteTag(bar);
    ASSERT_TRUE(deleted.has_value());
    EXPECT_FALSE(bar->deletedAt().has_value());
    EXPECT_FALSE(bar->hiddenAt().has_value());
    EXPECT_EQ(store.tagWithTitle("Bar"), bar);

    auto fresh = QuovaPointTag::make("Harbour");
    EXPECT_TRUE(store.addTag(fresh).has_value());
    EXPECT_EQ(store.tagWithTitle("Harbour"), nullptr);
    EXPECT_EQ(store.tags()->size(), 6u);

    const std::string before = *bar->colorString();
    bar->setColorString("FF0000FF");
    EXPECT_TRUE(bar->save().has_value());

    std::filesystem::remove(documents() + "/tags");
    std::filesystem::rename(documents() + "/kept", tagsFolder());
    EXPECT_EQ(readText(tagsFolder() + bar->uuid() + ".QuovaPointTag"), file);
    EXPECT_NE(file.find(before), std::string::npos);
}

}  // namespace
}  // namespace tervolo::points
