#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/incoming/IncomingLink.hpp"
#include "app/incoming/InstanceMessage.hpp"

namespace {

using tervolo::app::IncomingLink;
using tervolo::app::InstanceMessage;
using Outcome = IncomingLink::Analysis::Outcome;

// The web-link rules for the short-link host "s.example" and the product's
// web host "web.example": which links give a key, and which key.
TEST(IncomingLink, WebLinkRules) {
    struct Case {
        const char* link;
        Outcome outcome;
        const char* key;
    };
    const Case cases[] = {
        {"https://s.example/abcdefgh", Outcome::shortLinkKey, "abcdefgh"},
        {"http://s.example/abcdefgh", Outcome::shortLinkKey, "abcdefgh"},
        // Scheme and host compare without regard to case; the path keeps its case.
        {"HTTPS://S.Example/AbCdEfGh", Outcome::shortLinkKey, "AbCdEfGh"},
        {"https://s.example/abcdefg", Outcome::noKey, ""},
        {"https://s.example/abcdefghi", Outcome::noKey, ""},
        {"https://s.example/", Outcome::noKey, ""},
        {"https://s.example", Outcome::noKey, ""},
        {"https://s.example/shared-location/abcdefgh", Outcome::shortLinkKey, "abcdefgh"},
        {"https://s.example/x/shared-location/zz/abcdefgh", Outcome::shortLinkKey, "abcdefgh"},
        {"https://s.example/shared-location/", Outcome::shortLinkKey, "ocation/"},
        // Nine bytes holding a two-byte character: seven characters of key.
        {"https://s.example/\xC3\xA9"
         "123456",
         Outcome::shortLinkKey,
         "\xC3\xA9"
         "123456"},
        // The last eight characters, not bytes.
        {"https://s.example/shared-location/ab%C3%A9cdefgh", Outcome::shortLinkKey,
         "b\xC3\xA9"
         "cdefgh"},
        {"https://s.example/abcdefgh?x=1#f", Outcome::shortLinkKey, "abcdefgh"},
        // The path is read decoded.
        {"https://s.example/abc%2Fdefg", Outcome::shortLinkKey, "abc/defg"},
        {"https://s.example/shared-location/x/../../y%3F12345", Outcome::shortLinkKey, "/y?12345"},
        {"ftp://s.example/abcdefgh", Outcome::unknownScheme, ""},
        {"mailto:someone@s.example", Outcome::unknownScheme, ""},
        {"https://web.example/shared-location/abcdefgh", Outcome::productWebHost, ""},
        {"https://WEB.example/abcdefgh", Outcome::productWebHost, ""},
        {"https://other.example/abcdefgh", Outcome::unknownHost, ""},
        {"https://s.example.other/abcdefgh", Outcome::unknownHost, ""},
        {"https:///abcdefgh", Outcome::unknownHost, ""},
        {"https://[::1]/abcdefgh", Outcome::unknownHost, ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.link);
        const auto components = IncomingLink::split(test.link);
        ASSERT_TRUE(components.has_value());
        const auto analysis = IncomingLink::analyse(*components, "s.example", "Web.Example");
        EXPECT_EQ(analysis.outcome, test.outcome);
        EXPECT_EQ(analysis.key, test.key);
    }
}

// Text that is no URL, or a link over 2 KiB, is not split at all.
TEST(IncomingLink, RefusesWhatIsNoLink) {
    const std::string longLink = "https://s.example/" + std::string(IncomingLink::kMaximumLinkBytes, 'a');
    const std::string justFits =
        "https://s.example/" + std::string(IncomingLink::kMaximumLinkBytes - 18, 'a');
    for (const std::string& text : {std::string(), std::string("https://s.example/a b"), longLink,
                                    std::string("https://s.example/%zz"), std::string("http://a b/")}) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_FALSE(IncomingLink::split(text).has_value());
        EXPECT_FALSE(IncomingLink::userActivity(text).has_value());
    }
    EXPECT_TRUE(IncomingLink::split(justFits).has_value());
}

// The key becomes one path segment of the lookup, whatever it holds.
TEST(IncomingLink, LookupPathEncodesTheKeyAsOneSegment) {
    const std::pair<const char*, const char*> cases[] = {
        {"abcdefgh", "/apps/api/location/shorturl/abcdefgh"},
        {"abc/defg", "/apps/api/location/shorturl/abc%2Fdefg"},
        {"../x?y#z", "/apps/api/location/shorturl/..%2Fx%3Fy%23z"},
        {"a b%c", "/apps/api/location/shorturl/a%20b%25c"},
        {"\xC3\xA9-_.~", "/apps/api/location/shorturl/%C3%A9-_.~"},
    };
    for (const auto& [key, path] : cases) EXPECT_EQ(IncomingLink::lookupPath(key), path) << key;
}

// The program's own links and web links become activities; nothing else does.
TEST(IncomingLink, ActivitiesOfTheProgramsLinks) {
    struct Case {
        const char* link;
        const char* type;   // nullptr: no activity
        const char* value;  // web: the link; search index: the identifier
    };
    const char* web = tervolo::app::NSUserActivityTypeBrowsingWeb;
    const char* item = tervolo::app::kSearchableItemActivityType;
    const Case cases[] = {
        {"https://s.example/abcdefgh", web, "https://s.example/abcdefgh"},
        {"HTTP://s.example/abcdefgh", web, "HTTP://s.example/abcdefgh"},
        {"tervolo://point/7C0B3A1E-1111-4222-8333-444455556666", item,
         "7C0B3A1E-1111-4222-8333-444455556666"},
        {"TERVOLO://Point/a%20b", item, "a b"},
        {"tervolo://open?url=https%3A%2F%2Fs.example%2Fabcdefgh", web, "https://s.example/abcdefgh"},
        {"tervolo://open/?url=https%3A%2F%2Fs.example%2Fa%253Fb", web, "https://s.example/a%3Fb"},
        {"tervolo://point/", nullptr, ""},
        {"tervolo://point/a/b", nullptr, ""},
        {"tervolo://point/a?b=c", nullptr, ""},
        {"tervolo://point", nullptr, ""},
        {"tervolo://open", nullptr, ""},
        {"tervolo://open?url=", nullptr, ""},
        {"tervolo://open/x?url=https%3A%2F%2Fs.example%2Fabcdefgh", nullptr, ""},
        {"tervolo://other/abc", nullptr, ""},
        {"ftp://s.example/abcdefgh", nullptr, ""},
        {"file:///etc/passwd", nullptr, ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.link);
        const auto activity = IncomingLink::userActivity(test.link);
        if (test.type == nullptr) {
            EXPECT_FALSE(activity.has_value());
            continue;
        }
        ASSERT_TRUE(activity.has_value());
        EXPECT_EQ(activity->activityType, test.type);
        if (test.type == web) {
            EXPECT_EQ(activity->webpageURL, std::optional<std::string>(test.value));
            EXPECT_FALSE(activity->userInfo.has_value());
        } else {
            ASSERT_TRUE(activity->userInfo.has_value());
            EXPECT_EQ(activity->userInfo->at(tervolo::app::CSSearchableItemActivityIdentifier).asString(),
                      std::optional<std::string>(test.value));
        }
    }
}

// A message survives its trip in pieces of any size, links in their order.
TEST(InstanceMessage, RoundTripInAnyPieces) {
    const std::vector<std::string> links = {
        "https://s.example/abcdefgh", "tervolo://point/\xE5\x9C\xB0\xE7\x82\xB9", "tervolo://open?url=x"};
    const std::string frame = InstanceMessage{links}.encode();
    for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, frame.size()}) {
        SCOPED_TRACE(piece);
        InstanceMessage::Reader reader;
        for (size_t at = 0; at < frame.size(); at += piece) {
            EXPECT_EQ(reader.state(), InstanceMessage::Reader::State::incomplete);
            reader.append(std::string_view(frame).substr(at, piece));
        }
        ASSERT_EQ(reader.state(), InstanceMessage::Reader::State::complete) << reader.reason();
        EXPECT_EQ(reader.links(), links);
        // Nothing may follow the message.
        EXPECT_EQ(reader.append("x"), InstanceMessage::Reader::State::refused);
    }
    // Without links: only the window is wanted.
    InstanceMessage::Reader empty;
    EXPECT_EQ(empty.append(InstanceMessage{}.encode()), InstanceMessage::Reader::State::complete);
    EXPECT_TRUE(empty.links().empty());
    // Links that may not travel are left out by the sender.
    InstanceMessage::Reader filtered;
    filtered.append(InstanceMessage{{"a\nb", "", "ok:1", "\xFF", std::string(3000, 'x')}}.encode());
    EXPECT_EQ(filtered.links(), std::vector<std::string>{"ok:1"});
}

std::string frameOf(const std::string& payload) {
    std::string frame;
    const auto length = static_cast<uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((length >> shift) & 0xFF);
    return frame + payload;
}

// Hostile or broken frames are refused with a reason, never half taken.
TEST(InstanceMessage, RefusesMalformedFrames) {
    const std::string header = std::string(InstanceMessage::kHeaderLine) + "\n";
    std::string tooMany = header;
    for (size_t index = 0; index <= InstanceMessage::kMaximumLinks; ++index)
        tooMany += "a:" + std::to_string(index) + "\n";
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\x00\x01\x00\x01", 4), "too long"},
        {std::string("\xFF\xFF\xFF\xFF", 4), "too long"},
        {frameOf("TervoloNG links 1\nhttps://a/\n"), "unknown header"},
        {frameOf(""), "not ended by a line break"},
        {frameOf(header + "https://a/"), "not ended by a line break"},
        {frameOf(header + "https://a/\n\n"), "malformed link"},
        {frameOf(header + "https://a/\x01\n"), "malformed link"},
        {frameOf(header + "https://a/\xC3\n"), "malformed link"},
        {frameOf(header + "https://a/\xC2\x85\n"), "malformed link"},
        {frameOf(header + std::string(InstanceMessage::kMaximumLinkBytes + 1, 'a') + "\n"), "malformed link"},
        {frameOf(tooMany), "too many links"},
        {frameOf(header) + "extra", "bytes after the message"},
    };
    for (const auto& [bytes, reason] : cases) {
        SCOPED_TRACE(reason);
        InstanceMessage::Reader reader;
        EXPECT_EQ(reader.append(bytes), InstanceMessage::Reader::State::refused);
        EXPECT_EQ(reader.reason(), reason);
        EXPECT_TRUE(reader.links().empty());
    }
}

// The fuzz target's seeds are frames of the current header: those meant to
// be taken read back complete and are what the sender writes for their links
// (a seed of an older header would be refused at the first line and fuzz
// nothing past it); the hostile ones are refused for their own reason.
TEST(InstanceMessage, FuzzSeedsAreCurrentFrames) {
    const auto seed = [](const char* name) {
        std::ifstream file(std::string(TERVOLO_FUZZ_CORPUS) + "/app_instance_message/" + name,
                           std::ios::binary);
        EXPECT_TRUE(file.good()) << name;
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    std::vector<std::string> many;
    for (int index = 0; index < 64; ++index)
        many.push_back((index < 10 ? "tervolo://point/0" : "tervolo://point/") + std::to_string(index));
    const std::pair<const char*, std::vector<std::string>> taken[] = {
        {"empty", {}},
        {"links",
         {"https://s.example/abcdefgh", "tervolo://point/A", "https://s.example/shared-location/abcdefgh"}},
        {"unicode",
         {"https://s.example/shared-location/\xC3\xA4"
          "bcdefg\xC3\x9F",
          "tervolo://point/\xE7\x82\xB9"}},
        {"many", many},
    };
    for (const auto& [name, links] : taken) {
        SCOPED_TRACE(name);
        const std::string bytes = seed(name);
        InstanceMessage::Reader reader;
        EXPECT_EQ(reader.append(bytes), InstanceMessage::Reader::State::complete) << reader.reason();
        EXPECT_EQ(reader.links(), links);
        EXPECT_EQ(bytes, InstanceMessage{links}.encode());
    }
    const std::pair<const char*, const char*> refused[] = {
        {"control", "malformed link"},
        {"old_header", "unknown header"},
        {"oversized", "too long"},
        // The running program's outcome lines, which the target reads too.
        {"outcome_dropped", "too long"},
        {"outcome_taken", "too long"},
    };
    for (const auto& [name, reason] : refused) {
        SCOPED_TRACE(name);
        InstanceMessage::Reader reader;
        EXPECT_EQ(reader.append(seed(name)), InstanceMessage::Reader::State::refused);
        EXPECT_EQ(reader.reason(), reason);
    }
    EXPECT_EQ(InstanceMessage::droppedIn(seed("outcome_dropped")), 3u);
    EXPECT_EQ(InstanceMessage::droppedIn(seed("outcome_taken")), 0u);
}

}  // namespace
