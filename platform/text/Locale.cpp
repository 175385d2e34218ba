#include "platform/text/Locale.hpp"

#include <unicode/uloc.h>
#include <unicode/ulocdata.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace platform::text {
namespace {

// "C", "POSIX" and "" (with or without an encoding: "C.UTF-8"), the locale of no country: it formats
// like en_US_POSIX but measures in metric units, as the C locale does.
bool isPosixLocale(std::string identifier) {
    const size_t cut = identifier.find_first_of(".@");
    if (cut != std::string::npos) identifier.resize(cut);
    return identifier.empty() || identifier == "C" || identifier == "POSIX";
}

// "de_DE.UTF-8@euro" → "de_DE"; "C"/"POSIX"/"" → "en_US_POSIX".
std::string icuIdentifier(std::string identifier) {
    const size_t cut = identifier.find_first_of(".@");
    if (cut != std::string::npos) identifier.resize(cut);
    if (identifier.empty() || identifier == "C" || identifier == "POSIX") return "en_US_POSIX";
    for (char& c : identifier) {
        if (c == '-') c = '_';
    }
    return identifier;
}

// The units of a locale as the user names it: the C/POSIX locale measures in metres (its
// LC_MEASUREMENT is metric), although ICU treats its stand-in en_US_POSIX as American.
MeasurementSystem systemOf(const std::string& name) {
    if (isPosixLocale(name)) return MeasurementSystem::Metric;
    const std::string identifier = icuIdentifier(name);
    UErrorCode status = U_ZERO_ERROR;
    const UMeasurementSystem system = ulocdata_getMeasurementSystem(identifier.c_str(), &status);
    if (U_FAILURE(status)) return MeasurementSystem::Metric;
    switch (system) {
        case UMS_US:
            return MeasurementSystem::US;
        case UMS_UK:
            return MeasurementSystem::UK;
        default:
            return MeasurementSystem::Metric;
    }
}

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

std::mutex overrideMutex;
std::optional<Locale>& overrideLocale() {
    static std::optional<Locale> locale;
    return locale;
}

}  // namespace

Locale::Locale(std::string identifier) : identifier_(icuIdentifier(identifier)) {
    system_ = systemOf(identifier);
}

Locale::Locale(std::string identifier, MeasurementSystem system)
    : identifier_(icuIdentifier(std::move(identifier))), system_(system) {}

Locale Locale::current() {
    {
        std::lock_guard lock(overrideMutex);
        if (overrideLocale()) return *overrideLocale();
    }
    const char* name = environment("LC_ALL");
    if (name == nullptr) name = environment("LANG");
    Locale locale(name != nullptr ? name : "");
    const char* measurement = environment("LC_MEASUREMENT");
    if (environment("LC_ALL") == nullptr && measurement != nullptr) {
        locale.system_ = systemOf(measurement);
    }
    locale.current_ = true;
    return locale;
}

std::vector<std::string> Locale::preferredLanguages() {
    // "en_GB.UTF-8@euro" → "en-GB"; nothing for "C", "POSIX" and empty entries.
    auto languageTag = [](std::string_view entry) -> std::optional<std::string> {
        entry = entry.substr(0, entry.find_first_of(".@"));
        if (entry.empty() || entry == "C" || entry == "POSIX") return std::nullopt;
        std::string tag(entry);
        std::replace(tag.begin(), tag.end(), '_', '-');
        return tag;
    };
    std::vector<std::string> languages;
    auto add = [&](std::string_view entry) {
        auto tag = languageTag(entry);
        if (tag && std::find(languages.begin(), languages.end(), *tag) == languages.end()) {
            languages.push_back(std::move(*tag));
        }
    };
    if (const char* list = environment("LANGUAGE")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const size_t colon = rest.find(':');
            add(rest.substr(0, colon));
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (languages.empty()) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            if (const char* value = environment(name)) {
                add(value);
                break;
            }
        }
    }
    if (languages.empty()) languages.push_back("en");
    return languages;
}

void Locale::setCurrentForTesting(std::optional<Locale> locale) {
    std::lock_guard lock(overrideMutex);
    overrideLocale() = std::move(locale);
}

std::string Locale::description() const {
    return identifier_ + (current_ ? " (current)" : " (fixed)");
}

}  // namespace platform::text
