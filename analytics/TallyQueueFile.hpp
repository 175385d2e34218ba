#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::analytics {

// The on-disk form of the request queue.
//
// "Tally.dat" is a snapshot: the line "TervoloNG analytics queue 1", then one
// JSON object {"generation": N, "kTallyQueuedRequestsPersistencyKey": [...]}
// holding the queued query strings in queue order. It is replaced atomically
// (temporary file, fsync, rename) with mode 0600.
//
// "Tally.dat.journal" holds the requests added since the snapshot, one line
// each: the generation they were added in, a tab, the query as a JSON string.
// An addition is one append (a single write(2)), so a request whose addition
// returned survives the process being killed even before the next snapshot.
// Lines of a generation the snapshot already covers are skipped on reading;
// a torn last line (no line feed) is ignored.
namespace TallyQueueFile {

inline constexpr std::string_view kMarker = "TervoloNG analytics queue 1";
inline constexpr const char* kQueueKey = "kTallyQueuedRequestsPersistencyKey";

struct Snapshot {
    uint64_t generation = 0;
    std::vector<std::string> requests;
};

std::string encodeSnapshot(const Snapshot& snapshot);
std::string encodeSnapshot(uint64_t generation,
                           const std::vector<std::shared_ptr<const std::string>>& requests);
// Nothing for anything but a well-formed snapshot (foreign, torn, wrong types).
std::optional<Snapshot> decodeSnapshot(std::string_view bytes);

std::string encodeJournalLine(uint64_t generation, std::string_view request);
struct JournalEntry {
    uint64_t generation;
    std::string request;
};
// Every complete, well-formed line; `malformed` counts the lines skipped.
std::vector<JournalEntry> decodeJournal(std::string_view bytes, size_t* malformed = nullptr);

// Writes `bytes` to `path` through a temporary file in the same folder with
// mode 0600 and a rename; `durable` adds an fsync of the file before and of
// the folder after the rename (survives power loss, not only a killed
// process). Empty on success, else the failure's text.
std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes,
                                           bool durable = true);

}  // namespace TallyQueueFile

}  // namespace tervolo::analytics
