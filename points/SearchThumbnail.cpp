#include "points/SearchThumbnail.hpp"

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"

namespace tervolo::points {

std::optional<std::vector<uint8_t>> searchThumbnailJPEG() {
    // An icon is a few kilobytes; the cap keeps a wrong file from costing more.
    constexpr std::size_t kMaxThumbnailBytes = 256 * 1024;
    const auto path = platform::Bundle::main().pathForResource("Icon-Small", "jpg");
    if (!path) return std::nullopt;
    auto bytes = platform::FileManager::defaultManager().readFileSafely(*path, kMaxThumbnailBytes);
    if (!bytes.ok() || bytes.value().empty()) return std::nullopt;
    return std::move(bytes).value();
}

}  // namespace tervolo::points
