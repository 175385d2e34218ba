#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/Any.hpp"
#include "json/Decoder.hpp"
#include "json/Encoder.hpp"
#include "json/Index.hpp"
#include "json/JSONSerialization.hpp"
#include "json/JSONSubscriptType.hpp"
#include "json/JSONValueError.hpp"
#include "json/Number.hpp"
#include "json/Type.hpp"
#include "json/URL.hpp"
#include "json/WritingOptionsKeys.hpp"

namespace tervolo::json {

// One dynamically typed JSON value: a number, text, boolean, array,
// dictionary, null, or an unsupported object (kind `unknown`). Failed reads do
// not throw; they give the null value with `error()` set, and later reads pass
// that error on.
//
// A value type: copies are independent. Containers and texts are shared
// between copies and copied only when a shared one is changed, so copying a
// value or wrapping one of its elements is O(1), and changing a uniquely owned
// value in place (path writes, merging) never copies its containers.
//
// Not synchronised: a value must not be changed by one thread while another
// uses it; copies may go to other threads.
class JSON {
  public:
    // ---- construction ------------------------------------------------------

    // Any platform value. Raw bytes are parsed as JSON text (null, without an
    // error, when they are not JSON); anything else is taken as the value.
    JSON(const Any& object) : value_(object) { adopt(); }
    // Literals.
    JSON(const char* text) : JSON(Any(text)) {}
    JSON(std::string text) : JSON(Any(std::move(text))) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) JSON(T value) : JSON(Any(literalNumber(value))) {}
    JSON(bool value) : JSON(Any(value)) {}
    JSON(double value) : JSON(Any(value)) {}
    static JSON arrayLiteral(std::initializer_list<Any> elements);
    // Pairs folded in order: a later pair with an equal key replaces the earlier value.
    static JSON dictionaryLiteral(std::initializer_list<std::pair<std::string, Any>> elements);

    // Parses the bytes; throws the parser's JSONParseError when they are not JSON.
    JSON(const Data& data, ReadingOptions options);
    // Text that is not valid JSON gives the null value without an error.
    static JSON parseJSON(std::string_view text);

    // The null value (kind null, no error); the two are the same.
    static JSON null();
    static JSON nullJSON() { return null(); }

    // Absent when the object is of no JSON kind.
    static std::optional<JSON> fromRawValue(const Any& object);
    Any rawValue() const { return object(); }

    JSON(const JSON& other) noexcept;
    // A value moved from is the null value.
    JSON(JSON&& other) noexcept : type_(other.type_), errorSlot_(other.errorSlot_) {
        if (other.borrowed_) {
            // A borrowed object is not the other's to give: this value counts
            // its own, and the other lets go of it uncounted.
            value_ = other.value_;
            other.value_.forget();
            other.borrowed_ = false;
        } else {
            value_ = std::move(other.value_);
        }
        other.type_ = Type::null;
        other.errorSlot_ = 0;
    }
    JSON& operator=(const JSON& other) noexcept {
        JSON copy(other);
        swap(copy);
        return *this;
    }
    JSON& operator=(JSON&& other) noexcept {
        JSON moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~JSON() {
        if (borrowed_) value_.forget();
    }

    // ---- kind, error, object ------------------------------------------------

    Type type() const { return type_; }
    const std::optional<JSONValueError>& error() const { return errors()[errorSlot_]; }
    // By kind: the number, text, boolean, array or dictionary; the null
    // marker for null and unknown. The value's own object: reading it (a
    // text in place, say) costs nothing; copy it to keep it beyond the value.
    const Any& object() const { return value_; }
    // Clears the error, stores JSON values nested in the object as their
    // plain objects, then classifies it; an unsupported object (bytes
    // included) makes the value unknown with error unsupportedType.
    void setObject(const Any& object);

    // ---- positions and collection -------------------------------------------

    class ElementKey;
    struct Element;
    class Iterator;
    class Slice;

    Index startIndex() const;
    Index endIndex() const;
    Index index(const Index& after) const;
    void formIndex(Index& after) const { after = index(after); }
    // `offsetBy` must not be negative.
    Index index(const Index& i, ptrdiff_t offsetBy) const;
    std::optional<Index> index(const Index& i, ptrdiff_t offsetBy, const Index& limitedBy) const;
    ptrdiff_t distance(const Index& from, const Index& to) const;
    // The element at a position: ("0", element 0) in an array, (key, value) in
    // a dictionary, ("", null) at the null position. The position must be valid.
    std::pair<std::string, JSON> operator[](const Index& position) const;
    Slice operator[](std::pair<Index, Index> range) const;
    bool isEmpty() const;
    size_t count() const;
    size_t underestimatedCount() const { return count(); }
    std::vector<Index> indices() const;
    Iterator begin() const;
    Iterator end() const;
    Iterator makeIterator() const;

    // ---- subscripts -----------------------------------------------------------

    // Reads never fail: a step that cannot be taken gives the null value with
    // wrongType, indexOutOfBounds or notExist (or the error the value already
    // carried), and later steps pass it on.
    JSON operator[](const JSONSubscriptType& step) const;
    JSON operator[](std::initializer_list<JSONSubscriptType> path) const;
    JSON operator[](const std::vector<JSONSubscriptType>& path) const;

    // Writes change the value in place where every step exists and are ignored
    // otherwise: a missing key is added only at the last step, arrays never
    // grow, containers are never created on the way.
    void set(const JSONSubscriptType& step, const JSON& newValue);
    void set(std::initializer_list<JSONSubscriptType> path, const JSON& newValue);
    void set(const std::vector<JSONSubscriptType>& path, const JSON& newValue);
    // Reads the value at the path, lets `change` edit it, writes it back.
    void modify(const std::vector<JSONSubscriptType>& path, const std::function<void(JSON&)>& change);

    // ---- typed accessors --------------------------------------------------------
    // Optional forms are absent unless the kind fits; `...Value` forms coerce
    // and fall back to a default. Every setter replaces the whole value and
    // clears the error; an absent optional stores null. Names that are C++
    // keywords take the `opt` prefix (`optInt`, `optBool`, `optDouble`,
    // `optFloat`, `optNull`).

    std::optional<std::vector<JSON>> array() const;
    std::vector<JSON> arrayValue() const;
    std::optional<Array> arrayObject() const;
    void setArrayObject(std::optional<Array> value);

    std::optional<std::map<std::string, JSON>> dictionary() const;
    std::map<std::string, JSON> dictionaryValue() const;
    std::optional<Dictionary> dictionaryObject() const;
    void setDictionaryObject(std::optional<Dictionary> value);

    std::optional<bool> optBool() const;
    void setOptBool(std::optional<bool> value);
    // true for a "true", "y", "t", "yes" or "1" text (any case), a non-zero number.
    bool boolValue() const;
    void setBoolValue(bool value);

    std::optional<std::string> string() const;
    void setString(std::optional<std::string> value);
    std::string stringValue() const;
    void setStringValue(std::string value);

    // A boolean reads as the integer 1 or 0.
    std::optional<Number> number() const;
    void setNumber(std::optional<Number> value);
    // A text is read as a decimal number (0 when it is none); others give 0.0.
    Number numberValue() const;
    void setNumberValue(Number value);

    std::optional<Null> optNull() const;
    void setOptNull(std::optional<Null> value = std::nullopt);  // always stores null

    // A text with no percent escape in it is first percent-encoded for a URL query.
    std::optional<URL> url() const;
    void setURL(std::optional<URL> value);

#define TERVOLO_JSON_NUMERIC_ACCESSORS(opt, value, setOpt, setValue, T) \
    std::optional<T> opt() const;                                       \
    void setOpt(std::optional<T> v);                                    \
    T value() const;                                                    \
    void setValue(T v);
    std::optional<double> optDouble() const;
    void setOptDouble(std::optional<double> v);
    double doubleValue() const {
        return type_ == Type::number ? numberCell().doubleValue() : numberValue().doubleValue();
    }
    void setDoubleValue(double v);
    TERVOLO_JSON_NUMERIC_ACCESSORS(optFloat, floatValue, setOptFloat, setFloatValue, float)
    TERVOLO_JSON_NUMERIC_ACCESSORS(optInt, intValue, setOptInt, setIntValue, int64_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(uInt, uIntValue, setUInt, setUIntValue, uint64_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(int8, int8Value, setInt8, setInt8Value, int8_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(uInt8, uInt8Value, setUInt8, setUInt8Value, uint8_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(int16, int16Value, setInt16, setInt16Value, int16_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(uInt16, uInt16Value, setUInt16, setUInt16Value, uint16_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(int32, int32Value, setInt32, setInt32Value, int32_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(uInt32, uInt32Value, setUInt32, setUInt32Value, uint32_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(int64, int64Value, setInt64, setInt64Value, int64_t)
    TERVOLO_JSON_NUMERIC_ACCESSORS(uInt64, uInt64Value, setUInt64, setUInt64Value, uint64_t)
#undef TERVOLO_JSON_NUMERIC_ACCESSORS

    // False exactly when an error is set.
    bool exists() const {
        return errorSlot_ == 0;
    }

    // ---- printing -------------------------------------------------------------

    // The serialiser's bytes for an array or dictionary; throws invalidJSON for
    // anything else or for content that is no JSON (bytes, unsupported
    // objects, non-finite numbers, invalid UTF-8).
    Data rawData(WritingOptions options = WritingOptions::prettyPrinted) const;
    // A text prints as itself (no quotes), a number as its decimal text,
    // booleans and null as their words; containers through the serialiser, or
    // with castNilToNSNull through the library's own compact printer with a
    // depth budget. Absent when the value cannot be printed.
    std::optional<std::string> rawString(StringEncoding encoding = StringEncoding::utf8,
                                         WritingOptions options = WritingOptions::prettyPrinted) const;
    std::optional<std::string> rawString(const WritingOptionsMap& options) const;
    // The pretty-printed text, or "unknown".
    std::string description() const;
    std::string debugDescription() const {
        return description();
    }

    // ---- merging ----------------------------------------------------------------

    // Dictionaries merge key by key to any depth, arrays are joined, anything
    // else is replaced. Throws wrongType (leaving the value unchanged) when the
    // two top-level kinds differ; below the top the other's member wins.
    void merge(const JSON& other);
    JSON merged(const JSON& other) const;

    // ---- comparison ----------------------------------------------------------------
    // Only values of the same kind compare. Numbers by value (a boolean number
    // never against a plain one); texts under canonical equivalence and ordered
    // by the code points of their NFC forms; booleans, arrays, dictionaries and
    // null have equality only; unknown never equals anything, not even itself.
    friend bool operator==(const JSON& a, const JSON& b);
    friend bool operator<(const JSON& a, const JSON& b);
    friend bool operator<=(const JSON& a, const JSON& b);
    friend bool operator>(const JSON& a, const JSON& b);
    friend bool operator>=(const JSON& a, const JSON& b);

    // ---- encoders and decoders ----------------------------------------------------

    // Writes the value as one single value; throws what the encoder throws.
    void encode(Encoder& encoder) const;
    // Never throws: whatever the decoder cannot hand out becomes the null value.
    explicit JSON(Decoder& decoder);

  private:
    // The position after `after`, by its case alone.
    static Index advanced(const Index& after) {
        switch (after.kind()) {
            case Index::Kind::array:
                return Index::array(after.arrayOffset() + 1);
            case Index::Kind::dictionary:
                // Past the end stays there rather than stepping off the dictionary.
                if (after.dictionaryPosition() == after.dictionaryOwner()->end()) return after;
                return Index::dictionary(after.dictionaryOwner(), std::next(after.dictionaryPosition()));
            case Index::Kind::null:
                break;
        }
        return Index::null();
    }

    void swap(JSON& other) noexcept {
        value_.swap(other.value_);
        std::swap(type_, other.type_);
        std::swap(errorSlot_, other.errorSlot_);
        std::swap(borrowed_, other.borrowed_);
    }
    // An element handed out by an iterator: it refers to the object in the
    // walked container, which the iterator keeps alive, without counting it.
    // Copies and moves of it count as usual, and it takes its own count
    // before it changes.
    struct Borrowed {};
    // A container a JSON value holds has no JSON value nested at any depth,
    // so an item of it that is a number, text, null or container is taken
    // as it is, without looking into its node.
    // Kind and borrowing are read from the container's item and set as the
    // members are made, so each is stored once and not read back.
    JSON(Borrowed, const Any& object)
        : value_(Any::Uncounted{}, object),
          type_(walkedType(object)),
          // Every plain kind (0 to 4; unsigned, so nothing wraps round):
          // null and numbers have no node, so taking them uncounted is the
          // same, and being marked spares the destructor its count-down test.
          // A borrowed value moved from is left null like any other.
          borrowed_(static_cast<unsigned>(object.kind()) <= 4u) {
        if (object.kind() > Any::Kind::dictionary) [[unlikely]] {
            // Bytes to parse, unsupported objects: as any value made from
            // the object.
            borrowed_ = false;
            value_.retain();
            adoptOther();
        }
    }
    // plainType() for any item of a container; kinds beyond the plain ones
    // read as null until classified.
    static Type walkedType(const Any& object) {
        static constexpr Type byKind[] = {Type::null,       Type::number, Type::string, Type::array,
                                          Type::dictionary, Type::null,   Type::null,   Type::null};
        static_assert(static_cast<int>(Any::Kind::other) == 7);
        const Any::Kind kind = object.kind();
        const bool boolean = (kind == Any::Kind::number) & (object.cell_.kind() == Number::Kind::boolean);
        return boolean ? Type::boolValue : byKind[static_cast<size_t>(kind) & 7];
    }
    // The count an iterator holds on its container's node.
    static void* keepContainer(const Any& container) noexcept {
        container.retain();
        return container.node();
    }
    static void keepAgain(void* node) noexcept {
        static_cast<Any::Node*>(node)->refs.fetch_add(1, std::memory_order_relaxed);
    }
    static void letGo(void* node, bool isArray) noexcept;
    void own() {
        if (borrowed_) {
            value_.retain();
            borrowed_ = false;
        }
    }

    template <typename T>
    static Number literalNumber(T value) {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8)
            return Number::fromUInt64(value);
        else
            return Number::fromInt64(static_cast<int64_t>(value));
    }
    struct RawObject {};
    JSON(RawObject, const Any& object);
    JSON() = default;
    // Classifies the object just stored in `value_` as the constructor from a
    // platform value does; plain numbers, texts, null and parsed containers
    // take the inline path.
    void adopt() {
        if (!adoptPlain()) adoptOther();
    }
    // Sets the kind of a plain number, text, null or container in `value_`;
    // false for anything else.
    bool adoptPlain() {
        const Any::Kind kind = value_.kind();
        if (kind > Any::Kind::dictionary) return false;
        type_ = plainType(kind);
        return kind < Any::Kind::array || value_.node()->plain != 0;
    }
    // The kind of a number, text, null or container in `value_`, looked up
    // rather than switched on: values of mixed kinds follow each other when
    // a container is walked, and a jump per kind is mispredicted often.
    Type plainType(Any::Kind kind) const {
        static constexpr Type byKind[] = {Type::null, Type::number, Type::string, Type::array,
                                          Type::dictionary};
        static_assert(static_cast<int>(Any::Kind::null) == 0 && static_cast<int>(Any::Kind::number) == 1 &&
                      static_cast<int>(Any::Kind::string) == 2 && static_cast<int>(Any::Kind::array) == 3 &&
                      static_cast<int>(Any::Kind::dictionary) == 4);
        const bool boolean = (kind == Any::Kind::number) & (value_.cell_.kind() == Number::Kind::boolean);
        return boolean ? Type::boolValue : byKind[static_cast<size_t>(kind)];
    }
    void adoptOther();
    // Takes a plain object's kind and storage.
    void classify(const Any& plainObject);
    // No error, then each error case; made on first use, so values made
    // while the program starts find it.
    static const std::optional<JSONValueError>* errors();
    void setError(JSONValueError error);
    void clearError() {
        errorSlot_ = 0;
    }

    // The stored object of each kind; the kind must fit.
    const Array& items() const {
        return static_cast<const Any::ArrayNode*>(value_.node())->items;
    }
    const Dictionary& entries() const {
        return static_cast<const Any::DictionaryNode*>(value_.node())->entries;
    }
    const std::string& text() const {
        return *value_.string();
    }
    const Number& numberCell() const {
        return value_.cell_;
    }
    bool boolCell() const {
        return value_.boolCell();
    }

    // The one-element path write.
    void writeStep(const JSONKey& step, const JSON& newValue);
    void writePath(const JSONSubscriptType* first, const JSONSubscriptType* last, const JSON& newValue);
    JSON readStep(const JSONKey& step) const;
    JSON readPath(const JSONSubscriptType* first, const JSONSubscriptType* last) const;
    void mergeWith(const JSON& other, bool strictTypes);
    std::optional<std::string> print(StringEncoding encoding, const WritingOptionsMap& options,
                                     int maxObjectDepth) const;
    bool appendOwnPrint(std::string& out, int maxObjectDepth) const;

    Array& mutableArray() {
        own();
        return value_.mutableArray();
    }
    Dictionary& mutableDictionary() {
        own();
        return value_.mutableDictionary();
    }

    // What object() hands out: the number (a boolean as its boolean number),
    // text or container; the null marker for null and unknown.
    Any value_;
    Type type_ = Type::null;
    // Index into errors(): 0 for none, else one per error case.
    uint8_t errorSlot_ = 0;
    bool borrowed_ = false;
};

// The key of an element met while iterating: a dictionary's key, or an array
// position whose decimal text ("0", "1", ...) is made only when asked for.
// The key an iterator hands out refers to the key in the walked container,
// which lives as long as the iterator or any value sharing it; a copy of the
// key (or of the element) holds its own text.
class JSON::ElementKey {
  public:
    explicit ElementKey(std::string key)
        : own_(new std::string(std::move(key))), key_(own_.get()), offset_(-1) {}
    explicit ElementKey(int64_t arrayOffset) : offset_(arrayOffset) {}
    ElementKey(const ElementKey& other) { *this = other; }
    ElementKey& operator=(const ElementKey& other) {
        if (this != &other) {
            offset_ = other.arrayOffset();
            const std::string* text = other.key_ ? other.key_ : other.own_.get();
            own_.reset(text ? new std::string(*text) : nullptr);
            key_ = other.key_ ? own_.get() : nullptr;
        }
        return *this;
    }

    bool isArrayOffset() const { return key_ == nullptr; }
    // -1 for a dictionary's key.
    int64_t arrayOffset() const { return key_ ? -1 : offset_; }
    const std::string& text() const {
        if (key_) return *key_;
        if (!own_) own_.reset(new std::string(std::to_string(offset_)));
        return *own_;
    }
    operator const std::string&() const { return text(); }

    friend bool operator==(const ElementKey& key, std::string_view text) { return key.text() == text; }
    friend std::string operator+(const ElementKey& key, const std::string& text) { return key.text() + text; }
    friend std::string operator+(const std::string& text, const ElementKey& key) { return text + key.text(); }

  private:
    friend class JSON::Iterator;
    struct Borrowed {};
    // The position is left unset: a key is told from a position by its text.
    ElementKey(Borrowed, const std::string& key) : key_(&key) {}

    // A key of its own, or an array position's text once asked for; made
    // only then, so walking costs no text.
    mutable std::unique_ptr<std::string> own_;
    const std::string* key_ = nullptr;  // a dictionary's key: in the container, or own_
    int64_t offset_;                    // an array position; read only while key_ is null
};

// An element met while iterating: `first` its key, `second` its value; it
// reads as the (key, value) pair of operator[](Index).
struct JSON::Element {
    ElementKey first;
    JSON second;

    operator std::pair<std::string, JSON>() const { return {first.text(), second}; }
};

// Forward iterator over the elements. It shares the container of the value it
// came from (neither the container nor the value is copied), so it stays
// valid when the value changes or goes away. The elements it hands out refer
// into that container without counting: an element (and an iterator over an
// element's value) is valid while the walked container lives; a copy of an
// element, of its key or of its value is independent, like any copy.
class JSON::Iterator {
  public:
    using value_type = Element;
    using reference = value_type;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;
    using iterator_concept = std::forward_iterator_tag;

    Iterator() = default;
    Iterator(const JSON& base, Index position) : position_(position) {
        if (base.type_ == Type::array) items_ = &base.items();
        // An element being walked borrows its container, and so does an
        // iterator over it: both live as long as the walked container.
        if ((base.type_ == Type::array || base.type_ == Type::dictionary) && !base.borrowed_) {
            kept_ = keepContainer(base.value_);
            keptArray_ = base.type_ == Type::array;
        }
    }
    Iterator(const Iterator& other) noexcept
        : kept_(other.kept_), keptArray_(other.keptArray_), items_(other.items_), position_(other.position_) {
        if (kept_) keepAgain(kept_);
    }
    Iterator(Iterator&& other) noexcept
        : kept_(std::exchange(other.kept_, nullptr)),
          keptArray_(other.keptArray_),
          items_(other.items_),
          position_(other.position_) {}
    Iterator& operator=(const Iterator& other) noexcept {
        Iterator copy(other);
        swap(copy);
        return *this;
    }
    Iterator& operator=(Iterator&& other) noexcept {
        Iterator moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~Iterator() {
        if (kept_) letGo(kept_, keptArray_);
    }

    value_type operator*() const {
        switch (position_.kind()) {
            case Index::Kind::array:
                // Dereferenced only at a valid position, like any iterator.
                return {ElementKey(position_.arrayOffset()),
                        JSON(Borrowed{}, (*items_)[static_cast<size_t>(position_.arrayOffset())])};
            case Index::Kind::dictionary: {
                const auto& entry = *position_.dictionaryPosition();
                return {ElementKey(ElementKey::Borrowed{}, entry.first), JSON(Borrowed{}, entry.second)};
            }
            case Index::Kind::null:
                break;
        }
        return {ElementKey(std::string()), JSON::null()};
    }
    Iterator& operator++() {
        position_.advance();
        return *this;
    }
    Iterator operator++(int) {
        Iterator old = *this;
        ++*this;
        return old;
    }
    // Iterators of one value (comparing those of different values means nothing).
    friend bool operator==(const Iterator& a, const Iterator& b) {
        return a.position_.samePlace(b.position_);
    }
    const Index& position() const { return position_; }

  private:
    friend class JSON;
    // A position alone, for comparisons (end()).
    explicit Iterator(Index position) : position_(position) {}

    void swap(Iterator& other) noexcept {
        std::swap(kept_, other.kept_);
        std::swap(keptArray_, other.keptArray_);
        std::swap(items_, other.items_);
        std::swap(position_, other.position_);
    }

    // The node of the container the positions point into, counted, when the
    // iterator keeps it alive itself (null for values without members, for
    // end(), and while walking an element, whose container is kept by the
    // walk). A plain pointer rather than a platform value: the iterator then
    // has no member the compiler must keep in memory, so a loop over a value
    // runs with its position in registers.
    void* kept_ = nullptr;
    bool keptArray_ = false;
    const Array* items_ = nullptr;
    Index position_;
};

// A copy counts its object, whether the original was borrowed or not.
inline JSON::JSON(const JSON& other) noexcept
    : value_(other.value_), type_(other.type_), errorSlot_(other.errorSlot_) {}

inline Index JSON::startIndex() const {
    switch (type_) {
        case Type::array:
            return Index::array(0);
        case Type::dictionary:
            return Index::dictionary(&entries(), entries().begin());
        default:
            return Index::null();
    }
}

inline Index JSON::endIndex() const {
    switch (type_) {
        case Type::array:
            return Index::array(static_cast<int64_t>(items().size()));
        case Type::dictionary:
            return Index::dictionary(&entries(), entries().end());
        default:
            return Index::null();
    }
}

inline JSON::Iterator JSON::begin() const {
    return Iterator(*this, startIndex());
}

inline JSON::Iterator JSON::end() const {
    // Only the position takes part in comparisons: no container needed.
    return Iterator(endIndex());
}

// The positions from `startIndex()` up to `endIndex()` of a base value.
class JSON::Slice {
  public:
    Slice(const JSON& base, Index start, Index end)
        : base_(std::make_shared<const JSON>(base)), start_(start), end_(end) {}
    const Index& startIndex() const { return start_; }
    const Index& endIndex() const { return end_; }
    std::pair<std::string, JSON> operator[](const Index& position) const { return (*base_)[position]; }
    Iterator begin() const { return Iterator(*base_, start_); }
    Iterator end() const { return Iterator(*base_, end_); }
    size_t count() const { return static_cast<size_t>(base_->distance(start_, end_)); }

  private:
    std::shared_ptr<const JSON> base_;
    Index start_, end_;
};

}  // namespace tervolo::json
