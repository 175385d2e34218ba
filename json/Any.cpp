#include "json/Any.hpp"

#include "json/JSON.hpp"

namespace tervolo::json {

struct Any::JSONNode : Node {
    explicit JSONNode(const JSON& value) : json(value) {}
    JSON json;
};

struct Any::OtherNode : Node {
    explicit OtherNode(std::any value) : object(std::move(value)) {}
    std::any object;
};

template <typename N, typename... Args>
N* Any::makeNode(Args&&... args) {
    void* block = nullptr;
    void* memory = nodeMemory::allocate(sizeof(N), block);
    N* node;
    try {
        node = new (memory) N(std::forward<Args>(args)...);
    } catch (...) {
        nodeMemory::release(memory, block);
        throw;
    }
    node->placedIn(block);
    return node;
}

template <typename N>
void Any::disposeNode(N* node) noexcept {
    void* block = node->block();
    node->~N();
    nodeMemory::release(static_cast<void*>(node), block);
}

Any::Any(std::string text) : Any(Kind::string, makeNode<TextNode>(std::move(text))) {}

Any::Any(Array items) {
    // Moved out first (a list whose items live in another node's block copies
    // them), so nothing below throws.
    Array own(std::move(items));
    auto* node = makeNode<ArrayNode>();
    for (const Any& item : own) {
        if (!item.isPlain()) {
            node->plain = 0;
            break;
        }
    }
    node->items = std::move(own);
    *this = Any(Kind::array, node);
}

Any::Any(Dictionary entries) {
    auto* node = makeNode<DictionaryNode>();
    for (const auto& entry : entries) {
        if (!entry.second.isPlain()) {
            node->plain = 0;
            break;
        }
    }
    node->entries = std::move(entries);
    *this = Any(Kind::dictionary, node);
}

Any::DictionarySlot::DictionarySlot() : memory_(nodeMemory::allocate(sizeof(DictionaryNode), block_)) {}

Any::DictionarySlot::~DictionarySlot() {
    if (memory_ != nullptr) nodeMemory::release(memory_, block_);
}

Any Any::DictionarySlot::fill(Dictionary entries) noexcept {
    auto* node = new (memory_) DictionaryNode();
    memory_ = nullptr;
    node->placedIn(block_);
    node->entries = std::move(entries);
    return Any(Kind::dictionary, node);
}

Any Any::arrayOf(Any* first, size_t count) {
    // Items and node in one block: the node, then the items.
    static_assert(sizeof(ArrayNode) % alignof(Any) == 0);
    if (count > Array().max_size()) throw std::length_error("Array too long");
    void* from = nullptr;
    void* block = nodeMemory::allocate(sizeof(ArrayNode) + count * sizeof(Any), from);
    auto* node = new (block) ArrayNode();
    node->placedIn(from);
    Array& items = node->items;
    items.items_ = reinterpret_cast<Any*>(static_cast<char*>(block) + sizeof(ArrayNode));
    items.capacity_ = static_cast<uint32_t>(count) | Array::borrowed;
    for (; items.size_ < count; ++items.size_)
        new (items.items_ + items.size_) Any(std::move(first[items.size_]));
    return Any(Kind::array, node);
}

Any Any::emptyArray() {
    // Never destroyed, so values released during exit still find it.
    static const Any* empty = new Any(Kind::array, new ArrayNode());
    return *empty;
}

Any Any::emptyDictionary() {
    static const Any* empty = new Any(Kind::dictionary, new DictionaryNode());
    return *empty;
}

Any::Any(Data bytes) : Any(Kind::data, makeNode<DataNode>(std::move(bytes))) {}

Any::Any(const JSON& json) : Any(Kind::json, makeNode<JSONNode>(json)) {}

Any Any::other(std::any object) {
    return Any(Kind::other, makeNode<OtherNode>(std::move(object)));
}

namespace {

// How far past a parsed dictionary's node its memory is fetched before the
// dictionary is released, and how far this thread has fetched already.
constexpr size_t prefetchWindow = 4096;
thread_local const char* prefetchedFrom = nullptr;
thread_local const char* prefetchedUpTo = nullptr;

}  // namespace

// A parsed dictionary lies in its block in front of its entries and their
// values, in the order of the text, but the tree releases its entries in key
// order, one dependent load after another: each would wait for memory on its
// own. The memory that follows the node is asked for at once instead, a line
// at a time (nested dictionaries find most of theirs asked for already).
void Any::prefetchParsedDictionary(Node* node) noexcept {
    const char* block = static_cast<const char*>(node->block());
    if (block == nullptr) return;
    const char* from = reinterpret_cast<const char*>(node);
    const char* to = std::min(from + prefetchWindow, block + nodeMemory::blockSize);
    if (from >= prefetchedFrom && from < prefetchedUpTo) {
        if (to <= prefetchedUpTo) return;
        from = prefetchedUpTo;
    } else {
        prefetchedFrom = from;
    }
    for (const char* line = from; line < to; line += 64) __builtin_prefetch(line);
    prefetchedUpTo = to;
}

void Any::destroy() noexcept {
    switch (kind()) {
        case Kind::string:
            disposeNode(static_cast<TextNode*>(node()));
            break;
        case Kind::array: {
            // A container's nodes go together, each block counted once.
            nodeMemory::ReleaseBatch batch;
            // Alone or in one block with its items: either way its start.
            disposeNode(static_cast<ArrayNode*>(node()));
            break;
        }
        case Kind::dictionary: {
            nodeMemory::ReleaseBatch batch;
            prefetchParsedDictionary(node());
            disposeNode(static_cast<DictionaryNode*>(node()));
            break;
        }
        case Kind::data:
            disposeNode(static_cast<DataNode*>(node()));
            break;
        case Kind::json:
            disposeNode(static_cast<JSONNode*>(node()));
            break;
        case Kind::other:
            disposeNode(static_cast<OtherNode*>(node()));
            break;
        default:
            break;
    }
}

const JSON* Any::json() const {
    return kind() == Kind::json ? &static_cast<const JSONNode*>(node())->json : nullptr;
}

const std::any* Any::otherObject() const {
    return kind() == Kind::other ? &static_cast<const OtherNode*>(node())->object : nullptr;
}

namespace {

// A node no other value holds. The acquire pairs with the release of the
// count decrements of copies dropped on other threads, so their reads happen
// before the changes made here.
bool isUnique(const std::atomic<uint32_t>& refs) {
    return refs.load(std::memory_order_acquire) == 1;
}

}  // namespace

template <typename ContainerNode>
ContainerNode& Any::uniqueNode(Kind kind) {
    auto* node = static_cast<ContainerNode*>(this->node());
    if (isUnique(node->refs)) return *node;
    auto* copy = makeNode<ContainerNode>(*node);  // its items stay shared
    *this = Any(kind, copy);
    return *copy;
}

Array& Any::mutableArray() {
    return uniqueNode<ArrayNode>(Kind::array).items;
}

Dictionary& Any::mutableDictionary() {
    return uniqueNode<DictionaryNode>(Kind::dictionary).entries;
}

bool operator==(const Any& a, const Any& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Any::Kind::null:
            return true;
        case Any::Kind::number: {
            const Number &x = *a.number(), &y = *b.number();
            // A boolean never equals a number, at any depth.
            if (isBooleanNumber(x) != isBooleanNumber(y)) return false;
            return x.compare(y) == Number::Order::same;
        }
        case Any::Kind::string:
            return a.node() == b.node() || *a.string() == *b.string();
        case Any::Kind::array:
            return a.node() == b.node() || *a.array() == *b.array();
        case Any::Kind::dictionary:
            return a.node() == b.node() || *a.dictionary() == *b.dictionary();
        case Any::Kind::data:
            return *a.data() == *b.data();
        case Any::Kind::json:
            return *a.json() == *b.json();
        case Any::Kind::other:
            return a.otherObject() == b.otherObject();
    }
    return false;
}

}  // namespace tervolo::json
