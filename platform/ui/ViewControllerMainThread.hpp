#pragma once

#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/foundation/Assertion.hpp"

// The UI layer's objects (view controllers, presentation, navigation, alerts,
// windows) live on the main thread, like the Qt widgets under them. Debug
// builds check it at every public entry point; release builds trust callers.
#ifndef NDEBUG
#define PLATFORM_UI_ASSERT_MAIN_THREAD() \
    PLATFORM_ASSERT(::platform::isMainThread(), "UI object used off the main thread")
#else
#define PLATFORM_UI_ASSERT_MAIN_THREAD() \
    do {                                 \
    } while (false)
#endif
