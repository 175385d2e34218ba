#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::tiles {

// The files of one tile source: "<documents>/<prefix>/<z>-<x>-<y>.image",
// holding the downloaded bytes unchanged; the modification time is the tile's
// age and a tile is outdated 7 days (604800 s, by Clock::current()'s wall
// time) after it was written. File names are built only from the storage
// path's integers and the fixed folder name.
//
// No lock: every write is a temporary file renamed over the tile, so readers
// see the old or the new bytes; any thread.
class TileDiskCache {
  public:
    enum class FileState { missing, fresh, outdated };
    static constexpr double kExpirySeconds = 604800.0;
    // Largest tile file read back (bytes); servers' replies are capped alike.
    static constexpr size_t kMaximumTileBytes = 4 * 1024 * 1024;

    // `documentsFolder` empty: the application's documents folder. The folder
    // name must be one plain name (no "/", not "." or "..").
    TileDiskCache(std::string tempDirPrefix, std::string documentsFolder = {});

    static bool isValidFolderName(std::string_view name);
    // A storage path is "<z>-<x>-<y>" of decimal integers and nothing else.
    static bool isValidStoragePath(std::string_view storagePath);

    const std::string& tempDirPrefix() const { return prefix_; }
    std::string documentsFolder() const;
    // "<documents>/<prefix>".
    std::string tempDir() const;
    // "<temporary folder>/<prefix>": cleared, never written.
    std::string oldTempDir() const;
    std::string filePath(std::string_view storagePath) const;

    FileState fileState(std::string_view storagePath) const;
    // The bytes, or nothing. An outdated tile not accepted is deleted.
    std::optional<std::vector<uint8_t>> tileData(std::string_view storagePath, bool acceptOutdated) const;
    // Writes atomically; creates the folder (with its CACHEDIR.TAG) first.
    // Failures are logged at most once a minute, with the number left unlogged.
    bool storeTile(std::span<const uint8_t> bytes, std::string_view storagePath) const;
    // Deletes one tile's file (a file that no longer decodes).
    void removeTile(std::string_view storagePath) const;
    void excludePathFromBackup(const std::string& path) const;
    // Empties both folders at once; the old files are deleted in the background.
    void clearCacheDirs() const;
    // Deletes what stores cut short by a kill left in the cache folder: our
    // temporary files (".<z>-<x>-<y>.XXXXXX") last changed at least
    // `minimumAge` seconds ago by the file system's clock, so a store still
    // writing keeps its file. Logs each one; returns their names.
    std::vector<std::string> removeAbandonedTemporaryFiles(double minimumAge = 60.0) const;
    // Whether a name is one of our temporary files.
    static bool isTemporaryFileName(std::string_view name);

    static void resetStoreFailureLogForTesting();

  private:
    std::string prefix_;
    std::string documents_;
};

// The storage path made of the last three "/"-separated parts of a URL text,
// the last cut before its first "@", else its first "."; nothing when the
// text has fewer than three parts. For logging and lookups only: never a file name.
std::optional<std::string> storagePathWithURLString(std::string_view url);

}  // namespace tervolo::tiles
