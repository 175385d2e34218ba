// Copies of one value used on several threads while the original changes:
// containers are shared between the copies, and each write copies what it
// changes, so no thread sees another's changes and nothing races.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "json/JSON.hpp"

namespace tervolo::json {
namespace {

TEST(JSONConcurrencyTest, CopiesOnOtherThreadsKeepTheirValue) {
    Array records;
    for (int i = 0; i < 200; ++i) records.push_back(Any(Dictionary{{"value", i}, {"name", "record"}}));
    JSON original = JSON::dictionaryLiteral({{"items", Any(std::move(records))}, {"title", "list"}});
    const std::string printedBefore = *original.rawString(StringEncoding::utf8, WritingOptions());

    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(
            [copy = original, &printedBefore, &mismatch = mismatches[static_cast<size_t>(t)], t]() mutable {
                for (int round = 0; round < 50; ++round) {
                    int64_t sum = 0;
                    for (const auto& [key, item] : copy["items"]) sum += item["value"].intValue();
                    if (sum != 199 * 200 / 2) ++mismatch;
                    if (*copy.rawString(StringEncoding::utf8, WritingOptions()) != printedBefore) ++mismatch;
                    JSON own = copy;  // a thread's own writes stay its own
                    own.set({"items", round, "value"}, JSON(-t));
                    if ((own[{"items", round, "value"}].intValue()) != -t) ++mismatch;
                }
            });
    }
    for (int i = 0; i < 2000; ++i) original.set({"items", i % 200, "value"}, JSON(1000 + i));
    original.merge(JSON::dictionaryLiteral({{"title", "changed"}}));
    for (std::thread& thread : threads) thread.join();
    for (int mismatch : mismatches) EXPECT_EQ(mismatch, 0);
    EXPECT_EQ(original["title"].stringValue(), "changed");
    EXPECT_EQ((original[{"items", 199, "value"}].intValue()), 1000 + 1999);
}

TEST(JSONConcurrencyTest, ElementsCopiedInAWalkOutliveTheDocumentOnOtherThreads) {
    // A walk hands out elements that borrow the parsed document's storage;
    // their copies are counted, so they may go to other threads while the
    // document itself is changed and dropped.
    std::string text = "[";
    for (int i = 0; i < 64; ++i) {
        if (i > 0) text += ',';
        text += R"({"n": [)";
        text += std::to_string(i);
        text += "]}";
    }
    text += "]";
    auto document = std::make_unique<JSON>(JSON::parseJSON(text));
    std::vector<JSON> elements;
    for (const auto& [key, element] : *document) elements.push_back(element);

    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&elements, &mismatch = mismatches[static_cast<size_t>(t)], t] {
            for (int round = 0; round < 20; ++round) {
                for (size_t i = static_cast<size_t>(t); i < elements.size(); i += 4) {
                    JSON element = elements[i];
                    if ((element[{"n", 0}].intValue()) != static_cast<int64_t>(i)) ++mismatch;
                    element.set({"n", 0}, JSON(-1));
                    for (const auto& [key, list] : element)
                        if (list[0].intValue() != -1) ++mismatch;
                }
            }
        });
    }
    for (int i = 0; i < 64; ++i) document->set({i, "n", 0}, JSON(1000 + i));
    document.reset();
    for (std::thread& thread : threads) thread.join();
    for (int mismatch : mismatches) EXPECT_EQ(mismatch, 0);
    for (size_t i = 0; i < elements.size(); ++i)
        EXPECT_EQ((elements[i][{"n", 0}].intValue()), static_cast<int64_t>(i));
}

}  // namespace
}  // namespace tervolo::json
