#include "testsupport/location/ScriptedPositionSource.hpp"

#include "platform/location/CLLocationManager.hpp"

namespace tervolo::testsupport {

void ScriptedPositionSource::setListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void ScriptedPositionSource::start(const Settings& settings) {
    std::lock_guard lock(mutex_);
    running_ = true;
    starts_.push_back(settings);
}

void ScriptedPositionSource::stop() {
    std::lock_guard lock(mutex_);
    running_ = false;
    ++stops_;
}

void ScriptedPositionSource::deliver(const platform::CLLocation& fix) {
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;  // a stopped service delivers nothing
        listener = listener_;
    }
    if (listener.fix) listener.fix(fix);
}

void ScriptedPositionSource::fail(const platform::Error& error) {
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    if (listener.error) listener.error(error);
}

void ScriptedPositionSource::answerAuthorization(platform::CLAuthorizationStatus status) {
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    if (listener.authorization) listener.authorization(status);
}

bool ScriptedPositionSource::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::vector<platform::PositionSource::Settings> ScriptedPositionSource::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

int ScriptedPositionSource::stopCount() const {
    std::lock_guard lock(mutex_);
    return stops_;
}

ScriptedPositionSources::ScriptedPositionSources(bool available) {
    platform::CLLocationManager::resetAuthorizationForTesting();
    auto shared = shared_;
    platform::setPositionSourceFactory([shared, available]() -> std::shared_ptr<platform::PositionSource> {
        if (!available) return nullptr;
        auto source = std::make_shared<ScriptedPositionSource>();
        std::lock_guard lock(shared->mutex);
        shared->made.push_back(source);
        return source;
    });
}

ScriptedPositionSources::~ScriptedPositionSources() {
    platform::setPositionSourceFactory(nullptr);
    platform::CLLocationManager::resetAuthorizationForTesting();
}

std::vector<std::shared_ptr<ScriptedPositionSource>> ScriptedPositionSources::made() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->made;
}

}  // namespace tervolo::testsupport
