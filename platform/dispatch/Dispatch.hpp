#pragma once

// The whole dispatch, time and notification layer.
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/DispatchSourceTimer.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/Once.hpp"
#include "platform/dispatch/ProcessorCount.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/dispatch/VirtualClock.hpp"
