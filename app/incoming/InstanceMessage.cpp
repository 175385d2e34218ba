#include "app/incoming/InstanceMessage.hpp"

#include <algorithm>

#include "platform/text/Unicode.hpp"

namespace tervolo::app {

namespace {

bool isValidText(std::string_view text) {
    size_t index = 0;
    while (index < text.size()) {
        const auto read = platform::text::nextCodePoint(text, index);
        if (!read.valid) return false;
        const char32_t c = read.codePoint;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return false;
        index += read.length;
    }
    return true;
}

}  // namespace

std::string InstanceMessage::outcome(size_t dropped) {
    if (dropped == 0) return std::string(kTaken);
    return std::string(kDroppedPrefix) + std::to_string(dropped) + "\n";
}

std::optional<size_t> InstanceMessage::droppedIn(std::string_view line) {
    if (line == kTaken) return 0;
    if (line.substr(0, kDroppedPrefix.size()) != kDroppedPrefix || line.size() < kDroppedPrefix.size() + 2 ||
        line.back() != '\n')
        return std::nullopt;
    const std::string_view digits =
        line.substr(kDroppedPrefix.size(), line.size() - kDroppedPrefix.size() - 1);
    if (digits.size() > 6) return std::nullopt;
    size_t count = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + static_cast<size_t>(c - '0');
    }
    return count;
}

bool InstanceMessage::isAcceptableLink(std::string_view link) {
    return !link.empty() && link.size() <= kMaximumLinkBytes && isValidText(link);
}

std::string InstanceMessage::encode() const {
    std::string payload(kHeaderLine);
    payload += '\n';
    size_t count = 0;
    for (const auto& link : links) {
        if (!isAcceptableLink(link) || count == kMaximumLinks) continue;
        if (payload.size() + link.size() + 1 > kMaximumPayloadBytes) break;
        payload += link;
        payload += '\n';
        ++count;
    }
    const auto length = static_cast<uint32_t>(payload.size());
    std::string frame;
    frame.reserve(4 + payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((length >> shift) & 0xFF);
    return frame + payload;
}

std::optional<InstanceMessage> InstanceMessage::decodePayload(std::string_view payload, std::string& reason) {
    if (payload.size() > kMaximumPayloadBytes) {
        reason = "too long";
        return std::nullopt;
    }
    if (payload.empty() || payload.back() != '\n') {
        reason = "not ended by a line break";
        return std::nullopt;
    }
    InstanceMessage message;
    size_t start = 0;
    bool header = true;
    while (start < payload.size()) {
        const size_t end = payload.find('\n', start);
        const std::string_view line = payload.substr(start, end - start);
        start = end + 1;
        if (header) {
            if (line != kHeaderLine) {
                reason = "unknown header";
                return std::nullopt;
            }
            header = false;
            continue;
        }
        if (!isAcceptableLink(line)) {
            reason = "malformed link";
            return std::nullopt;
        }
        if (message.links.size() == kMaximumLinks) {
            reason = "too many links";
            return std::nullopt;
        }
        message.links.emplace_back(line);
    }
    return message;
}

InstanceMessage::Reader::State InstanceMessage::Reader::refuse(std::string reason) {
    reason_ = std::move(reason);
    buffer_.clear();
    return state_ = State::refused;
}

InstanceMessage::Reader::State InstanceMessage::Reader::append(std::string_view bytes) {
    if (state_ == State::refused) return state_;
    if (state_ == State::complete) return bytes.empty() ? state_ : refuse("bytes after the message");
    if (!length_) {
        const size_t wanted = 4 - buffer_.size();
        buffer_.append(bytes.substr(0, wanted));
        bytes.remove_prefix(std::min(wanted, bytes.size()));
        if (buffer_.size() < 4) return state_;
        uint32_t length = 0;
        for (char c : buffer_) length = (length << 8) | static_cast<unsigned char>(c);
        buffer_.clear();
        if (length > kMaximumPayloadBytes) return refuse("too long");
        length_ = length;
    }
    if (buffer_.size() + bytes.size() > *length_) return refuse("bytes after the message");
    buffer_.append(bytes);
    if (buffer_.size() < *length_) return state_;
    auto message = decodePayload(buffer_, reason_);
    buffer_.clear();
    if (!message) return state_ = State::refused;
    links_ = std::move(message->links);
    return state_ = State::complete;
}

}  // namespace tervolo::app
