#pragma once

#include <algorithm>
#include <any>
#include <atomic>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/NodeMemory.hpp"
#include "json/Number.hpp"

namespace tervolo::json {

class JSON;
class Any;
class Array;

// The null marker.
struct Null {
    bool operator==(const Null&) const = default;
};

// Byte order of UTF-8 texts (which is code-point order), as std::string
// compares, with the first bytes compared eight at a time in place: keys are
// short, often share their first bytes, and a call to memcmp per step of a
// tree search is most of the cost of finding one.
struct KeyOrder {
    using is_transparent = void;
    static int compare(std::string_view a, std::string_view b) noexcept {
        const size_t common = std::min(a.size(), b.size());
        size_t i = 0;
        for (; i + 8 <= common; i += 8) {
            uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) {
                // The first differing byte decides, as the larger in memory order.
                if constexpr (std::endian::native == std::endian::little) {
                    x = __builtin_bswap64(x);
                    y = __builtin_bswap64(y);
                }
                return x < y ? -1 : 1;
            }
        }
        for (; i < common; ++i) {
            const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    }
    bool operator()(std::string_view a, std::string_view b) const noexcept { return compare(a, b) < 0; }
};

// Keys in code-point order (byte order of UTF-8), so printing is deterministic.
// Entries of a parsed dictionary lie in the parse's blocks with its other nodes.
using Dictionary = std::map<std::string, Any, KeyOrder, NodeAllocator<std::pair<const std::string, Any>>>;
// Raw bytes.
using Data = std::vector<uint8_t>;

// A platform value: what a JSON value holds and hands out. It is a number
// (remembering its width and whether it was a boolean), a text, the null
// marker, an array or a text-keyed dictionary of platform values, raw bytes, a
// JSON value itself, or some other object the JSON value does not support.
//
// One 16-byte cell: numbers, booleans and null are held in it; texts,
// containers and bytes live in shared immutable nodes counted by the values
// holding them, so copying an Any is O(1) whatever it holds. Containers
// remember whether a JSON value is nested anywhere inside them, so
// normalising a container that holds none is O(1).
class Any {
  public:
    enum class Kind : uint8_t { null, number, string, array, dictionary, data, json, other };

    Any() noexcept = default;  // the null marker
    Any(Null) noexcept {}
    Any(std::nullptr_t) noexcept {}
    Any(Number number) noexcept : cell_(number) { cell_.holder_ = static_cast<uint8_t>(Kind::number); }
    Any(bool value) noexcept : Any(Number::fromBool(value)) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) Any(T value)
    noexcept : Any(numberOf(value)) {}
    Any(double value) noexcept : Any(Number::fromDouble(value)) {}
    Any(float value) noexcept : Any(Number::fromFloat(value)) {}
    Any(std::string text);
    Any(const char* text) : Any(text ? Any(std::string(text)) : Any()) {}  // nullptr: the null marker
    Any(std::string_view text) : Any(std::string(text)) {}
    Any(Array items);
    Any(Dictionary entries);
    Any(Data bytes);
    Any(const JSON& json);
    // Any other object (a date, say); kept as it is and compared by identity.
    static Any other(std::any object);

    Any(const Any& other) noexcept : cell_(other.cell_) { retain(); }
    Any(Any&& other) noexcept : cell_(other.cell_) { other.cell_ = Number(); }
    Any& operator=(const Any& other) noexcept {
        Any copy(other);
        swap(copy);
        return *this;
    }
    Any& operator=(Any&& other) noexcept {
        Any moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~Any() { release(); }
    void swap(Any& other) noexcept { std::swap(cell_, other.cell_); }

    Kind kind() const { return static_cast<Kind>(cell_.holder_); }
    bool isNull() const { return kind() == Kind::null; }

    // Each gives the held value when the kind fits, nullptr otherwise.
    const Number* number() const { return kind() == Kind::number ? &cell_ : nullptr; }
    const std::string* string() const;
    const Array* array() const;
    const Dictionary* dictionary() const;
    const Data* data() const;
    const JSON* json() const;
    const std::any* otherObject() const;

    // Object equality of the platform: numbers by value (a boolean never equals
    // a number), texts by exact bytes, null equals null, containers item by
    // item, bytes by content, other objects by identity.
    friend bool operator==(const Any& a, const Any& b);

    // True when no JSON value is held at any depth.
    bool isPlain() const;

  private:
    // The JSON value shares these nodes with the platform values it hands
    // out, and changes one in place only while no one else holds it.
    friend class JSON;
    friend class JSONSerialization;

    // The shared part of every node: how many values hold it, and for
    // containers whether a JSON value is nested anywhere inside.
    struct Node {
        Node() = default;
        // A copy is a new node, held by one value.
        Node(const Node& other) : plain(other.plain) {}
        Node& operator=(const Node&) = delete;
        std::atomic<uint32_t> refs{1};
        uint8_t plain = 1;
        bool inBlock = false;      // made in a parse's block (nodeMemory)
        uint16_t blockOffset = 0;  // then this many 8-byte steps after the block's start
        // Records where the node's memory came from (null: the heap).
        void placedIn(void* block) {
            static_assert(nodeMemory::blockSize / 8 <= UINT16_MAX + 1);
            inBlock = block != nullptr;
            if (inBlock)
                blockOffset =
                    static_cast<uint16_t>((reinterpret_cast<char*>(this) - static_cast<char*>(block)) / 8);
        }
        void* block() { return inBlock ? reinterpret_cast<char*>(this) - size_t{blockOffset} * 8 : nullptr; }
    };
    // A node of type N in memory of nodeMemory, and its release.
    template <typename N, typename... Args>
    static N* makeNode(Args&&... args);
    template <typename N>
    static void disposeNode(N* node) noexcept;
    struct TextNode;
    struct ArrayNode;
    struct DictionaryNode;
    struct DataNode;
    struct JSONNode;
    struct OtherNode;

    Any(Kind kind, Node* node) noexcept {
        cell_.holder_ = static_cast<uint8_t>(kind);
        cell_.v_.p = node;
    }
    bool counted() const { return cell_.holder_ >= static_cast<uint8_t>(Kind::string); }
    Node* node() const { return static_cast<Node*>(cell_.v_.p); }
    // The value of a boolean number.
    bool boolCell() const { return cell_.v_.i != 0; }
    void retain() const noexcept {
        if (counted()) node()->refs.fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept {
        // A node this value alone holds goes without the atomic decrement: a
        // count is only ever taken from a value that holds one, so no other
        // thread can take one now (the acquire pairs with the release of
        // counts dropped elsewhere). A parsed document is held so throughout.
        if (counted() && (node()->refs.load(std::memory_order_acquire) == 1 ||
                          node()->refs.fetch_sub(1, std::memory_order_acq_rel) == 1))
            destroy();
    }
    void destroy() noexcept;
    static void prefetchParsedDictionary(Node* node) noexcept;
    // A copy of the cell that does not count its node (for a borrowed copy).
    struct Uncounted {};
    Any(Uncounted, const Any& other) noexcept : cell_(wordwiseCopy(other.cell_)) {}
    // The cell copied as two machine words that stay in general registers.
    // A borrowed copy is made on the stack and its words are read back right
    // away (its kind byte, its node pointer, by the walk and by the callee it
    // is passed to); the compiler would otherwise move the 16 bytes through
    // one vector store, from which those smaller integer reads forward slowly.
    static Number wordwiseCopy(const Number& cell) noexcept {
        struct Words {
            uint64_t low, high;
        };
        Words words = std::bit_cast<Words>(cell);
        // Empty, but takes each word in a general register (g++ and clang),
        // so the two moves cannot be merged into one vector move.
        asm("" : "+r"(words.low), "+r"(words.high));
        return std::bit_cast<Number>(words);
    }
    // Lets go of the node without counting down (for a borrowed copy).
    void forget() noexcept { cell_.holder_ = static_cast<uint8_t>(Kind::null); }

    // Copy on write: the container of this value, first copied (shallowly:
    // its items stay shared) when any other value holds it. The kind must fit.
    Array& mutableArray();
    Dictionary& mutableDictionary();
    template <typename ContainerNode>
    ContainerNode& uniqueNode(Kind kind);

    // Containers known to hold no JSON value (parsed ones) are made without a
    // scan: a dictionary through a slot, an array by arrayOf.
    // A dictionary node's memory, taken before its entries are made (the
    // parser lays a dictionary out in front of its entries); given back when
    // it is never filled.
    class DictionarySlot {
      public:
        DictionarySlot();
        ~DictionarySlot();
        DictionarySlot(const DictionarySlot&) = delete;
        DictionarySlot& operator=(const DictionarySlot&) = delete;
        // The dictionary of these entries, known to hold no JSON value.
        Any fill(Dictionary entries) noexcept;

      private:
        void* block_ = nullptr;
        void* memory_;
    };
    // An array of `count` items moved from `first`, items and node in one block.
    static Any arrayOf(Any* first, size_t count);
    // One shared empty array and dictionary: parsed documents hold many, and a
    // shared node is copied before any change anyway.
    static Any emptyArray();
    static Any emptyDictionary();

    template <typename T>
    static Number numberOf(T value) {
        if constexpr (std::is_signed_v<T>) {
            if constexpr (sizeof(T) == 1)
                return Number::fromInt8(value);
            else if constexpr (sizeof(T) == 2)
                return Number::fromInt16(value);
            else if constexpr (sizeof(T) == 4)
                return Number::fromInt32(value);
            else
                return Number::fromInt64(value);
        } else {
            if constexpr (sizeof(T) == 1)
                return Number::fromUInt8(value);
            else if constexpr (sizeof(T) == 2)
                return Number::fromUInt16(value);
            else if constexpr (sizeof(T) == 4)
                return Number::fromUInt32(value);
            else
                return Number::fromUInt64(value);
        }
    }

    // A number as it is; for the other kinds the node pointer in its place.
    Number cell_;
};

static_assert(sizeof(Any) == 16);

// A list of platform values, used like a std::vector. The list a shared array
// node holds may keep its items in the node's own block (a parsed array costs
// one allocation); such a list moves its items to a block of its own when it
// grows or is moved from.
class Array {
  public:
    using value_type = Any;
    using size_type = size_t;
    using difference_type = ptrdiff_t;
    using reference = Any&;
    using const_reference = const Any&;
    using pointer = Any*;
    using const_pointer = const Any*;
    using iterator = Any*;
    using const_iterator = const Any*;

    Array() noexcept = default;
    Array(std::initializer_list<Any> items) {
        reserve(items.size());
        for (const Any& item : items) new (items_ + size_++) Any(item);
    }
    template <std::input_iterator It>
    Array(It first, It last) {
        if constexpr (std::forward_iterator<It>) reserve(static_cast<size_t>(std::distance(first, last)));
        for (; first != last; ++first) emplace_back(*first);
    }
    Array(const Array& other) {
        reserve(other.size_);
        for (const Any& item : other) new (items_ + size_++) Any(item);
    }
    Array(Array&& other) { take(std::move(other)); }
    Array& operator=(const Array& other) {
        if (this != &other) {
            Array copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    Array& operator=(Array&& other) {
        if (this != &other) {
            clear();
            releaseBlock();
            take(std::move(other));
        }
        return *this;
    }
    ~Array() {
        clear();
        releaseBlock();
    }

    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    size_t capacity() const noexcept { return capacity_ & ~borrowed; }
    size_t max_size() const noexcept { return ~borrowed; }
    void reserve(size_t count) {
        if (count > capacity()) relocate(count);
    }

    void push_back(const Any& item) { emplace_back(item); }
    void push_back(Any&& item) { emplace_back(std::move(item)); }
    template <typename... Args>
    Any& emplace_back(Args&&... args) {
        // Made first: the arguments may refer to an item that growing moves.
        Any item(std::forward<Args>(args)...);
        if (size_ == capacity()) relocate(std::max<size_t>(size_ + 1, capacity() * 2));
        return *new (items_ + size_++) Any(std::move(item));
    }
    void pop_back() { items_[--size_].~Any(); }
    void clear() noexcept {
        while (size_ > 0) items_[--size_].~Any();
    }

    Any& operator[](size_t i) { return items_[i]; }
    const Any& operator[](size_t i) const { return items_[i]; }
    Any& at(size_t i) {
        if (i >= size_) throw std::out_of_range("Array::at");
        return items_[i];
    }
    const Any& at(size_t i) const {
        if (i >= size_) throw std::out_of_range("Array::at");
        return items_[i];
    }
    Any& front() { return items_[0]; }
    const Any& front() const { return items_[0]; }
    Any& back() { return items_[size_ - 1]; }
    const Any& back() const { return items_[size_ - 1]; }
    Any* data() noexcept { return items_; }
    const Any* data() const noexcept { return items_; }

    Any* begin() noexcept { return items_; }
    Any* end() noexcept { return items_ + size_; }
    const Any* begin() const noexcept { return items_; }
    const Any* end() const noexcept { return items_ + size_; }
    const Any* cbegin() const noexcept { return items_; }
    const Any* cend() const noexcept { return items_ + size_; }

    friend bool operator==(const Array& a, const Array& b) {
        return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
    }

  private:
    friend class Any;
    // Set in capacity_ while the items live in a block this list does not own.
    static constexpr uint32_t borrowed = 0x80000000u;

    // Moves the items to a block of its own for `count` items. An Any holds
    // no pointer to itself, so its bytes move as they are.
    void relocate(size_t count) {
        if (count > max_size()) throw std::length_error("Array too long");
        Any* fresh = static_cast<Any*>(::operator new(count * sizeof(Any)));
        if (size_ > 0)
            std::memcpy(static_cast<void*>(fresh), static_cast<const void*>(items_), size_ * sizeof(Any));
        releaseBlock();
        items_ = fresh;
        capacity_ = static_cast<uint32_t>(count);
    }
    void releaseBlock() noexcept {
        if (!(capacity_ & borrowed)) ::operator delete(items_);
        items_ = nullptr;
        capacity_ = 0;
    }
    // Into an empty list without a block: the other's block when it owns one,
    // else its items one by one.
    void take(Array&& other) {
        if (other.capacity_ & borrowed) {
            reserve(other.size_);
            for (Any& item : other) new (items_ + size_++) Any(std::move(item));
            other.clear();
            return;
        }
        items_ = std::exchange(other.items_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }

    Any* items_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};

struct Any::TextNode : Node {
    explicit TextNode(std::string value) : text(std::move(value)) {}
    std::string text;
};
struct Any::ArrayNode : Node {
    Array items;
};
struct Any::DictionaryNode : Node {
    Dictionary entries;
};
struct Any::DataNode : Node {
    explicit DataNode(Data value) : bytes(std::move(value)) {}
    Data bytes;
};

// Read on every element access: inline.

inline const std::string* Any::string() const {
    return kind() == Kind::string ? &static_cast<const TextNode*>(node())->text : nullptr;
}

inline const Array* Any::array() const {
    return kind() == Kind::array ? &static_cast<const ArrayNode*>(node())->items : nullptr;
}

inline const Dictionary* Any::dictionary() const {
    return kind() == Kind::dictionary ? &static_cast<const DictionaryNode*>(node())->entries : nullptr;
}

inline const Data* Any::data() const {
    return kind() == Kind::data ? &static_cast<const DataNode*>(node())->bytes : nullptr;
}

inline bool Any::isPlain() const {
    switch (kind()) {
        case Kind::json:
            return false;
        case Kind::array:
        case Kind::dictionary:
            return node()->plain != 0;
        default:
            return true;
    }
}

}  // namespace tervolo::json
