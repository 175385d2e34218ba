#include "platform/foundation/Diagnostics.hpp"
#include "platform/dispatch/SharedInstance.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {

LineWriter& LineWriter::standardError() {
    return SharedInstance<LineWriter, struct StandardError>::get(
        [] { return new LineWriter(STDERR_FILENO); });
}

LineWriter& LineWriter::standardOutput() {
    return SharedInstance<LineWriter, struct StandardOutput>::get(
        [] { return new LineWriter(STDOUT_FILENO); });
}

void LineWriter::writeLine(std::string_view line) {
    std::unique_lock lock(mutex_);
    if (sink_) {
        // Copy so a sink may replace itself while running.
        Sink sink = sink_;
        lock.unlock();
        sink(line);
        return;
    }
    std::string buffer;
    buffer.reserve(line.size() + 1);
    buffer.append(line);
    buffer.push_back('\n');
    const char* data = buffer.data();
    size_t left = buffer.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report a failing diagnostics stream
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

LineWriter::Sink LineWriter::setSink(Sink sink) {
    std::lock_guard lock(mutex_);
    Sink previous = std::move(sink_);
    sink_ = std::move(sink);
    return previous;
}

LineCapture::LineCapture(LineWriter& writer) : writer_(writer), storage_(std::make_shared<Storage>()) {
    previous_ = writer_.setSink([storage = storage_](std::string_view line) {
        std::lock_guard lock(storage->mutex);
        storage->lines.emplace_back(line);
    });
}

LineCapture::~LineCapture() {
    writer_.setSink(std::move(previous_));
}

std::vector<std::string> LineCapture::lines() const {
    std::lock_guard lock(storage_->mutex);
    return storage_->lines;
}

void LineCapture::clear() {
    std::lock_guard lock(storage_->mutex);
    storage_->lines.clear();
}

}  // namespace platform
