#include "platform/text/MeasurementFormatter.hpp"

#include <unicode/measunit.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace platform::text {
namespace {

using icu::number::LocalizedNumberFormatter;
using icu::number::NumberFormatter;
using icu::number::Precision;

constexpr double kMetresPerFoot = 0.3048;  // exact, by definition
constexpr double kMetresPerYard = 0.9144;
constexpr double kMetresPerMile = 1609.344;
constexpr double kKilometresPerMile = 1.609344;

UNumberUnitWidth widthOf(UnitStyle style) {
    switch (style) {
        case UnitStyle::Short:
            return UNUM_UNIT_WIDTH_NARROW;  // "35m", "115′"
        case UnitStyle::Long:
            return UNUM_UNIT_WIDTH_FULL_NAME;
        case UnitStyle::Medium:
        default:
            return UNUM_UNIT_WIDTH_SHORT;  // "12 km/h", "1.2 km"
    }
}

// Formatters are immutable once made and safe to share between threads;
// making one parses locale data, so they are kept per configuration.
using Key = std::tuple<std::string, std::string, int, int, UnitStyle>;

std::shared_ptr<const LocalizedNumberFormatter> formatterFor(const Key& key) {
    static std::mutex mutex;
    static std::map<Key, std::shared_ptr<const LocalizedNumberFormatter>> cache;
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    const auto& [localeID, unit, minDigits, maxDigits, style] = key;
    UErrorCode status = U_ZERO_ERROR;
    // Half-even is ICU's default too; it is set so the choice is visible here.
    auto settings = NumberFormatter::with()
                        .precision(Precision::minMaxFraction(minDigits, maxDigits))
                        .roundingMode(UNUM_ROUND_HALFEVEN)
                        .grouping(UNUM_GROUPING_AUTO);
    if (!unit.empty()) {
        icu::MeasureUnit measureUnit = icu::MeasureUnit::forIdentifier(unit.c_str(), status);
        if (U_FAILURE(status)) return nullptr;
        settings = settings.unit(measureUnit).unitWidth(widthOf(style));
    }
    auto formatter =
        std::make_shared<const LocalizedNumberFormatter>(settings.locale(icu::Locale(localeID.c_str())));
    cache.emplace(key, formatter);
    return formatter;
}

std::string format(double value, const std::string& unit, int minDigits, int maxDigits, UnitStyle style,
                   const Locale& locale) {
    if (minDigits < 0) minDigits = 0;
    if (maxDigits < minDigits) maxDigits = minDigits;
    auto formatter = formatterFor(Key{locale.identifier(), unit, minDigits, maxDigits, style});
    if (!formatter) return std::string();
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text = formatter->formatDouble(value, status).toString(status);
    if (U_FAILURE(status)) return std::string();
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

std::string formatNumber(double value, int minFractionDigits, int maxFractionDigits, const Locale& locale) {
    return format(value, std::string(), minFractionDigits, maxFractionDigits, UnitStyle::Medium, locale);
}

std::string formatMeasurement(double value, const std::string& unit, int minFractionDigits,
                              int maxFractionDigits, UnitStyle style, const Locale& locale) {
    if (unit.empty()) return std::string();
    return format(value, unit, minFractionDigits, maxFractionDigits, style, locale);
}

std::optional<std::string> formatDistance(double metres, const Locale& locale) {
    if (std::isnan(metres) || metres < 0) return std::nullopt;
    const MeasurementSystem system = locale.measurementSystem();
    if (metres < 1000) {
        // Natural scale below 1000 m: the locale system's small unit, whole
        // numbers (999.6 m gives "1,000 m", as the platform's formatter does).
        switch (system) {
            case MeasurementSystem::US:
                return format(metres / kMetresPerFoot, "foot", 0, 0, UnitStyle::Medium, locale);
            case MeasurementSystem::UK:
                return format(metres / kMetresPerYard, "yard", 0, 0, UnitStyle::Medium, locale);
            case MeasurementSystem::Metric:
            default:
                return format(metres, "meter", 0, 0, UnitStyle::Medium, locale);
        }
    }
    if (system == MeasurementSystem::Metric)
        return format(metres / 1000.0, "kilometer", 1, 1, UnitStyle::Medium, locale);
    return format(metres / kMetresPerMile, "mile", 1, 1, UnitStyle::Medium, locale);
}

std::string formatSpeed(double kilometresPerHour, const Locale& locale) {
    if (locale.usesMetricSystem()) {
        return format(kilometresPerHour, "kilometer-per-hour", 0, 0, UnitStyle::Medium, locale);
    }
    return format(kilometresPerHour / kKilometresPerMile, "mile-per-hour", 0, 0, UnitStyle::Medium, locale);
}

std::string formatAltitude(double metres, const Locale& locale) {
    if (locale.usesMetricSystem()) return format(metres, "meter", 0, 0, UnitStyle::Short, locale);
    return format(metres / kMetresPerFoot, "foot", 0, 0, UnitStyle::Short, locale);
}

}  // namespace platform::text
