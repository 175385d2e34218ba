#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::text {

// Units of measurement a locale prefers.
enum class MeasurementSystem {
    Metric,  // metres, kilometres, km/h
    US,      // feet, miles, mph
    UK,      // yards, miles, mph (road distances and speeds)
};

// A locale by its ICU/POSIX identifier ("de_DE", "en_US", "en_GB", "fr_CH").
// It decides number formatting (decimal and grouping separators) and the
// measurement system. A value type; tests pin it by passing one explicitly.
class Locale {
  public:
    // `identifier` in POSIX ("de_DE.UTF-8", "en_US@euro") or ICU form; the
    // encoding and modifier are dropped. "C", "POSIX" and "" mean "en_US_POSIX".
    explicit Locale(std::string identifier);
    // As above with the measurement system given instead of taken from the region.
    Locale(std::string identifier, MeasurementSystem system);

    // The user's locale: LC_ALL, else LANG (LC_NUMERIC is not consulted: it
    // formats numbers for C code, which the program avoids); the measurement
    // system from LC_MEASUREMENT's region when that is set, else from the
    // locale's region. Read again on every call, unless an override is set.
    static Locale current();
    // Pins current() for tests; none restores reading the environment.
    static void setCurrentForTesting(std::optional<Locale> locale);

    // The user's languages in preference order, as language tags with a
    // hyphen ("fi", "en-GB"): the list in LANGUAGE (entries separated by ":"),
    // else the language of LC_ALL, LC_MESSAGES or LANG, the first that is set.
    // Encodings and modifiers are dropped, "C" and "POSIX" entries skipped and
    // repeats kept only at their first place; never empty ("en" when nothing
    // names a language). Read again on every call.
    static std::vector<std::string> preferredLanguages();

    // ICU form, "de_DE".
    const std::string& identifier() const { return identifier_; }
    MeasurementSystem measurementSystem() const { return system_; }
    bool usesMetricSystem() const { return system_ == MeasurementSystem::Metric; }

    // "de_DE (fixed)"-style text for log lines, as the platform describes a
    // locale: the identifier followed by " (current)" or " (fixed)".
    std::string description() const;

    bool operator==(const Locale&) const = default;

  private:
    std::string identifier_;
    MeasurementSystem system_ = MeasurementSystem::Metric;
    bool current_ = false;
};

}  // namespace platform::text
