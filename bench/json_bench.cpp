// The JSON value against nlohmann-json and RapidJSON, measured in the same
// run: parse, reads of a fixed set of paths, and compact printing, on
// generated documents of the shape and size of the three standard ones
// (twitter.json: text-heavy records with Unicode; citm_catalog.json: many
// small objects and integer arrays; canada.json: ~110,000 coordinate pairs of
// doubles), a 10 MB array of the three, and two 10 MB documents whose texts
// are escaped ("\uXXXX", "\/"). Plus path writes into one document, which must
// grow linearly.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "json/JSON.hpp"

// ---- heap tracking (operator new: ours and nlohmann-json allocate through it) ----------

// The replacement operators below pair malloc with free; GCC sees operator new
// inlined into call sites of operator delete and warns about a mismatch that
// is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<int64_t> gHeapInUse{0};
std::atomic<int64_t> gHeapPeak{0};
// On only while a peak is measured, so the timed runs pay nothing for it
// (RapidJSON allocates with malloc and would not pay it either).
std::atomic<bool> gTracking{false};

void* trackedAllocation(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    if (!gTracking.load(std::memory_order_relaxed)) return p;
    const int64_t now =
        gHeapInUse.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed) +
        static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = gHeapPeak.load(std::memory_order_relaxed);
    while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return p;
}

void trackedRelease(void* p) noexcept {
    if (p == nullptr) return;
    if (gTracking.load(std::memory_order_relaxed))
        gHeapInUse.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
    return trackedAllocation(size);
}
void* operator new[](std::size_t size) {
    return trackedAllocation(size);
}
void operator delete(void* p) noexcept {
    trackedRelease(p);
}
void operator delete[](void* p) noexcept {
    trackedRelease(p);
}
void operator delete(void* p, std::size_t) noexcept {
    trackedRelease(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    trackedRelease(p);
}

using tervolo::json::Any;
using tervolo::json::JSON;
using tervolo::json::JSONSerialization;
using tervolo::json::JSONSubscriptType;
using tervolo::json::WritingOptions;

namespace {

// One syllable in `unicodeOneIn` is Japanese, an accented letter or an emoji
// (none when 0).
std::string randomWord(std::mt19937& rng, size_t minLength, size_t maxLength, unsigned unicodeOneIn) {
    static const char* syllables[] = {"ka", "to", "ri", "mu", "sen", "lo", "va", "qui", "zo", "be"};
    static const char* cjk[] = {"日本", "東京", "の", "です", "ツイート", "こんにちは", "é", "😀"};
    std::string s;
    size_t length = minLength + rng() % (maxLength - minLength + 1);
    while (s.size() < length)
        s += unicodeOneIn != 0 && rng() % unicodeOneIn == 0 ? cjk[rng() % 8] : syllables[rng() % 10];
    return s;
}

// ~630 KB printed with an indent of 1: 100 tweets, each with a nested user,
// entities and metadata.
nlohmann::ordered_json twitterTree(unsigned seed, unsigned unicodeOneIn = 4) {
    std::mt19937 rng(seed);
    nlohmann::ordered_json statuses = nlohmann::ordered_json::array();
    for (int i = 0; i < 100; ++i) {
        uint64_t id = 505874924095815681ull + static_cast<uint64_t>(rng() % 1000000);
        nlohmann::ordered_json user = {
            {"id", rng() % 3000000000u},
            {"id_str", std::to_string(rng())},
            {"name", randomWord(rng, 6, 20, unicodeOneIn)},
            {"screen_name", randomWord(rng, 6, 14, 0)},
            {"location", randomWord(rng, 0, 20, unicodeOneIn)},
            {"description", randomWord(rng, 40, 160, unicodeOneIn)},
            {"url", rng() % 2 ? nlohmann::ordered_json(nullptr)
                              : nlohmann::ordered_json("http://t.co/" + randomWord(rng, 8, 10, 0))},
            {"entities", {{"description", {{"urls", nlohmann::ordered_json::array()}}}}},
            {"protected", false},
            {"followers_count", rng() % 100000},
            {"friends_count", rng() % 5000},
            {"listed_count", rng() % 100},
            {"created_at", "Sun Jul 13 09:40:21 +0000 2014"},
            {"favourites_count", rng() % 10000},
            {"utc_offset", rng() % 2 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(32400)},
            {"time_zone", rng() % 2 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json("Tokyo")},
            {"geo_enabled", rng() % 2 == 0},
            {"verified", false},
            {"statuses_count", rng() % 100000},
            {"lang", "ja"},
            {"profile_background_color", "C0DEED"},
            {"profile_background_image_url", "http://abs.twimg.com/images/themes/theme1/bg.png"},
            {"profile_image_url_https",
             "https://pbs.twimg.com/profile_images/" + std::to_string(rng()) + "/normal.jpeg"},
            {"profile_link_color", "0084B4"},
            {"profile_sidebar_fill_color", "DDEEF6"},
            {"profile_use_background_image", true},
            {"default_profile", true},
            {"following", false},
            {"notifications", false}};
        nlohmann::ordered_json hashtags = nlohmann::ordered_json::array();
        for (unsigned h = 0; h < rng() % 3; ++h)
            hashtags.push_back(
                {{"text", randomWord(rng, 3, 12, unicodeOneIn)}, {"indices", {rng() % 100, rng() % 140}}});
        statuses.push_back(
            {{"metadata", {{"result_type", "recent"}, {"iso_language_code", "ja"}}},
             {"created_at", "Sun Aug 31 00:29:15 +0000 2014"},
             {"id", id},
             {"id_str", std::to_string(id)},
             {"text", randomWord(rng, 40, 140, unicodeOneIn)},
             {"source",
              "<a href=\"http://twitter.com/download/iphone\" rel=\"nofollow\">Twitter for iPhone</a>"},
             {"truncated", false},
             {"in_reply_to_status_id", nullptr},
             {"in_reply_to_user_id", nullptr},
             {"user", user},
             {"geo", nullptr},
             {"coordinates", nullptr},
             {"place", nullptr},
             {"retweet_count", rng() % 1000},
             {"favorite_count", rng() % 1000},
             {"entities",
              {{"hashtags", hashtags},
               {"symbols", nlohmann::ordered_json::array()},
               {"urls", nlohmann::ordered_json::array()},
               {"user_mentions", nlohmann::ordered_json::array()}}},
             {"favorited", false},
             {"retweeted", false},
             {"lang", "ja"}});
    }
    return nlohmann::ordered_json({{"statuses", statuses},
                                   {"search_metadata",
                                    {{"completed_in", 0.087},
                                     {"max_id", 505874924095815681ull},
                                     {"query", "%E4%B8%80"},
                                     {"count", 100}}}});
}

std::string twitterLike() {
    return twitterTree(1).dump(1);
}

// ~1.7 MB printed with an indent of 4: name tables, 184 events and ~240
// performances with prices and seat categories.
nlohmann::ordered_json citmTree(unsigned seed) {
    std::mt19937 rng(seed);
    nlohmann::ordered_json doc;
    auto names = [&](int count, int base) {
        nlohmann::ordered_json o = nlohmann::ordered_json::object();
        for (int i = 0; i < count; ++i) o[std::to_string(base + i)] = randomWord(rng, 5, 30, 0);
        return o;
    };
    doc["areaNames"] = names(17, 205705993);
    doc["audienceSubCategoryNames"] = names(1, 337100890);
    doc["blockNames"] = nlohmann::ordered_json::object();
    nlohmann::ordered_json events = nlohmann::ordered_json::object();
    for (int i = 0; i < 184; ++i) {
        int id = 138586341 + i * 10;
        nlohmann::ordered_json subTopics = nlohmann::ordered_json::array();
        for (unsigned k = 0; k < 2 + rng() % 4; ++k) subTopics.push_back(337184262 + rng() % 1000);
        events[std::to_string(id)] = {
            {"description", nullptr},
            {"id", id},
            {"logo", rng() % 2 ? nlohmann::ordered_json(nullptr)
                               : nlohmann::ordered_json("/images/UE0AAAAACEKo6QAAAAZDSVRN")},
            {"name", randomWord(rng, 10, 40, 0)},
            {"subTopicIds", subTopics},
            {"subjectCode", nullptr},
            {"subtitle", nullptr},
            {"topicIds", {324846099, 107888604}}};
    }
    doc["events"] = events;
    nlohmann::ordered_json performances = nlohmann::ordered_json::array();
    for (int i = 0; i < 243; ++i) {
        nlohmann::ordered_json prices = nlohmann::ordered_json::array(),
                               seats = nlohmann::ordered_json::array();
        for (unsigned k = 0; k < 2 + rng() % 5; ++k) {
            int seat = 338937235 + static_cast<int>(rng() % 100);
            prices.push_back({{"amount", 9000 + 500 * (rng() % 40)},
                              {"audienceSubCategoryId", 337100890},
                              {"seatCategoryId", seat}});
            nlohmann::ordered_json areas = nlohmann::ordered_json::array();
            for (unsigned a = 0; a < 1 + rng() % 12; ++a)
                areas.push_back(
                    {{"areaId", 205705993 + rng() % 20}, {"blockIds", nlohmann::ordered_json::array()}});
            seats.push_back({{"areas", areas}, {"seatCategoryId", seat}});
        }
        performances.push_back({{"eventId", 138586341 + 10 * (i % 184)},
                                {"id", 339887544 + i},
                                {"logo", nullptr},
                                {"name", nullptr},
                                {"prices", prices},
                                {"seatCategories", seats},
                                {"seatMapImage", nullptr},
                                {"start", 1372701600000 + static_cast<int64_t>(i) * 86400000},
                                {"venueCode", "PLEYEL_PLEYEL"}});
    }
    doc["performances"] = performances;
    doc["seatCategoryNames"] = names(64, 338937235);
    doc["subTopicNames"] = names(19, 337184262);
    doc["subjectNames"] = nlohmann::ordered_json::object();
    doc["topicNames"] = names(4, 107888604);
    nlohmann::ordered_json topicSubTopics = nlohmann::ordered_json::object();
    for (int i = 0; i < 4; ++i)
        topicSubTopics[std::to_string(107888604 + i)] = {337184262 + i, 337184283 + i};
    doc["topicSubTopics"] = topicSubTopics;
    doc["venueNames"] = {{"PLEYEL_PLEYEL", "Salle Pleyel"}};
    return doc;
}

std::string citmLike() {
    return citmTree(2).dump(4);
}

// ~2.2 MB: one polygon of 480 rings, ~111,000 [longitude, latitude] pairs.
std::string canadaLike() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> jitter(-0.01, 0.01);
    std::string text =
        R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"name":"Canada"},"geometry":{"type":"Polygon","coordinates":[)";
    char buffer[64];
    for (int ring = 0; ring < 480; ++ring) {
        text += ring ? ",[" : "[";
        double lon = -141.0 + ring * 0.2, lat = 45.0 + (ring % 40) * 0.5;
        for (int p = 0; p < 232; ++p) {
            lon += jitter(rng);
            lat += jitter(rng);
            snprintf(buffer, sizeof buffer, "%s[%.15g,%.15g]", p ? "," : "", lon, lat);
            text += buffer;
        }
        text += "]";
    }
    text += "]}}]}";
    return text;
}

// The large document: the three above, again and again, as one array of
// about 10 MB.
std::string largeDocument() {
    const std::string parts[] = {twitterLike(), citmLike(), canadaLike()};
    std::string text = "[";
    for (size_t i = 0; text.size() < 10'000'000; ++i) {
        if (i > 0) text.push_back(',');
        text += parts[i % 3];
    }
    text.push_back(']');
    return text;
}

// The escaped documents, about 10 MB each, as a producer that keeps to ASCII
// writes them: tweets whose texts are all Japanese, accented letters and
// emoji, compact, with every non-ASCII character as \uXXXX (a pair of
// surrogate escapes beyond the Basic Multilingual Plane) and every "/" as
// "\/". In the first, every third part is a catalogue of objects keyed by
// numeric text with integer arrays, indented; the second is tweets alone.
// Each part has a seed of its own.
std::string escapedDocument(bool withCatalogues) {
    std::string text = "[";
    for (unsigned i = 0; text.size() < 10'000'000; ++i) {
        if (i > 0) text.push_back(',');
        if (withCatalogues && i % 3 == 2) {
            text += citmTree(200 + i).dump(4);
            continue;
        }
        const std::string ascii = twitterTree(100 + i, 1).dump(-1, ' ', true);
        // A "/" occurs in JSON text only inside strings, so each one can be escaped.
        for (char c : ascii) {
            if (c == '/') text.push_back('\\');
            text.push_back(c);
        }
    }
    text.push_back(']');
    return text;
}

const std::string& document(int which) {
    static const std::string documents[] = {twitterLike(),          citmLike(),
                                            canadaLike(),           largeDocument(),
                                            escapedDocument(true), escapedDocument(false)};
    return documents[which];
}

const char* documentName(int which) {
    static const char* names[] = {"twitter", "citm_catalog", "canada", "large", "escaped", "escaped_texts"};
    return names[which];
}

constexpr int kLarge = 3;
constexpr int kEscaped = 4;
constexpr int kEscapedTexts = 5;

// ---- ratios printed at exit --------------------------------------------------------

// "<comparison> <document>" -> (ours, reference), times per iteration.
std::map<std::string, std::pair<double, double>>& ratios() {
    static auto* r = new std::map<std::string, std::pair<double, double>>();
    return *r;
}

// ---- parse ---------------------------------------------------------------------

void BM_Parse_Ours(benchmark::State& state) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        JSON value(JSONSerialization::jsonObject(text));
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

// The other way to build the library: nlohmann-json's parser, then its tree
// converted into our values. Measured to choose the parser.
Any fromNlohmann(const nlohmann::json& j) {
    switch (j.type()) {
        case nlohmann::json::value_t::null:
            return Any();
        case nlohmann::json::value_t::boolean:
            return Any(j.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return Any(j.get<int64_t>());
        case nlohmann::json::value_t::number_unsigned: {
            uint64_t u = j.get<uint64_t>();
            return u <= INT64_MAX ? Any(static_cast<int64_t>(u)) : Any(u);
        }
        case nlohmann::json::value_t::number_float:
            return Any(j.get<double>());
        case nlohmann::json::value_t::string:
            return Any(j.get_ref<const std::string&>());
        case nlohmann::json::value_t::array: {
            tervolo::json::Array items;
            items.reserve(j.size());
            for (const auto& e : j) items.push_back(fromNlohmann(e));
            return Any(std::move(items));
        }
        case nlohmann::json::value_t::object: {
            tervolo::json::Dictionary entries;
            for (const auto& [k, v] : j.items()) entries.emplace_hint(entries.end(), k, fromNlohmann(v));
            return Any(std::move(entries));
        }
        default:
            return Any();
    }
}

void BM_Parse_NlohmannUnderneath(benchmark::State& state) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        JSON value(fromNlohmann(nlohmann::json::parse(text)));
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

void BM_Parse_Nlohmann(benchmark::State& state) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto value = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

// Parsing alone, the tree released outside the clock (a RapidJSON document
// releases its pool at once, ours and nlohmann-json's free node by node).
void BM_ParseOnly_Ours(benchmark::State& state) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto value = std::make_unique<JSON>(JSONSerialization::jsonObject(text));
        benchmark::DoNotOptimize(value);
        state.PauseTiming();
        value.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

// RapidJSON with full-precision floats and UTF-8 validation on: the work our
// parser does. `untimedRelease`: the document is released outside the clock.
void parseRapidJSONFull(benchmark::State& state, bool untimedRelease) {
    constexpr unsigned kFlags = rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag;
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto value = std::make_unique<rapidjson::Document>();
        value->Parse<kFlags>(text.c_str(), text.size());
        if (value->HasParseError()) state.SkipWithError("RapidJSON refused the document");
        benchmark::DoNotOptimize(value);
        if (untimedRelease) state.PauseTiming();
        value.reset();
        if (untimedRelease) state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

void BM_ParseOnly_RapidJSONFull(benchmark::State& state) {
    parseRapidJSONFull(state, true);
}

void BM_Parse_RapidJSONFull(benchmark::State& state) {
    parseRapidJSONFull(state, false);
}

void BM_Parse_RapidJSON(benchmark::State& state) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        rapidjson::Document value;
        value.Parse(text.c_str(), text.size());
        if (value.HasParseError()) state.SkipWithError("RapidJSON refused the document");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(documentName(static_cast<int>(state.range(0))));
}

// ---- access: a fixed set of paths ------------------------------------------------------

// Per document: the paths read, as steps. Each benchmark reads all of them.
std::vector<std::vector<JSONSubscriptType>> paths(int which) {
    std::vector<std::vector<JSONSubscriptType>> result;
    if (which == 0) {
        for (int i = 0; i < 100; ++i) {
            result.push_back({"statuses", i, "user", "screen_name"});
            result.push_back({"statuses", i, "id"});
            result.push_back({"statuses", i, "user", "followers_count"});
        }
    } else if (which == 1) {
        for (int i = 0; i < 243; ++i) {
            result.push_back({"performances", i, "prices", 0, "amount"});
            result.push_back({"performances", i, "seatCategories", 0, "seatCategoryId"});
        }
        for (int i = 0; i < 184; ++i)
            result.push_back({"events", std::to_string(138586341 + i * 10), "name"});
    } else {
        for (int ring = 0; ring < 480; ring += 4)
            for (int p = 0; p < 232; p += 29)
                result.push_back({"features", 0, "geometry", "coordinates", ring, p, 1});
    }
    return result;
}

// Leaves read: texts by length, numbers by value, so the reads cannot be dropped.
void BM_Access_Ours(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    auto all = paths(which);
    for (auto _ : state) {
        double sum = 0;
        for (const auto& path : all) {
            JSON leaf = value[path];
            // The text is read in place, as the others read theirs.
            const std::string* text = leaf.object().string();
            sum += text ? static_cast<double>(text->size()) : leaf.doubleValue();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
    state.SetLabel(documentName(which));
}

void BM_Access_Nlohmann(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const nlohmann::json value = nlohmann::json::parse(document(which));
    auto all = paths(which);
    for (auto _ : state) {
        double sum = 0;
        for (const auto& path : all) {
            const nlohmann::json* node = &value;
            for (const auto& step : path) {
                const auto& key = step.jsonKey();
                node = key.kind() == tervolo::json::JSONKey::Kind::index
                           ? &(*node)[static_cast<size_t>(key.indexValue())]
                           : &(*node)[key.keyValue()];
            }
            sum += node->is_string() ? static_cast<double>(node->get_ref<const std::string&>().size())
                                     : node->get<double>();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
    state.SetLabel(documentName(which));
}

void BM_Access_RapidJSON(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    rapidjson::Document value;
    value.Parse(document(which).c_str());
    auto all = paths(which);
    for (auto _ : state) {
        double sum = 0;
        for (const auto& path : all) {
            const rapidjson::Value* node = &value;
            for (const auto& step : path) {
                const auto& key = step.jsonKey();
                if (key.kind() == tervolo::json::JSONKey::Kind::index) {
                    node = &(*node)[static_cast<rapidjson::SizeType>(key.indexValue())];
                } else {
                    rapidjson::Value name(rapidjson::StringRef(
                        key.keyValue().data(), static_cast<rapidjson::SizeType>(key.keyValue().size())));
                    node = &(*node)[name];
                }
            }
            sum += node->IsString() ? static_cast<double>(node->GetStringLength()) : node->GetDouble();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
    state.SetLabel(documentName(which));
}

// ---- walk: every value through the collection interface ----------------------------------

// Visits every value of the tree by iterating each container, reading keys
// and leaves (texts by length, numbers by value) so nothing can be dropped.
double walkOurs(const JSON& value) {
    double sum = 0;
    for (const auto& [key, element] : value) {
        switch (element.type()) {
            case tervolo::json::Type::array:
            case tervolo::json::Type::dictionary:
                sum += walkOurs(element);
                break;
            case tervolo::json::Type::string:
                sum += static_cast<double>(element.object().string()->size());
                break;
            case tervolo::json::Type::number:
                sum += element.doubleValue();
                break;
            default:
                sum += 1;
                break;
        }
        if (!key.isArrayOffset()) sum += static_cast<double>(key.text().size());
    }
    return sum;
}

double walkNlohmann(const nlohmann::json& value) {
    double sum = 0;
    const bool isObject = value.is_object();
    for (auto it = value.begin(); it != value.end(); ++it) {
        const nlohmann::json& element = *it;
        if (element.is_structured()) {
            sum += walkNlohmann(element);
        } else if (element.is_string()) {
            sum += static_cast<double>(element.get_ref<const std::string&>().size());
        } else if (element.is_number()) {
            sum += element.get<double>();
        } else {
            sum += 1;
        }
        if (isObject) sum += static_cast<double>(it.key().size());
    }
    return sum;
}

void BM_Walk_Ours(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    for (auto _ : state) benchmark::DoNotOptimize(walkOurs(value));
    state.SetLabel(documentName(which));
}

void BM_Walk_Nlohmann(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const nlohmann::json value = nlohmann::json::parse(document(which));
    for (auto _ : state) benchmark::DoNotOptimize(walkNlohmann(value));
    state.SetLabel(documentName(which));
}

// ---- print (compact) ------------------------------------------------------------------

void BM_Print_Ours(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        JSONSerialization::write(out, value.object(), WritingOptions(WritingOptions::withoutEscapingSlashes));
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

void BM_Print_OursOwnPrinter(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    tervolo::json::WritingOptionsMap options{{tervolo::json::writingOptionsKeys::castNilToNSNull, true}};
    size_t bytes = 0;
    for (auto _ : state) {
        auto out = value.rawString(options);
        bytes = out->size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

void BM_Print_Nlohmann(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    const nlohmann::json value = nlohmann::json::parse(document(which));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = value.dump();
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

void BM_Print_RapidJSON(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    rapidjson::Document value;
    value.Parse(document(which).c_str());
    size_t bytes = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        value.Accept(writer);
        bytes = buffer.GetSize();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

// The serialiser's default, "/" written as "\/" (the platform's form), which
// nlohmann-json does not do: ours writes more bytes for the same tree.
void BM_Print_OursEscapingSlashes(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        JSONSerialization::write(out, value.object());
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

// The compact text as a caller asks for it: the value's own rawString.
void BM_Print_OursRawString(benchmark::State& state) {
    int which = static_cast<int>(state.range(0));
    JSON value(JSONSerialization::jsonObject(document(which)));
    size_t bytes = 0;
    for (auto _ : state) {
        auto out = value.rawString(tervolo::json::StringEncoding::utf8,
                                   WritingOptions(WritingOptions::withoutEscapingSlashes));
        bytes = out->size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(documentName(which));
}

// ---- peak heap while parsing the large document ----------------------------------------------

template <typename Parse>
void peakWhileParsing(benchmark::State& state, Parse parse) {
    const std::string& text = document(kLarge);
    for (auto _ : state) {
        gHeapInUse.store(0);
        gHeapPeak.store(0);
        gTracking.store(true);
        {
            auto value = parse(text);
            benchmark::DoNotOptimize(value);
            state.counters["kept_MB"] = static_cast<double>(gHeapInUse.load()) / 1e6;
        }
        gTracking.store(false);
        state.counters["peak_MB"] = static_cast<double>(gHeapPeak.load()) / 1e6;
    }
    state.SetLabel(documentName(kLarge));
}

void BM_ParsePeak_Ours(benchmark::State& state) {
    peakWhileParsing(state,
                     [](const std::string& text) { return JSON(JSONSerialization::jsonObject(text)); });
}

void BM_ParsePeak_Nlohmann(benchmark::State& state) {
    peakWhileParsing(state, [](const std::string& text) { return nlohmann::json::parse(text); });
}

// ---- path writes into one document ---------------------------------------------------------

// n writes of items[i].value into a document of n records: the value is
// uniquely owned, so each write changes its containers in place. Linear total
// time (O(1) per write) shows as a flat time per write across n.
void BM_PathWrites(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    tervolo::json::Array records;
    for (int i = 0; i < n; ++i)
        records.push_back(Any(tervolo::json::Dictionary{{"value", 0}, {"name", "r"}}));
    const JSON original = JSON::dictionaryLiteral({{"items", Any(std::move(records))}});
    for (auto _ : state) {
        state.PauseTiming();
        JSON value = original;
        state.ResumeTiming();
        for (int i = 0; i < n; ++i) value.set({"items", i, "value"}, JSON(i));
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetComplexityN(n);
}

// n writes of new keys into one dictionary.
void BM_PathWritesNewKeys(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> keys;
    for (int i = 0; i < n; ++i) keys.push_back("key" + std::to_string(i));
    for (auto _ : state) {
        JSON value = JSON::dictionaryLiteral({{"inner", Any(tervolo::json::Dictionary{})}});
        for (int i = 0; i < n; ++i) value.set({"inner", keys[static_cast<size_t>(i)]}, JSON(i));
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetComplexityN(n);
}

// Merging an object of n keys, each a small object, into another of n keys
// (half of them shared): the receiver is uniquely owned and merges in place.
void BM_MergeKeys(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    tervolo::json::Dictionary mine, theirs;
    for (int i = 0; i < n; ++i) {
        mine.emplace(std::to_string(i).insert(0, 1, 'k'), Any(tervolo::json::Dictionary{{"a", i}}));
        theirs.emplace(std::to_string(i + n / 2).insert(0, 1, 'k'), Any(tervolo::json::Dictionary{{"b", i}}));
    }
    const JSON receiver(Any(std::move(mine))), other(Any(std::move(theirs)));
    for (auto _ : state) {
        state.PauseTiming();
        JSON value = receiver;
        state.ResumeTiming();
        value.merge(other);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetComplexityN(n);
}

void documents(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
}

void documentsAndLarge(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->Arg(2)->Arg(kLarge)->Arg(kEscaped)->Arg(kEscapedTexts)->Unit(benchmark::kMillisecond);
}

// Keeps the time per iteration (and the peak counters) of the paired runs
// for the ratio lines printed at exit.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        static const std::pair<const char*, const char*> pairs[] = {
            {"BM_Parse_Ours/", "parse vs RapidJSON (full precision, UTF-8 validated)"},
            {"BM_Parse_RapidJSONFull/", "parse vs RapidJSON (full precision, UTF-8 validated)"},
            {"BM_ParseOnly_Ours/", "parse, tree released untimed, vs RapidJSON (full precision, UTF-8)"},
            {"BM_ParseOnly_RapidJSONFull/",
             "parse, tree released untimed, vs RapidJSON (full precision, UTF-8)"},
            {"BM_Walk_Ours/", "walk every value vs nlohmann"},
            {"BM_Walk_Nlohmann/", "walk every value vs nlohmann"},
            {"BM_Print_OursRawString/", "compact rawString vs nlohmann dump"},
            {"BM_Print_Ours/", "compact serialiser vs nlohmann dump"},
            {"BM_Print_OursEscapingSlashes/", "compact serialiser escaping \"/\" vs nlohmann dump"},
        };
        for (const auto& run : runs) {
            // With --benchmark_repetitions the ratios use the medians, which a
            // busy machine disturbs least.
            if (run.run_type == Run::RT_Aggregate ? run.aggregate_name != "median" : run.repetitions > 1)
                continue;
            const std::string name = run.benchmark_name();
            const bool ours = name.find("Ours") != std::string::npos;
            const std::string label = " " + run.report_label;
            for (const auto& [prefix, comparison] : pairs) {
                if (name.rfind(prefix, 0) == 0) record(comparison + label, ours, run.GetAdjustedRealTime());
            }
            if (name.rfind("BM_Parse_Nlohmann/", 0) == 0) {
                record("parse vs nlohmann" + label, false, run.GetAdjustedRealTime());
                record("parse vs RapidJSON (full precision, UTF-8 validated)" + label, false, -1);
            }
            if (name.rfind("BM_Parse_Ours/", 0) == 0)
                record("parse vs nlohmann" + label, true, run.GetAdjustedRealTime());
            if (name.rfind("BM_Print_Nlohmann/", 0) == 0) {
                record("compact rawString vs nlohmann dump" + label, false, run.GetAdjustedRealTime());
                record("compact serialiser vs nlohmann dump" + label, false, run.GetAdjustedRealTime());
                record("compact serialiser escaping \"/\" vs nlohmann dump" + label, false,
                       run.GetAdjustedRealTime());
            }
            const auto peak = run.counters.find("peak_MB");
            if (peak != run.counters.end())
                record("peak heap while parsing vs nlohmann" + label, ours, peak->second);
        }
        ConsoleReporter::ReportRuns(runs);
    }

  private:
    static void record(const std::string& name, bool ours, double value) {
        auto& entry = ratios()[name];
        if (value < 0) return;
        (ours ? entry.first : entry.second) = value;
    }
};

}  // namespace

BENCHMARK(BM_Parse_Ours)->Apply(documentsAndLarge);
BENCHMARK(BM_Parse_NlohmannUnderneath)->Apply(documents);
BENCHMARK(BM_Parse_Nlohmann)->Apply(documentsAndLarge);
BENCHMARK(BM_Parse_RapidJSON)->Apply(documents);
BENCHMARK(BM_Parse_RapidJSONFull)->Apply(documentsAndLarge);
BENCHMARK(BM_ParseOnly_Ours)->Arg(kLarge)->Arg(kEscaped)->Arg(kEscapedTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOnly_RapidJSONFull)->Arg(kLarge)->Arg(kEscaped)->Arg(kEscapedTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParsePeak_Ours)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParsePeak_Nlohmann)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk_Ours)->Apply(documentsAndLarge);
BENCHMARK(BM_Walk_Nlohmann)->Apply(documentsAndLarge);
BENCHMARK(BM_Access_Ours)->Apply(documents)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Access_Nlohmann)->Apply(documents)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Access_RapidJSON)->Apply(documents)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Print_Ours)->Apply(documentsAndLarge);
BENCHMARK(BM_Print_OursRawString)->Apply(documentsAndLarge);
BENCHMARK(BM_Print_OursEscapingSlashes)->Apply(documentsAndLarge);
BENCHMARK(BM_Print_OursOwnPrinter)->Apply(documents);
BENCHMARK(BM_Print_Nlohmann)->Apply(documentsAndLarge);
BENCHMARK(BM_Print_RapidJSON)->Apply(documents);
BENCHMARK(BM_PathWrites)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_MergeKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_PathWritesNewKeys)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios, ours / reference (time or peak heap; lower is better for us):\n");
    for (const auto& [name, values] : ratios()) {
        if (values.first > 0 && values.second > 0) {
            std::printf("  %-70s %12.3f / %12.3f = %.2f\n", name.c_str(), values.first, values.second,
                        values.first / values.second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
