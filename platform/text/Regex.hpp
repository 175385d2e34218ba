#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

// A compiled regular expression with ICU semantics, for the program's fixed
// patterns: `$` also matches before a line end that finishes the text ("51 S\n"
// ends in "S"), `\s` and `\w` are Unicode classes, `\A` and `\z` anchor the
// whole text. Offsets are UTF-8 byte offsets into the searched text. A compiled
// Regex is immutable and can be used from several threads at once.
class Regex {
  public:
    enum Options : unsigned {
        None = 0,
        CaseInsensitive = 1,    // full Unicode case-insensitive matching
        AnchorsMatchLines = 2,  // ^ and $ at every line start/end
        DotMatchesLineSeparators = 4,
    };

    // One match: the whole match is group 0. A group that took no part in the
    // match has no range.
    struct Match {
        struct Range {
            size_t location = 0;  // byte offset
            size_t length = 0;    // bytes
        };
        std::vector<std::optional<Range>> groups;
        std::vector<std::optional<std::string>> texts;

        const Range& range() const { return *groups.at(0); }
        // The text of group n, or none when it did not take part.
        const std::optional<std::string>& group(size_t n) const { return texts.at(n); }
    };

    // None when the pattern does not compile; the ICU error name goes to
    // `error` when given.
    static std::optional<Regex> compile(std::string_view pattern, unsigned options = None,
                                        std::string* error = nullptr);

    // Number of capture groups (not counting group 0).
    size_t groupCount() const;

    std::optional<Match> firstMatch(std::string_view text) const;
    std::vector<Match> matches(std::string_view text) const;
    bool contains(std::string_view text) const { return firstMatch(text).has_value(); }
    // True when the pattern matches the whole text.
    bool matchesEntirely(std::string_view text) const;
    size_t numberOfMatches(std::string_view text) const { return matches(text).size(); }
    // Every match replaced by `replacement`, where "$1" stands for group 1.
    std::string replacingMatches(std::string_view text, std::string_view replacement) const;

    const std::string& pattern() const;

    struct Compiled;  // the ICU pattern (opaque)

  private:
    explicit Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform::text
