#include "platform/searchindex/FileSearchIndex.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/FileManager.hpp"

namespace platform {

struct FileSearchIndex::State {
    explicit State(std::string p) : path(std::move(p)) {}
    // Entries are shared and never changed in place: a request copies the
    // table's pointers, not every item's thumbnail.
    using Table = std::map<std::string, std::shared_ptr<const SearchableItem>>;

    const std::string path;
    mutable std::mutex mutex;
    mutable std::condition_variable loadedCondition;
    bool loaded = false;  // guarded by mutex; set once by load()
    Table table;          // guarded by mutex; replaced only on the index's queue
    // The file holds exactly the table, in the current format: a request that
    // changes nothing need not write it again. Used only on the queue.
    bool fileMatchesTable = false;

    Table snapshot() const {
        std::lock_guard lock(mutex);
        return table;
    }
    // Holds `mutex` once the file has been read: readers from other threads
    // see what the file held, never the empty table before it.
    std::unique_lock<std::mutex> lockLoaded() const {
        std::unique_lock lock(mutex);
        loadedCondition.wait(lock, [this] { return loaded; });
        return lock;
    }
    std::optional<Error> store(const Table& next) const;
    void removeLeftovers() const;
    // The file's items; `clean` tells whether the file held them and nothing
    // else, in the current format.
    Table read(bool& clean) const;
    bool unchangedBy(const std::vector<SearchableItem>& items) const;
    bool unchangedBy(const std::vector<std::string>& deletedIdentifiers) const;
    // Reads the file into the table. Runs on the queue, before any request.
    void load();
    // Writes `next`; on success it becomes the table. Runs on the queue.
    void commit(Table next, const CompletionHandler& completionHandler);
};

namespace {

using Json = nlohmann::ordered_json;

// Version 2 keeps each distinct thumbnail once, in "thumbnails", and items
// refer to it by position; every point carries the same icon, which version 1
// repeated in every item. Version 1's inline "thumbnailData" is still read.
constexpr int kFormatVersion = 2;
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = uint32_t(bytes[i]) << 16;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') return std::nullopt;  // "x=y=" is not padding
        uint32_t v = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const int d = value(text[i + k]);
            if (d < 0) return std::nullopt;
            v |= uint32_t(d) << (18 - 6 * k);
        }
        out.push_back(uint8_t(v >> 16));
        if (padding < 2) out.push_back(uint8_t(v >> 8));
        if (padding < 1) out.push_back(uint8_t(v));
    }
    return out;
}

// Position of each distinct thumbnail in the file's "thumbnails" list.
class ThumbnailTable {
  public:
    // `bytes` must live while the table is used: items sharing one thumbnail
    // are matched by its address before its contents.
    size_t add(const std::vector<uint8_t>& bytes) {
        const auto known = byAddress_.find(&bytes);
        if (known != byAddress_.end()) return known->second;
        const auto [it, inserted] =
            positions_.try_emplace(std::string(bytes.begin(), bytes.end()), encoded_.size());
        if (inserted) encoded_.push_back(base64Encode(bytes));
        byAddress_.emplace(&bytes, it->second);
        return it->second;
    }
    Json list() const { return Json(encoded_); }

  private:
    std::unordered_map<std::string, size_t> positions_;
    std::unordered_map<const std::vector<uint8_t>*, size_t> byAddress_;
    std::vector<std::string> encoded_;
};

Json encode(const SearchableItem& item, ThumbnailTable& thumbnails) {
    Json j;
    j["uniqueIdentifier"] = item.uniqueIdentifier;
    j["domainIdentifier"] = item.domainIdentifier;
    j["contentType"] = item.contentType;
    j["title"] = item.title;
    j["contentDescription"] = item.contentDescription;
    // JSON has no NaN or infinity: such a coordinate is left out rather than
    // written as null and misread later.
    if (item.latitude && std::isfinite(*item.latitude)) j["latitude"] = *item.latitude;
    if (item.longitude && std::isfinite(*item.longitude)) j["longitude"] = *item.longitude;
    if (item.thumbnailData) j["thumbnail"] = thumbnails.add(*item.thumbnailData);
    return j;
}

// Strict per item: the identifier must be a non-empty string and every member
// present must have its JSON type; an item that fails is left out.
std::optional<SearchableItem> decode(const Json& j, const std::vector<SharedBytes>& thumbnails) {
    if (!j.is_object()) return std::nullopt;
    SearchableItem item;
    auto text = [&](const char* key, std::string& out) {
        const auto it = j.find(key);
        if (it == j.end()) return true;
        if (!it->is_string()) return false;
        out = it->get<std::string>();
        return true;
    };
    auto number = [&](const char* key, std::optional<double>& out) {
        const auto it = j.find(key);
        if (it == j.end()) return true;
        if (!it->is_number()) return false;
        out = it->get<double>();
        return std::isfinite(*out);
    };
    if (!text("uniqueIdentifier", item.uniqueIdentifier) || item.uniqueIdentifier.empty())
        return std::nullopt;
    if (!text("domainIdentifier", item.domainIdentifier) || !text("contentType", item.contentType) ||
        !text("title", item.title) || !text("contentDescription", item.contentDescription) ||
        !number("latitude", item.latitude) || !number("longitude", item.longitude)) {
        return std::nullopt;
    }
    if (const auto it = j.find("thumbnail"); it != j.end()) {
        if (!it->is_number_unsigned() || it->get<uint64_t>() >= thumbnails.size()) return std::nullopt;
        item.thumbnailData = thumbnails[it->get<size_t>()];
    } else if (const auto inline_ = j.find("thumbnailData"); inline_ != j.end()) {
        if (!inline_->is_string()) return std::nullopt;
        item.thumbnailData = base64Decode(inline_->get<std::string>());
        if (!item.thumbnailData) return std::nullopt;
    }
    return item;
}

Error requestError(const std::string& description) {
    // The domain and code the platform's index uses for an invalid request.
    return Error{"CSIndexErrorDomain", -1000, description, 0};
}

}  // namespace

std::optional<Error> FileSearchIndex::State::store(const Table& next) const {
    Json items = Json::array();
    ThumbnailTable thumbnails;
    for (const auto& [identifier, item] : next) items.push_back(encode(*item, thumbnails));
    Json document;
    document["version"] = kFormatVersion;
    document["thumbnails"] = thumbnails.list();
    document["items"] = std::move(items);
    // Ill-formed UTF-8 in a title must not make the whole write fail.
    const std::string text = document.dump(-1, ' ', false, Json::error_handler_t::replace);

    const FileManager& files = FileManager::defaultManager();
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (auto error = files.createDirectory(path.substr(0, slash), true)) return error;
    }
    return files.writeFile(path, std::string_view(text), WriteOptions::Atomic);
}

void FileSearchIndex::State::removeLeftovers() const {
    // What saves killed between writing and renaming left beside the file.
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        FileManager::defaultManager().removeAbandonedTemporaryFiles(path.substr(0, slash), 60.0,
                                                                    std::string_view(path).substr(slash + 1));
    }
}

FileSearchIndex::State::Table FileSearchIndex::State::read(bool& clean) const {
    clean = false;
    auto bytes = FileManager::defaultManager().readFileSafely(path, kMaxFileBytes);
    if (!bytes.ok()) return {};  // missing or unreadable: start empty
    const Json document = Json::parse(bytes->begin(), bytes->end(), nullptr, /*allow_exceptions=*/false);
    if (!document.is_object()) return {};
    const auto items = document.find("items");
    if (items == document.end() || !items->is_array()) return {};
    // A thumbnail that does not decode only drops the items that use it. The
    // items that use one share it.
    std::vector<SharedBytes> thumbnails;
    bool everyPartRead = true;
    if (const auto list = document.find("thumbnails"); list != document.end() && list->is_array()) {
        for (const Json& t : *list) {
            std::optional<std::vector<uint8_t>> bytes;
            if (t.is_string()) bytes = base64Decode(t.get<std::string>());
            everyPartRead = everyPartRead && bytes.has_value();
            thumbnails.emplace_back(bytes ? std::move(*bytes) : std::vector<uint8_t>{});
        }
    }
    Table loaded;
    for (const Json& j : *items) {
        if (auto item = decode(j, thumbnails)) {
            const std::string identifier = item->uniqueIdentifier;
            loaded[identifier] = std::make_shared<const SearchableItem>(std::move(*item));
        } else {
            everyPartRead = false;
        }
    }
    const auto version = document.find("version");
    clean = everyPartRead && loaded.size() == items->size() && version != document.end() &&
            version->is_number_integer() && version->get<int64_t>() == kFormatVersion;
    return loaded;
}

bool FileSearchIndex::State::unchangedBy(const std::vector<SearchableItem>& items) const {
    if (!fileMatchesTable) return false;
    std::lock_guard lock(mutex);
    for (const SearchableItem& item : items) {
        const auto found = table.find(item.uniqueIdentifier);
        if (found == table.end() || !(*found->second == item)) return false;
    }
    return true;
}

bool FileSearchIndex::State::unchangedBy(const std::vector<std::string>& deletedIdentifiers) const {
    if (!fileMatchesTable) return false;
    std::lock_guard lock(mutex);
    for (const std::string& identifier : deletedIdentifiers) {
        if (table.count(identifier) != 0) return false;
    }
    return true;
}

void FileSearchIndex::State::load() {
    bool clean = false;
    Table fromFile = read(clean);
    fileMatchesTable = clean;
    {
        std::lock_guard lock(mutex);
        table = std::move(fromFile);
        loaded = true;
    }
    loadedCondition.notify_all();
}

void FileSearchIndex::State::commit(Table next, const CompletionHandler& completionHandler) {
    std::optional<Error> error = store(next);
    if (!error) {
        fileMatchesTable = true;
        std::lock_guard lock(mutex);
        table = std::move(next);
    }
    if (completionHandler) completionHandler(std::move(error));
}

FileSearchIndex::FileSearchIndex(std::string path)
    : path_(std::move(path)),
      state_(std::make_shared<State>(path_)),
      queue_(DispatchQueue::serial("com.tervolo.searchindex", QoS::Utility)) {
    state_->removeLeftovers();
    // Reading a large index costs as much as the program's start; the queue
    // does it first, so every request still sees the file's items.
    queue_->async([state = state_] { state->load(); });
}

FileSearchIndex::~FileSearchIndex() = default;

void FileSearchIndex::indexSearchableItems(std::vector<SearchableItem> items,
                                           CompletionHandler completionHandler) {
    queue_->async([state = state_, items = std::move(items),
                   completionHandler = std::move(completionHandler)]() mutable {
        for (const SearchableItem& item : items) {
            if (item.uniqueIdentifier.empty()) {
                // An item without identifier could never be found or deleted
                // again; the request is refused as a whole, as the platform does.
                if (completionHandler) completionHandler(requestError("An item has no unique identifier."));
                return;
            }
        }
        // Every start indexes every point again: items already stored as
        // they are cost no rewrite of the whole file.
        if (state->unchangedBy(items)) {
            if (completionHandler) completionHandler(std::nullopt);
            return;
        }
        State::Table next = state->snapshot();
        for (SearchableItem& item : items) {
            const std::string identifier = item.uniqueIdentifier;
            next[identifier] = std::make_shared<const SearchableItem>(std::move(item));
        }
        state->commit(std::move(next), completionHandler);
    });
}

void FileSearchIndex::deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                                           CompletionHandler completionHandler) {
    queue_->async([state = state_, identifiers = std::move(identifiers),
                   completionHandler = std::move(completionHandler)] {
        if (state->unchangedBy(identifiers)) {
            if (completionHandler) completionHandler(std::nullopt);
            return;
        }
        State::Table next = state->snapshot();
        for (const std::string& identifier : identifiers) next.erase(identifier);
        state->commit(std::move(next), completionHandler);
    });
}

std::optional<SearchableItem> FileSearchIndex::item(const std::string& uniqueIdentifier) const {
    const auto lock = state_->lockLoaded();
    const auto it = state_->table.find(uniqueIdentifier);
    if (it == state_->table.end()) return std::nullopt;
    return *it->second;
}

std::vector<SearchableItem> FileSearchIndex::allItems() const {
    const auto lock = state_->lockLoaded();
    std::vector<SearchableItem> out;
    out.reserve(state_->table.size());
    for (const auto& [identifier, item] : state_->table) out.push_back(*item);
    return out;
}

void FileSearchIndex::waitUntilIdle() const {
    // From a completion (an exit there, say) the wait would be for itself.
    if (DispatchQueue::current() == queue_.get()) return;
    queue_->sync([] {});
}

}  // namespace platform
