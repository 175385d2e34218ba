#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/text/Random.hpp"
#include "platform/text/UUID.hpp"

namespace platform::text {
namespace {

// Replays a fixed byte sequence as the random source.
class ScriptedRandom : public ::testing::Test {
  protected:
    void play(std::vector<uint8_t> bytes) {
        setRandomSourceForTesting(
            [bytes = std::move(bytes), next = size_t(0)](std::span<uint8_t> out) mutable {
                for (auto& b : out) b = bytes[next++ % bytes.size()];
            });
    }
    void TearDown() override { setRandomSourceForTesting(nullptr); }
};

TEST_F(ScriptedRandom, UuidIsVersion4WithUpperCaseText) {
    play({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff});
    const UUID uuid = UUID::random();
    // Version nibble forced to 4, variant bits to 10.
    EXPECT_EQ(uuid.uuidString(), "00112233-4455-4677-8899-AABBCCDDEEFF");
    EXPECT_EQ(UUID::fromString("00112233-4455-4677-8899-aabbccddeeff"), uuid);
}

TEST(UUIDText, ParsingAcceptsOnlyTheCanonicalShape) {
    const char* refused[] = {
        "",
        "00112233-4455-4677-8899-AABBCCDDEEF",    // 35
        "00112233-4455-4677-8899-AABBCCDDEEFF0",  // 37
        "0011223344554677-8899-AABBCCDDEEFF--",
        "{00112233-4455-4677-8899-AABBCCDDEEF}",
        "00112233-4455-4677-8899-AABBCCDDEEFG",
        "00112233_4455-4677-8899-AABBCCDDEEFF",
        " 0112233-4455-4677-8899-AABBCCDDEEFF",
    };
    for (const char* text : refused) EXPECT_FALSE(UUID::fromString(text)) << text;
    EXPECT_EQ(UUID().uuidString(), "00000000-0000-0000-0000-000000000000");
}

TEST(UUIDText, KernelRandomUuidsDifferAndRoundTrip) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const UUID uuid = UUID::random();
        const std::string text = uuid.uuidString();
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
        EXPECT_EQ(UUID::fromString(text), uuid);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST_F(ScriptedRandom, RandomIndexRejectsTheBiasedTopBlock) {
    // For count 3, 2^64 mod 3 = 1, so the single largest value 2^64-1 is
    // rejected; the next draw (5) gives 5 mod 3 = 2.
    play({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 5, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(randomIndex(3), 2u);
    // For a power of two nothing is rejected: 2^64-1 mod 4 = 3.
    play({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    EXPECT_EQ(randomIndex(4), 3u);
    EXPECT_EQ(randomIndex(1), 0u);
}

TEST(RandomIndex, StaysInRangeAndReachesEveryIndex) {
    std::vector<int> hits(7, 0);
    for (int i = 0; i < 2000; ++i) {
        const size_t index = randomIndex(hits.size());
        ASSERT_LT(index, hits.size());
        ++hits[index];
    }
    for (int h : hits) EXPECT_GT(h, 0);
}

}  // namespace
}  // namespace platform::text
