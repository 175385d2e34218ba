#pragma once

#include <memory>
#include <string>

#include "platform/searchindex/SearchIndex.hpp"

namespace platform {

class DispatchQueue;

// The search index kept in one JSON file. Requests run on the index's own
// serial queue; each one changes the in-memory table, writes the whole file
// atomically (temporary file in the same folder, fsync, rename) and then calls
// its completion on that queue. A request whose write fails leaves both the
// table and the file as they were and reports the error. A request that
// changes nothing (the same items again, unknown identifiers to delete) while
// the file already holds exactly the table completes without writing.
//
// Outstanding requests keep their own reference to the table and file, so
// they complete even when the index object is destroyed first.
//
// When the index is made, the temporary files that interrupted writes left
// beside the file (a minute old or more) are removed, and the file is read on
// the queue ahead of every request; item() and allItems() wait for that read,
// so they never answer from an index not yet loaded. A file
// that is missing starts an empty index; one that cannot be read or decoded
// also starts empty (the program re-indexes every point at start-up, so
// nothing is lost for good) and is replaced by the next successful write.
class FileSearchIndex : public SearchIndex {
  public:
    explicit FileSearchIndex(std::string path);
    ~FileSearchIndex() override;

    void indexSearchableItems(std::vector<SearchableItem> items,
                              CompletionHandler completionHandler) override;
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                              CompletionHandler completionHandler) override;
    std::optional<SearchableItem> item(const std::string& uniqueIdentifier) const override;
    std::vector<SearchableItem> allItems() const override;

    // Returns once every request made before has completed (tests, shutdown);
    // at once when called from a completion handler (it runs on the queue).
    // The default index does this at a clean exit.
    void waitUntilIdle() const;

    const std::string& path() const { return path_; }
    // File name of the default index in the documents folder.
    static constexpr const char* kFileName = "SearchIndex.json";
    // Largest file the loader reads (the thumbnails make up most of it).
    static constexpr size_t kMaxFileBytes = 64 * 1024 * 1024;

    struct State;  // the table and its file (internal)

  private:
    std::string path_;
    std::shared_ptr<State> state_;
    std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace platform
