#pragma once

namespace platform {

// What the return key of a text input is labelled to do; kept for callers, the key acts the same.
enum class ReturnKeyType { Default, Go, Next, Search, Send, Done };

}  // namespace platform
