#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Bytes that may be absent, held read-only and shared by every copy: each
// point's item carries the same icon, and ten thousand copies of it cost the
// index's reading as much memory traffic as everything else together. Reads
// like an optional vector.
class SharedBytes {
  public:
    SharedBytes() = default;
    SharedBytes(std::nullopt_t) {}
    SharedBytes(std::vector<uint8_t> bytes)
        : bytes_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))) {}
    SharedBytes(std::optional<std::vector<uint8_t>> bytes) {
        if (bytes) bytes_ = std::make_shared<const std::vector<uint8_t>>(std::move(*bytes));
    }

    bool has_value() const { return bytes_ != nullptr; }
    explicit operator bool() const { return has_value(); }
    // Only when has_value().
    const std::vector<uint8_t>& operator*() const { return *bytes_; }
    const std::vector<uint8_t>* operator->() const { return bytes_.get(); }

    bool operator==(const SharedBytes& other) const {
        if (bytes_ == other.bytes_) return true;
        return bytes_ && other.bytes_ && *bytes_ == *other.bytes_;
    }
    bool operator==(const std::vector<uint8_t>& other) const { return bytes_ && *bytes_ == other; }

  private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

// One entry of the search index: what the program tells the system search
// about one of its objects.
struct SearchableItem {
    std::string uniqueIdentifier;  // key of the item within the index
    std::string domainIdentifier;  // groups items, e.g. the application's identifier
    std::string contentType;       // uniform type, e.g. "public.content"
    std::string title;
    std::string contentDescription;
    std::optional<double> latitude;   // degrees
    std::optional<double> longitude;  // degrees
    SharedBytes thumbnailData;        // JPEG bytes

    bool operator==(const SearchableItem&) const = default;
};

}  // namespace platform
