#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdlib.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"
#include "platform/location/CLPlacemark.hpp"
#include "platform/text/Locale.hpp"
#include "search/GeocoderPlacemark.hpp"
#include "search/QuovaPlacemarkCoding.hpp"
#include "search/RetrieveRequestResult.hpp"
#include "search/SearchRequest.hpp"
#include "search/SearchRequestResult.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::search {
namespace {

using points::QuovaPlacemark;

constexpr const char* kPlace = R"({"title":"Harbour","address":"Pier 3, Hamburg","datasource":"OSM",)"
                               R"("longitude":9.9937,"latitude":53.5511})";

// One reply document of each kind, decoded as the geocoder decodes it.
enum class Kind { startReply, pollReply, placemark };

struct RecordRow {
    const char* name;
    Kind kind;
    std::string json;
    bool decodes;
    // Checks on what was decoded (the reply for the two replies, the place for a placemark).
    std::function<void(const SearchRequestResult*, const RetrieveRequestResult*, const QuovaPlacemark*)>
        check;
};

std::string poll(const std::string& members) {
    return R"({"status":0,"message":"ok","uuid":"S1","hits":2)" + members + "}";
}

TEST(SearchRecords, StrictDecodingOfRepliesAndPlaces) {
    const std::string place(kPlace);
    const RecordRow rows[] = {
        {"start reply without searchString", Kind::startReply, R"({"status":0,"message":"ok","uuid":"S1"})",
         false, nullptr},
        {"start reply with an empty uuid decodes", Kind::startReply,
         R"({"status":1,"message":"m","uuid":"","searchString":"abc"})", true,
         [](auto* start, auto*, auto*) {
             EXPECT_EQ(start->uuid, "");
             EXPECT_EQ(start->status, 1);
         }},
        {"start reply status as text", Kind::startReply,
         R"({"status":"0","message":"m","uuid":"S1","searchString":"abc"})", false, nullptr},
        {"isDone 1 is no boolean", Kind::pollReply, poll(R"(,"isDone":1)"), false, nullptr},
        {"placemarks missing: no list", Kind::pollReply, poll(R"(,"isDone":true)"), true,
         [](auto*, auto* reply, auto*) { EXPECT_FALSE(reply->placemarks.has_value()); }},
        {"placemarks null: no list", Kind::pollReply, poll(R"(,"placemarks":null,"isDone":true)"), true,
         [](auto*, auto* reply, auto*) { EXPECT_FALSE(reply->placemarks.has_value()); }},
        {"placemarks []: an empty list", Kind::pollReply, poll(R"(,"placemarks":[],"isDone":false)"), true,
         [](auto*, auto* reply, auto*) {
             ASSERT_TRUE(reply->placemarks.has_value());
             EXPECT_TRUE(reply->placemarks->empty());
         }},
        {"extra members are ignored", Kind::pollReply,
         poll(R"(,"placemarks":[)" + place + R"(],"isDone":false,"took":12,"debug":{"a":[1]})"), true,
         [](auto*, auto* reply, auto*) {
             ASSERT_EQ(reply->placemarks->size(), 1u);
             EXPECT_EQ(reply->placemarks->front().title, "Harbour");
             EXPECT_EQ(reply->hits, 2);
         }},
        {"one bad place fails the whole reply", Kind::pollReply,
         poll(R"(,"placemarks":[)" + place + R"(,{"title":"x"}],"isDone":true)"), false, nullptr},
        {"hits 3.0 is the integer 3", Kind::pollReply,
         R"({"status":0,"message":"","uuid":"S1","hits":3.0,"isDone":false})", true,
         [](auto*, auto* reply, auto*) { EXPECT_EQ(reply->hits, 3); }},
        {"hits 2.5 does not fit", Kind::pollReply,
         R"({"status":0,"message":"","uuid":"S1","hits":2.5,"isDone":false})", false, nullptr},
        {"a reply that is no object", Kind::pollReply, "[1,2]", false, nullptr},
        {"latitude as a string", Kind::placemark,
         R"({"title":"T","address":"A","datasource":"D","longitude":1.5,"latitude":"2.5"})", false, nullptr},
        {"title null", Kind::placemark,
         R"({"title":null,"address":"A","datasource":"D","longitude":1.5,"latitude":2.5})", false, nullptr},
        {"url null is absent", Kind::placemark,
         R"({"title":"T","address":"A","datasource":"D","longitude":1.5,"latitude":2.5,"url":null,)"
         R"("uniqueID":"u1","imageUrl":"https://img.test/1.jpg"})",
         true,
         [](auto*, auto*, auto* p) {
             EXPECT_FALSE(p->url.has_value());
             EXPECT_EQ(p->uniqueID, "u1");
             EXPECT_EQ(p->imageUrl, "https://img.test/1.jpg");
         }},
        {"no optionals: all absent, encoded again with the five required only", Kind::placemark, place, true,
         [](auto*, auto*, auto* p) {
             EXPECT_FALSE(p->uniqueID || p->url || p->imageUrl);
             EXPECT_EQ(QuovaPlacemarkCoding::encodeJSON(*p), kPlace);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<SearchRequestResult> start;
        std::optional<RetrieveRequestResult> reply;
        std::optional<QuovaPlacemark> place;
        try {
            switch (row.kind) {
                case Kind::startReply:
                    start = platform::JSONDecoder().decode<SearchRequestResult>(row.json);
                    break;
                case Kind::pollReply:
                    reply = platform::JSONDecoder().decode<RetrieveRequestResult>(row.json);
                    break;
                case Kind::placemark:
                    place = QuovaPlacemarkCoding::decodeJSON(row.json);
                    break;
            }
        } catch (const platform::DecodingError& error) {
            EXPECT_FALSE(row.decodes) << error.what();
            continue;
        }
        ASSERT_TRUE(row.decodes);
        if (row.check)
            row.check(start ? &*start : nullptr, reply ? &*reply : nullptr, place ? &*place : nullptr);
    }
}

TEST(SearchRecords, RepliesEncodeTheSameMembersAndReadBack) {
    RetrieveRequestResult reply{0, "ok", "S1", 1, std::nullopt, true};
    EXPECT_EQ(platform::JSONEncoder().encodeToString(reply),
              R"({"status":0,"message":"ok","uuid":"S1","hits":1,"isDone":true})");
    reply.placemarks = std::vector<QuovaPlacemark>{
        {"T", "A", "D", 1.5, -2.25, std::string("u"), std::nullopt, std::string("https://img.test/a.png")}};
    const auto text = platform::JSONEncoder().encodeToString(reply);
    EXPECT_EQ(platform::JSONDecoder().decode<RetrieveRequestResult>(text), reply);

    const SearchRequestResult start{7, "queued", "S-2", "café"};
    EXPECT_EQ(
        platform::JSONDecoder().decode<SearchRequestResult>(platform::JSONEncoder().encodeToString(start)),
        start);
}

TEST(SearchRecords, CodingKeysAreTheFieldNamesAndNothingElse) {
    EXPECT_EQ(SearchRequest::codingKeys.stringValue(SearchRequest::CodingKeys::prefLangs), "prefLangs");
    EXPECT_EQ(SearchRequest::codingKeys.key("startDate"), SearchRequest::CodingKeys::startDate);
    EXPECT_EQ(SearchRequest::codingKeys.key("StartDate"), std::nullopt);
    EXPECT_EQ(RetrieveRequestResult::codingKeys.key("isDone"), RetrieveRequestResult::CodingKeys::isDone);
    EXPECT_EQ(RetrieveRequestResult::codingKeys.key("is_done"), std::nullopt);
    EXPECT_EQ(SearchRequestResult::codingKeys.intValue(SearchRequestResult::CodingKeys::uuid), std::nullopt);
}

// Pins the language list and the locale for one test.
class PinnedLanguages {
  public:
    explicit PinnedLanguages(const char* languages) {
        if (const char* value = getenv("LANGUAGE")) saved_ = value;
        setenv("LANGUAGE", languages, 1);
        platform::text::Locale::setCurrentForTesting(platform::text::Locale("fi_FI"));
    }
    ~PinnedLanguages() {
        if (saved_) {
            setenv("LANGUAGE", saved_->c_str(), 1);
        } else {
            unsetenv("LANGUAGE");
        }
        platform::text::Locale::setCurrentForTesting(std::nullopt);
    }

  private:
    std::optional<std::string> saved_;
};

TEST(SearchRecords, RequestBodyIsTheTenFieldsInOrder) {
    PinnedLanguages languages("fi:sv_FI:en");
    // 2001-01-01 00:00:00 UTC plus 12.5 s.
    testsupport::VirtualClockScope time(978307200.0 + 12.5);
    const auto request = SearchRequest::make("Kemi harbour", {65.7364, 24.5637}, {65.75, 24.5});
    ASSERT_EQ(request.uuid.size(), 36u);
    for (char c : request.uuid)
        EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << request.uuid;
    EXPECT_NE(SearchRequest::make("Kemi harbour", {}, {}).uuid, request.uuid);

    const auto body = nlohmann::ordered_json::parse(platform::JSONEncoder().encodeToString(request));
    std::vector<std::string> keys;
    for (const auto& item : body.items()) keys.push_back(item.key());
    const std::vector<std::string> expectedKeys = {"searchString", "uuid",     "mapLon",    "mapLat",
                                                   "userLon",      "userLat",  "startDate", "searchProviders",
                                                   "locale",       "prefLangs"};
    EXPECT_EQ(keys, expectedKeys);
    EXPECT_EQ(body["searchString"], "Kemi harbour");
    EXPECT_EQ(body["mapLon"], 24.5637);
    EXPECT_EQ(body["mapLat"], 65.7364);
    EXPECT_EQ(body["userLon"], 24.5);
    EXPECT_EQ(body["userLat"], 65.75);
    EXPECT_EQ(body["startDate"], 12.5);
    EXPECT_EQ(body["searchProviders"], "all");
    EXPECT_EQ(body["locale"], "fi_FI");
    EXPECT_EQ(body["prefLangs"], (std::vector<std::string>{"fi", "sv-FI", "en"}));
    EXPECT_EQ(platform::JSONDecoder().decode<SearchRequest>(body.dump()), request);
}

TEST(SearchRecords, StartDateAtTheReferenceDateIsZero) {
    PinnedLanguages languages("en");
    testsupport::VirtualClockScope time(978307200.0);
    const auto body = nlohmann::json::parse(
        platform::JSONEncoder().encodeToString(SearchRequest::make("x", {0, 0}, {-180, -180})));
    EXPECT_TRUE(body["startDate"].is_number());
    EXPECT_EQ(body["startDate"].get<double>(), 0.0);
    // The "no position" coordinate goes out as it is, never as NaN.
    EXPECT_EQ(body["userLat"], -180.0);
}

TEST(SearchRecords, NonFiniteNumbersRefuseTheEncodingAndNeverCompareEqual) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    SearchRequest request;
    request.uuid = "U";
    request.mapLon = nan;
    EXPECT_THROW(platform::JSONEncoder().encodeToString(request), platform::EncodingError);
    EXPECT_NE(request, request);
    request.mapLon = 0;
    request.userLat = std::numeric_limits<double>::infinity();
    EXPECT_THROW(platform::JSONEncoder().encodeToString(request), platform::EncodingError);

    const QuovaPlacemark a{"T", "A", "D", nan, 1, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_NE(a, a);
    const QuovaPlacemark b{"T", "A", "D", 2, 1, std::nullopt, std::nullopt, std::string("https://i.test/1")};
    QuovaPlacemark c = b;
    EXPECT_EQ(b, c);
    c.imageUrl = "https://i.test/2";
    EXPECT_NE(b, c);
    EXPECT_THROW(QuovaPlacemarkCoding::encodeJSON(a), platform::EncodingError);
}

TEST(GeocoderPlacemark, AddressLinesJoinedWithCommaAndBlank) {
    struct Row {
        std::vector<std::string> lines;
        const char* address;
    };
    const Row rows[] = {
        {{"a", "b", "c"}, "a, b, c"},
        {{"a"}, "a"},
        {{"", "b"}, "b"},
        {{}, ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(joinedAddressLines(row.lines), row.address);
    }
}

TEST(GeocoderPlacemark, RecordOnlyWithNameLocationAndAddress) {
    platform::CLPlacemark full;
    full.name = "Kemi harbour";
    full.location = platform::CLLocation(65.7364, 24.5637);
    full.thoroughfare = "Satamatie";
    full.subThoroughfare = "1";
    full.postalCode = "94900";
    full.locality = "Kemi";
    full.country = "Finland";

    const auto record = makeQuovaPlacemark(full);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(*record, (QuovaPlacemark{"Kemi harbour", "Satamatie 1, 94900 Kemi, Finland", "Geocoder",
                                       24.5637, 65.7364, std::nullopt, std::nullopt, std::nullopt}));

    auto noName = full;
    noName.name.reset();
    auto noLocation = full;
    noLocation.location.reset();
    platform::CLPlacemark noAddress;
    noAddress.name = "Somewhere";
    noAddress.location = platform::CLLocation(1, 2);
    EXPECT_FALSE(makeQuovaPlacemark(noName));
    EXPECT_FALSE(makeQuovaPlacemark(noLocation));
    EXPECT_FALSE(makeQuovaPlacemark(noAddress));
    EXPECT_FALSE(formattedAddressLines(noAddress));
}

}  // namespace
}  // namespace tervolo::search
