#pragma once

#include <string>

#include "platform/dispatch/Date.hpp"

namespace tervolo::search {

// What the polling timer carries as its user info: the backend identifier of
// the search it polls for, and when polling began (the 30-second polling
// limit is measured from it). Never encoded. A value; main thread.
struct TimerConfiguration {
    std::string uuid;
    platform::Date startDate;  // seconds since 2001
};

}  // namespace tervolo::search
