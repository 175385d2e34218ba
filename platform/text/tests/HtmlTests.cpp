#include "platform/text/Html.hpp"

#include <gtest/gtest.h>

namespace {

TEST(HtmlEscapedTest, ReplacesTheFiveMarkupCharactersAndKeepsTheRest) {
    struct Case {
        const char* text;
        const char* escaped;
    };
    const Case cases[] = {
        {"", ""},
        {"plain text", "plain text"},
        {"a & b", "a &amp; b"},
        {"<b>bold</b>", "&lt;b&gt;bold&lt;/b&gt;"},
        {"say \"hi\"", "say &quot;hi&quot;"},
        {"it's", "it&#39;s"},
        {"&amp;", "&amp;amp;"},
        {"https://x.invalid/?a=1&b=\"2\"", "https://x.invalid/?a=1&amp;b=&quot;2&quot;"},
        // UTF-8 bytes pass through untouched.
        {"\xE6\x9D\xB1\xE4\xBA\xAC <\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D>",
         "\xE6\x9D\xB1\xE4\xBA\xAC &lt;\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D&gt;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::text::htmlEscaped(c.text), c.escaped) << c.text;
    }
}

}  // namespace
