#include "platform/text/Locale.hpp"

#include <unicode/uloc.h>
#include <unicode/ulocdata.h>

#include <cstdlib>
#include <mutex>

namespace platform::text {
namespace {

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

MeasurementSystem systemOf(const std::string& identifier) {
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

Locale::Locale(std::string identifier) : identifier_(icuIdentifier(std::move(identifier))) {
    system_ = systemOf(identifier_);
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
        locale.system_ = systemOf(icuIdentifier(measurement));
    }
    locale.current_ = true;
    return locale;
}

void Locale::setCurrentForTesting(std::optional<Locale> locale) {
    std::lock_guard lock(overrideMutex);
    overrideLocale() = std::move(locale);
}

std::string Locale::description() const {
    return identifier_ + (current_ ? " (current)" : " (fixed)");
}

}  // namespace platform::text
