#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/text/Locale.hpp"

namespace platform::text {
namespace {

// Sets the four locale variables for one case and puts the old values back.
class LocaleEnvironment {
  public:
    LocaleEnvironment() {
        for (size_t i = 0; i < kNames.size(); ++i) {
            const char* value = getenv(kNames[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~LocaleEnvironment() {
        for (size_t i = 0; i < kNames.size(); ++i) set(kNames[i], saved_[i]);
    }
    static void set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    static constexpr std::array<const char*, 4> kNames = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

  private:
    std::array<std::optional<std::string>, 4> saved_;
};

TEST(PreferredLanguages, ListFromLanguageElseFromTheLocaleInOrder) {
    struct Row {
        const char* name;
        std::optional<std::string> language, lcAll, lcMessages, lang;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"LANGUAGE list in order",
         "fi:en_GB:de",
         "de_DE.UTF-8",
         std::nullopt,
         std::nullopt,
         {"fi", "en-GB", "de"}},
        {"repeats and C entries dropped",
         "fi::C:fi_FI.UTF-8@euro:fi",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"fi", "fi-FI"}},
        {"empty LANGUAGE falls back to LC_ALL", "", "de_AT.UTF-8", "fr_FR", "sv_SE", {"de-AT"}},
        {"LC_MESSAGES before LANG", std::nullopt, std::nullopt, "fr_CH.UTF-8", "sv_SE.UTF-8", {"fr-CH"}},
        {"LANG alone", std::nullopt, std::nullopt, std::nullopt, "sv_SE.UTF-8", {"sv-SE"}},
        {"LANGUAGE naming only C", "C", std::nullopt, std::nullopt, "nb_NO", {"nb-NO"}},
        {"C locale names no language", std::nullopt, "C", std::nullopt, "de_DE", {"en"}},
        {"nothing set", std::nullopt, std::nullopt, std::nullopt, std::nullopt, {"en"}},
    };
    LocaleEnvironment restore;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LocaleEnvironment::set("LANGUAGE", row.language);
        LocaleEnvironment::set("LC_ALL", row.lcAll);
        LocaleEnvironment::set("LC_MESSAGES", row.lcMessages);
        LocaleEnvironment::set("LANG", row.lang);
        EXPECT_EQ(Locale::preferredLanguages(), row.expected);
    }
}

}  // namespace
}  // namespace platform::text
