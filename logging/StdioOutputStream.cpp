#include "logging/StdioOutputStream.hpp"

namespace tervolo::logging {

const std::shared_ptr<StdioOutputStream>& StdioOutputStream::standardOutput() {
    // Never destroyed: loggers may write during exit.
    static const auto* const stream = new std::shared_ptr<StdioOutputStream>(
        std::make_shared<StdioOutputStream>(stdout, FlushMode::always));
    return *stream;
}

const std::shared_ptr<StdioOutputStream>& StdioOutputStream::standardError() {
    static const auto* const stream = new std::shared_ptr<StdioOutputStream>(
        std::make_shared<StdioOutputStream>(stderr, FlushMode::always));
    return *stream;
}

void StdioOutputStream::write(std::string_view text) {
    flockfile(file_);
    fwrite_unlocked(text.data(), 1, text.size(), file_);
    if (flushMode_ == FlushMode::always) fflush_unlocked(file_);
    funlockfile(file_);
}

}  // namespace tervolo::logging
