#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "json/JSON.hpp"

namespace tervolo::json::testing {

// Strict agreement of one of our platform values with an nlohmann value:
// same structure, texts byte for byte, integers as integers (signed or
// unsigned alike) and floating values as floating values.
// With `byValue`, integers and floating values compare by value instead (a
// printed 3.0 reads back as the integer 3).
inline ::testing::AssertionResult sameValue(const Any& ours, const nlohmann::json& theirs,
                                            const std::string& where = "$", bool byValue = false) {
    auto fail = [&](const std::string& why) {
        return ::testing::AssertionFailure() << where << ": " << why << " (oracle " << theirs.dump() << ")";
    };
    switch (ours.kind()) {
        case Any::Kind::null:
            return theirs.is_null() ? ::testing::AssertionSuccess() : fail("null");
        case Any::Kind::number: {
            const Number& n = *ours.number();
            if (byValue && n.kind() != Number::Kind::boolean) {
                if (!theirs.is_number()) return fail("number");
                Number other = theirs.is_number_float()      ? Number::fromDouble(theirs.get<double>())
                               : theirs.is_number_unsigned() ? Number::fromUInt64(theirs.get<uint64_t>())
                                                             : Number::fromInt64(theirs.get<int64_t>());
                if (n.compare(other) != Number::Order::same) return fail("number value " + n.stringValue());
            } else if (n.kind() == Number::Kind::boolean) {
                if (!theirs.is_boolean() || theirs.get<bool>() != n.boolValue()) return fail("boolean");
            } else if (n.isFloatingPoint()) {
                if (!theirs.is_number_float()) return fail("float class");
                double d = theirs.get<double>();
                if (!(d == n.doubleValue())) return fail("float value " + n.stringValue());
            } else if (n.isUnsignedInteger()) {
                if (!theirs.is_number_integer()) return fail("integer class");
                if (theirs.is_number_unsigned()
                        ? theirs.get<uint64_t>() != n.unsignedLongLongValue()
                        : theirs.get<int64_t>() < 0 ||
                              static_cast<uint64_t>(theirs.get<int64_t>()) != n.unsignedLongLongValue())
                    return fail("unsigned value " + n.stringValue());
            } else {
                if (!theirs.is_number_integer()) return fail("integer class");
                if (theirs.is_number_unsigned()
                        ? n.longLongValue() < 0 ||
                              static_cast<uint64_t>(n.longLongValue()) != theirs.get<uint64_t>()
                        : theirs.get<int64_t>() != n.longLongValue())
                    return fail("integer value " + n.stringValue());
            }
            return ::testing::AssertionSuccess();
        }
        case Any::Kind::string:
            if (!theirs.is_string() || theirs.get<std::string>() != *ours.string()) return fail("string");
            return ::testing::AssertionSuccess();
        case Any::Kind::array: {
            if (!theirs.is_array() || theirs.size() != ours.array()->size()) return fail("array");
            for (size_t i = 0; i < theirs.size(); ++i) {
                auto r =
                    sameValue((*ours.array())[i], theirs[i], where + "[" + std::to_string(i) + "]", byValue);
                if (!r) return r;
            }
            return ::testing::AssertionSuccess();
        }
        case Any::Kind::dictionary: {
            if (!theirs.is_object() || theirs.size() != ours.dictionary()->size()) return fail("dictionary");
            for (const auto& [key, value] : *ours.dictionary()) {
                if (!theirs.contains(key)) return fail("missing key " + key);
                auto r = sameValue(value, theirs.at(key), where + "." + key, byValue);
                if (!r) return r;
            }
            return ::testing::AssertionSuccess();
        }
        default:
            return fail("not a JSON kind");
    }
}

// A random JSON document: nested containers, texts with escapes, control
// characters and non-ASCII (including astral) characters, integers across the
// whole 64-bit ranges and doubles of all magnitudes.
class RandomDocuments {
  public:
    explicit RandomDocuments(uint32_t seed) : rng_(seed) {}

    nlohmann::json next(int depth = 0) {
        int pick = pickBelow(depth >= 4 ? 6 : 8);
        switch (pick) {
            case 0:
                return nullptr;
            case 1:
                return pickBelow(2) == 1;
            case 2:
                return static_cast<int64_t>(rng_());
            case 3:
                return nextInteger();
            case 4:
                return nextDouble();
            case 5:
                return nextString();
            case 6: {
                nlohmann::json a = nlohmann::json::array();
                int n = pickBelow(6);
                for (int i = 0; i < n; ++i) a.push_back(next(depth + 1));
                return a;
            }
            default: {
                nlohmann::json o = nlohmann::json::object();
                int n = pickBelow(6);
                for (int i = 0; i < n; ++i) o[nextString()] = next(depth + 1);
                return o;
            }
        }
    }

    std::string nextString() {
        static const char* pieces[] = {"a",
                                       "key",
                                       "\"",
                                       "\\",
                                       "/",
                                       "\b",
                                       "\f",
                                       "\n",
                                       "\r",
                                       "\t",
                                       "\x01",
                                       "\x1f",
                                       " ",
                                       "é",
                                       "e\xCC\x81",
                                       "\xE2\x80\xA8",
                                       "\xF0\x9F\x98\x80",
                                       "日本",
                                       "\x7f",
                                       "0"};
        std::string s;
        int n = pickBelow(8);
        for (int i = 0; i < n; ++i) s += pieces[pickBelow(sizeof pieces / sizeof *pieces)];
        return s;
    }

    nlohmann::json nextInteger() {
        switch (pickBelow(4)) {
            case 0:
                return std::numeric_limits<int64_t>::min() + static_cast<int64_t>(pickBelow(3));
            case 1:
                return std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(pickBelow(3));
            case 2:
                return (uint64_t{1} << 63) + static_cast<uint64_t>(pickBelow(1000));
            default:
                return static_cast<int64_t>(pickBelow(2000)) - 1000;
        }
    }

    double nextDouble() {
        std::uniform_real_distribution<double> mantissa(-1, 1);
        std::uniform_int_distribution<int> exponent(-320, 300);
        double d = std::ldexp(mantissa(rng_), exponent(rng_) / 1);
        return pickBelow(4) == 0 ? std::round(d * 100) / 100 : d * std::pow(10.0, pickBelow(5));
    }

    int pickBelow(size_t n) { return static_cast<int>(rng_() % n); }

  private:
    std::mt19937 rng_;
};

}  // namespace tervolo::json::testing
