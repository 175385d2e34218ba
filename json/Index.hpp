#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "json/Any.hpp"

namespace tervolo::json {

// A position in a JSON value: an offset into its array, a place in its
// dictionary's iteration order, or the single position of a value without
// members. Positions of different cases are neither equal nor ordered by `<`.
class Index {
  public:
    enum class Kind { array, dictionary, null };

    Index() = default;  // null
    static Index array(int64_t offset) {
        Index i;
        i.kind_ = Kind::array;
        i.place_.offset = offset;
        return i;
    }
    // A place in `dictionary`, which must outlive the position; `end()` is past the end.
    static Index dictionary(const Dictionary* dictionary, Dictionary::const_iterator position) {
        Index i;
        i.kind_ = Kind::dictionary;
        i.dictionary_ = dictionary;
        i.place_.position = position;
        return i;
    }
    static Index null() { return Index(); }

    Kind kind() const { return kind_; }
    int64_t arrayOffset() const { return place_.offset; }
    Dictionary::const_iterator dictionaryPosition() const { return place_.position; }
    const Dictionary* dictionaryOwner() const { return dictionary_; }

    friend bool operator==(const Index& a, const Index& b) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case Kind::array:
                return a.place_.offset == b.place_.offset;
            case Kind::dictionary:
                return a.place_.position == b.place_.position;
            case Kind::null:
                return true;
        }
        return false;
    }
    friend bool operator<(const Index& a, const Index& b) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case Kind::array:
                return a.place_.offset < b.place_.offset;
            case Kind::dictionary: {
                // Iteration order is key order; past-the-end follows every member.
                if (a.place_.position == b.place_.position || a.place_.position == a.dictionary_->end())
                    return false;
                if (b.place_.position == b.dictionary_->end()) return true;
                return a.place_.position->first < b.place_.position->first;
            }
            case Kind::null:
                return false;
        }
        return false;
    }
    // For two positions of one value, which are all of one case: equal
    // exactly when they name the same place. Compares without branching on
    // the case, as a loop's end test does on every step.
    bool samePlace(const Index& other) const { return place() == other.place(); }
    friend bool operator<=(const Index& a, const Index& b) { return !(b < a); }
    friend bool operator>(const Index& a, const Index& b) { return b < a; }
    friend bool operator>=(const Index& a, const Index& b) { return !(a < b); }

  private:
    friend class JSON;
    // The next position of the same case, in place, for an iterator (which
    // is never stepped past the end; JSON::index(const Index&) guards that case).
    void advance() {
        if (kind_ == Kind::array)
            ++place_.offset;
        else if (kind_ == Kind::dictionary)
            ++place_.position;
    }

    // The offset or the place in the dictionary, whichever the case uses,
    // as one word: a loop over a value then keeps one word per end of its
    // range in registers and compares one.
    std::uint64_t place() const {
        std::uint64_t word;
        std::memcpy(&word, &place_, sizeof word);
        return word;
    }

    Kind kind_ = Kind::null;
    const Dictionary* dictionary_ = nullptr;
    // Only the case's member is set; a value without members keeps offset 0.
    union Place {
        Place() : offset(0) {}
        int64_t offset;
        Dictionary::const_iterator position;
    };
    static_assert(sizeof(Dictionary::const_iterator) == sizeof(int64_t) &&
                  std::is_trivially_copyable_v<Dictionary::const_iterator>);
    Place place_;
};

}  // namespace tervolo::json
