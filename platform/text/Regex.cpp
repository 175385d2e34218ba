#include "platform/text/Regex.hpp"

#include <unicode/uregex.h>
#include <unicode/utext.h>

#include "platform/text/detail/ICU.hpp"

namespace platform::text {

struct Regex::Compiled {
    std::string pattern;
    URegularExpression* regex = nullptr;  // the master copy; only ever cloned
    size_t groupCount = 0;
    ~Compiled() {
        if (regex != nullptr) uregex_close(regex);
    }
};

namespace {

struct RegexCloser {
    void operator()(URegularExpression* r) const { uregex_close(r); }
};
struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};
using RegexPtr = std::unique_ptr<URegularExpression, RegexCloser>;
using UTextPtr = std::unique_ptr<UText, UTextCloser>;

// A matcher over `text`: ICU regex objects hold match state, so every search
// works on its own clone of the compiled pattern (which is safe to clone from
// several threads). The UText reads the UTF-8 bytes in place, and its native
// indexes are byte offsets.
struct Matcher {
    RegexPtr regex;
    UTextPtr utext;
};

Matcher makeMatcher(const URegularExpression* compiled, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    Matcher m;
    m.regex.reset(uregex_clone(compiled, &status));
    if (U_FAILURE(status)) detail::failICU("regex clone", status);
    // An empty view may have a null data pointer, which utext_openUTF8 refuses.
    static const char empty = '\0';
    m.utext.reset(utext_openUTF8(nullptr, text.empty() ? &empty : text.data(),
                                 static_cast<int64_t>(text.size()), &status));
    if (U_FAILURE(status)) detail::failICU("regex text", status);
    uregex_setUText(m.regex.get(), m.utext.get(), &status);
    if (U_FAILURE(status)) detail::failICU("regex set text", status);
    return m;
}

Regex::Match currentMatch(URegularExpression* regex, std::string_view text, size_t groupCount) {
    Regex::Match match;
    match.groups.resize(groupCount + 1);
    match.texts.resize(groupCount + 1);
    for (size_t g = 0; g <= groupCount; ++g) {
        UErrorCode status = U_ZERO_ERROR;
        const int64_t start = uregex_start64(regex, static_cast<int32_t>(g), &status);
        const int64_t end = uregex_end64(regex, static_cast<int32_t>(g), &status);
        if (U_FAILURE(status) || start < 0 || end < start) continue;
        Regex::Match::Range range{static_cast<size_t>(start), static_cast<size_t>(end - start)};
        match.groups[g] = range;
        match.texts[g] = std::string(text.substr(range.location, range.length));
    }
    return match;
}

}  // namespace

std::optional<Regex> Regex::compile(std::string_view pattern, unsigned options, std::string* error) {
    uint32_t flags = 0;
    if (options & CaseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options & AnchorsMatchLines) flags |= UREGEX_MULTILINE;
    if (options & DotMatchesLineSeparators) flags |= UREGEX_DOTALL;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const std::u16string pattern16 = detail::toUTF16(pattern);
    URegularExpression* regex =
        uregex_open(pattern16.data(), static_cast<int32_t>(pattern16.size()), flags, &parseError, &status);
    if (U_FAILURE(status)) {
        if (regex != nullptr) uregex_close(regex);
        if (error != nullptr) *error = u_errorName(status);
        return std::nullopt;
    }
    auto compiled = std::make_shared<Compiled>();
    compiled->pattern = std::string(pattern);
    compiled->regex = regex;
    const int32_t groups = uregex_groupCount(regex, &status);
    compiled->groupCount = groups > 0 ? static_cast<size_t>(groups) : 0;
    return Regex(std::move(compiled));
}

size_t Regex::groupCount() const {
    return compiled_->groupCount;
}

const std::string& Regex::pattern() const {
    return compiled_->pattern;
}

std::optional<Regex::Match> Regex::firstMatch(std::string_view text) const {
    Matcher m = makeMatcher(compiled_->regex, text);
    UErrorCode status = U_ZERO_ERROR;
    if (!uregex_findNext(m.regex.get(), &status) || U_FAILURE(status)) return std::nullopt;
    return currentMatch(m.regex.get(), text, compiled_->groupCount);
}

std::vector<Regex::Match> Regex::matches(std::string_view text) const {
    std::vector<Match> out;
    Matcher m = makeMatcher(compiled_->regex, text);
    UErrorCode status = U_ZERO_ERROR;
    // findNext steps past empty matches itself, so this loop ends.
    while (uregex_findNext(m.regex.get(), &status) && U_SUCCESS(status)) {
        out.push_back(currentMatch(m.regex.get(), text, compiled_->groupCount));
    }
    return out;
}

bool Regex::matchesEntirely(std::string_view text) const {
    Matcher m = makeMatcher(compiled_->regex, text);
    UErrorCode status = U_ZERO_ERROR;
    const bool result = uregex_matches64(m.regex.get(), 0, &status);
    return U_SUCCESS(status) && result;
}

std::string Regex::replacingMatches(std::string_view text, std::string_view replacement) const {
    std::string out;
    size_t copied = 0;
    for (const Match& match : matches(text)) {
        const Match::Range& range = match.range();
        out.append(text.substr(copied, range.location - copied));
        // "$n" inserts group n (as many digits as name an existing group),
        // "\x" inserts x literally.
        for (size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            if (c == '\\' && i + 1 < replacement.size()) {
                out.push_back(replacement[++i]);
            } else if (c == '$' && i + 1 < replacement.size() && replacement[i + 1] >= '0' &&
                       replacement[i + 1] <= '9') {
                size_t group = 0;
                size_t j = i + 1;
                while (j < replacement.size() && replacement[j] >= '0' && replacement[j] <= '9') {
                    const size_t next = group * 10 + static_cast<size_t>(replacement[j] - '0');
                    if (next > compiled_->groupCount && j > i + 1) break;
                    group = next;
                    ++j;
                }
                if (group <= compiled_->groupCount && match.group(group)) out += *match.group(group);
                i = j - 1;
            } else {
                out.push_back(c);
            }
        }
        copied = range.location + range.length;
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace platform::text
