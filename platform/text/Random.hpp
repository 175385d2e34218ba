#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// Randomness from the kernel (getrandom), replaceable in tests.
namespace platform::text {

// Fills `bytes` with random bytes; aborts with a message when the kernel gives
// none (no program-level recovery makes sense then).
void randomBytes(std::span<uint8_t> bytes);

// A uniformly distributed index in [0, count) without modulo bias (rejection
// sampling); count must be above 0.
size_t randomIndex(size_t count);

// Replaces the random source (UUID::random and randomIndex use it) for tests;
// an empty function restores the kernel's.
void setRandomSourceForTesting(std::function<void(std::span<uint8_t>)> source);

}  // namespace platform::text
