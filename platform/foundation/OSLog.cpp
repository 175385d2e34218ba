#include "platform/foundation/OSLog.hpp"

#include <syslog.h>

#include <atomic>
#include <cstdlib>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/ProcessInfo.hpp"

namespace platform {

namespace {

struct Backend {
    std::mutex mutex;
    std::shared_ptr<OSLog::Sink> sink;
    bool syslogOpened = false;
    std::string identity;  // openlog keeps the pointer, so the text lives here
};

Backend& backend() {
    return SharedInstance<Backend>::get();
}

// -1: follow the environment; 0/1: forced by a test.
std::atomic<int> gDebugOverride{-1};

bool debugFromEnvironment() {
    static const bool enabled = [] {
        const char* value = std::getenv("TERVOLO_LOG_DEBUG");
        return value != nullptr && value[0] != '\0';
    }();
    return enabled;
}

int priorityOf(OSLogType type) {
    switch (type) {
        case OSLogType::Error:
        case OSLogType::Fault:
            return LOG_ERR;
        case OSLogType::Debug:
            return LOG_DEBUG;
        case OSLogType::Default:
        case OSLogType::Info:
            return LOG_INFO;
    }
    return LOG_INFO;
}

}  // namespace

OSLog::OSLog(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

std::shared_ptr<OSLog> OSLog::defaultLog() {
    return SharedInstance<std::shared_ptr<OSLog>>::get(
        [] { return new std::shared_ptr<OSLog>(std::make_shared<OSLog>("", "")); });
}

std::shared_ptr<OSLog> OSLog::make(std::string subsystem, std::string category) {
    return std::make_shared<OSLog>(std::move(subsystem), std::move(category));
}

bool OSLog::isEnabled(OSLogType type) const {
    if (type != OSLogType::Debug) return true;
    const int forced = gDebugOverride.load(std::memory_order_relaxed);
    return forced >= 0 ? forced == 1 : debugFromEnvironment();
}

void OSLog::write(OSLogType type, std::string_view text) const {
    if (!isEnabled(type)) return;
    Backend& out = backend();
    std::unique_lock lock(out.mutex);
    if (out.sink) {
        std::shared_ptr<Sink> sink = out.sink;
        lock.unlock();
        sink->write(Record{subsystem_, category_, type, std::string(text)});
        return;
    }
    if (!out.syslogOpened) {
        out.identity = ProcessInfo::processInfo().processName();
        ::openlog(out.identity.empty() ? nullptr : out.identity.c_str(), LOG_PID, LOG_USER);
        out.syslogOpened = true;
    }
    lock.unlock();
    std::string line;
    if (!subsystem_.empty() || !category_.empty()) line = "[" + subsystem_ + ":" + category_ + "] ";
    line.append(text);
    // The text is passed as an argument of "%s", never as the format.
    ::syslog(priorityOf(type), "%s", line.c_str());
}

void OSLog::setSink(std::shared_ptr<Sink> sink) {
    Backend& out = backend();
    std::lock_guard lock(out.mutex);
    out.sink = std::move(sink);
}

void OSLog::setDebugEnabledForTesting(std::optional<bool> enabled) {
    gDebugOverride.store(enabled ? (*enabled ? 1 : 0) : -1, std::memory_order_relaxed);
}

std::shared_ptr<OSLogCapture> OSLogCapture::install() {
    auto capture = std::make_shared<OSLogCapture>();
    OSLog::setSink(capture);
    return capture;
}

void OSLogCapture::write(const OSLog::Record& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<OSLog::Record> OSLogCapture::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> OSLogCapture::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    texts.reserve(records_.size());
    for (const auto& record : records_) texts.push_back(record.text);
    return texts;
}

void OSLogCapture::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void OSLogCapture::uninstall() {
    OSLog::setSink(nullptr);
}

}  // namespace platform
