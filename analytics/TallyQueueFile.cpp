#include "analytics/TallyQueueFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace tervolo::analytics::TallyQueueFile {

namespace {

std::string failure(const char* step, const std::string& path) {
    return std::string(step) + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Queries are URL-escaped ASCII: quoted as they are, without a JSON
// library's per-character escaping. Anything else goes the general way.
void appendJSONString(std::string& out, std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(),
                                   [](char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\'; });
    if (plain) {
        out += '"';
        out += text;
        out += '"';
    } else {
        out +=
            nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
}

}  // namespace

std::string encodeSnapshot(const Snapshot& snapshot) {
    nlohmann::json object = nlohmann::json::object();
    object["generation"] = snapshot.generation;
    object[kQueueKey] = snapshot.requests;
    std::string text(kMarker);
    text += '\n';
    text += object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    return text;
}

std::string encodeSnapshot(uint64_t generation,
                           const std::vector<std::shared_ptr<const std::string>>& requests) {
    size_t size = kMarker.size() + 80;
    for (const auto& request : requests) size += request->size() + 3;
    std::string text;
    text.reserve(size);
    text += kMarker;
    text += "\n{\"generation\":";
    text += std::to_string(generation);
    text += ",\"";
    text += kQueueKey;
    text += "\":[";
    for (size_t i = 0; i < requests.size(); ++i) {
        if (i > 0) text += ',';
        appendJSONString(text, *requests[i]);
    }
    text += "]}\n";
    return text;
}

std::optional<Snapshot> decodeSnapshot(std::string_view bytes) {
    if (bytes.size() <= kMarker.size() || bytes.substr(0, kMarker.size()) != kMarker ||
        bytes[kMarker.size()] != '\n') {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(bytes.substr(kMarker.size() + 1), nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto generation = json.find("generation");
    const auto queue = json.find(kQueueKey);
    if (generation == json.end() || !generation->is_number_unsigned() || queue == json.end() ||
        !queue->is_array()) {
        return std::nullopt;
    }
    Snapshot snapshot;
    snapshot.generation = generation->get<uint64_t>();
    snapshot.requests.reserve(queue->size());
    for (const auto& entry : *queue) {
        if (!entry.is_string()) {
            return std::nullopt;
        }
        snapshot.requests.push_back(entry.get<std::string>());
    }
    return snapshot;
}

std::string encodeJournalLine(uint64_t generation, std::string_view request) {
    std::string line = std::to_string(generation);
    line += '\t';
    appendJSONString(line, request);
    line += '\n';
    return line;
}

std::vector<JournalEntry> decodeJournal(std::string_view bytes, size_t* malformed) {
    std::vector<JournalEntry> entries;
    size_t skipped = 0;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            break;  // torn last line: its append never completed
        }
        const std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        const size_t tab = line.find('\t');
        uint64_t generation = 0;
        bool ok = tab != std::string_view::npos && tab > 0 && tab <= 20;
        for (size_t i = 0; ok && i < tab; ++i) {
            const char c = line[i];
            ok = c >= '0' && c <= '9' && generation <= (UINT64_MAX - 9) / 10;
            generation = generation * 10 + static_cast<uint64_t>(c - '0');
        }
        if (ok) {
            const auto json = nlohmann::json::parse(line.substr(tab + 1), nullptr, false);
            if (json.is_string() && !json.get_ref<const std::string&>().empty()) {
                entries.push_back({generation, json.get<std::string>()});
                continue;
            }
        }
        ++skipped;
    }
    if (malformed != nullptr) {
        *malformed = skipped;
    }
    return entries;
}

std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes, bool durable) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return failure("open", temporary);
    }
    if (!writeAll(fd, bytes) || (durable && ::fsync(fd) != 0)) {
        auto error = failure("write", temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return error;
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        auto error = failure("rename", path);
        ::unlink(temporary.c_str());
        return error;
    }
    if (!durable) {
        return std::nullopt;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

}  // namespace tervolo::analytics::TallyQueueFile
