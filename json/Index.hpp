#pragma once

#include <cstdint>

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
        i.offset_ = offset;
        return i;
    }
    // A place in `dictionary`, which must outlive the position; `end()` is past the end.
    static Index dictionary(const Dictionary* dictionary, Dictionary::const_iterator position) {
        Index i;
        i.kind_ = Kind::dictionary;
        i.dictionary_ = dictionary;
        i.position_ = position;
        return i;
    }
    static Index null() { return Index(); }

    Kind kind() const { return kind_; }
    int64_t arrayOffset() const { return offset_; }
    Dictionary::const_iterator dictionaryPosition() const { return position_; }
    const Dictionary* dictionaryOwner() const { return dictionary_; }

    friend bool operator==(const Index& a, const Index& b) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case Kind::array:
                return a.offset_ == b.offset_;
            case Kind::dictionary:
                return a.position_ == b.position_;
            case Kind::null:
                return true;
        }
        return false;
    }
    friend bool operator<(const Index& a, const Index& b) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case Kind::array:
                return a.offset_ < b.offset_;
            case Kind::dictionary: {
                // Iteration order is key order; past-the-end follows every member.
                if (a.position_ == b.position_ || a.position_ == a.dictionary_->end()) return false;
                if (b.position_ == b.dictionary_->end()) return true;
                return a.position_->first < b.position_->first;
            }
            case Kind::null:
                return false;
        }
        return false;
    }
    // For two positions of one value, which are all of one case: equal
    // exactly when they name the same place. Compares without branching on
    // the case, as a loop's end test does on every step (a position keeps
    // the other case's field at its default).
    bool samePlace(const Index& other) const {
        return (offset_ == other.offset_) & (position_ == other.position_);
    }
    friend bool operator<=(const Index& a, const Index& b) { return !(b < a); }
    friend bool operator>(const Index& a, const Index& b) { return b < a; }
    friend bool operator>=(const Index& a, const Index& b) { return !(a < b); }

  private:
    friend class JSON;
    // The next position of the same case, in place, for an iterator (which
    // is never stepped past the end; JSON::index(const Index&) guards that case).
    void advance() {
        if (kind_ == Kind::array)
            ++offset_;
        else if (kind_ == Kind::dictionary)
            ++position_;
    }

    Kind kind_ = Kind::null;
    int64_t offset_ = 0;
    const Dictionary* dictionary_ = nullptr;
    Dictionary::const_iterator position_{};
};

}  // namespace tervolo::json
