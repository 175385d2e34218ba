#pragma once

#include <mutex>
#include <utility>

namespace platform {

// Runs `f` once per flag, however many threads race to it; the others wait until it has run.
using OnceFlag = std::once_flag;
template <class F>
void once(OnceFlag& flag, F&& f) {
    std::call_once(flag, std::forward<F>(f));
}

}  // namespace platform
