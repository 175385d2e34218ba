#include "platform/text/Random.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace platform::text {
namespace {

using Source = std::function<void(std::span<uint8_t>)>;

std::mutex sourceMutex;
std::shared_ptr<const Source>& testSource() {
    static std::shared_ptr<const Source> source;
    return source;
}

void kernelRandom(std::span<uint8_t> bytes) {
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "getrandom failed: %s\n", std::strerror(errno));
            std::abort();
        }
        filled += static_cast<size_t>(got);
    }
}

uint64_t random64() {
    uint8_t bytes[8];
    randomBytes(bytes);
    uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

void randomBytes(std::span<uint8_t> bytes) {
    std::shared_ptr<const Source> source;
    {
        std::lock_guard lock(sourceMutex);
        source = testSource();
    }
    if (source) {
        (*source)(bytes);
    } else {
        kernelRandom(bytes);
    }
}

size_t randomIndex(size_t count) {
    if (count == 0) {
        std::fprintf(stderr, "randomIndex: count must be above 0\n");
        std::abort();
    }
    if (count == 1) return 0;
    // Reject the top partial block of 2^64 so every index is equally likely:
    // accept only values below the largest multiple of count.
    const uint64_t n = count;
    const uint64_t limit =
        std::numeric_limits<uint64_t>::max() - (std::numeric_limits<uint64_t>::max() % n + 1) % n;
    for (;;) {
        const uint64_t value = random64();
        if (value <= limit) return static_cast<size_t>(value % n);
    }
}

void setRandomSourceForTesting(std::function<void(std::span<uint8_t>)> source) {
    std::lock_guard lock(sourceMutex);
    testSource() = source ? std::make_shared<const Source>(std::move(source)) : nullptr;
}

}  // namespace platform::text
