#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/location/PositionSource.hpp"

namespace tervolo::testsupport {

// A position source a test drives by hand: fixes, errors and authorisation
// answers are delivered when the test says so (call them from the main
// thread, or advance a virtual clock after scheduling them with asyncAfter).
// Every source made while a ScriptedPositionSources is installed is recorded
// in creation order.
class ScriptedPositionSource : public platform::PositionSource {
  public:
    void setListener(Listener listener) override;
    void start(const Settings& settings) override;
    void stop() override;

    void deliver(const platform::CLLocation& fix);
    void fail(const platform::Error& error);
    void answerAuthorization(platform::CLAuthorizationStatus status);

    bool isRunning() const;
    // Every start() with its settings, and the number of stop() calls.
    std::vector<Settings> starts() const;
    int stopCount() const;

  private:
    mutable std::mutex mutex_;
    Listener listener_;
    bool running_ = false;
    std::vector<Settings> starts_;
    int stops_ = 0;
};

// Installs a factory of scripted sources for the scope; `available` false
// installs one that finds no position service.
class ScriptedPositionSources {
  public:
    explicit ScriptedPositionSources(bool available = true);
    ~ScriptedPositionSources();
    ScriptedPositionSources(const ScriptedPositionSources&) = delete;
    ScriptedPositionSources& operator=(const ScriptedPositionSources&) = delete;

    std::vector<std::shared_ptr<ScriptedPositionSource>> made() const;

  private:
    struct Shared {
        std::mutex mutex;
        std::vector<std::shared_ptr<ScriptedPositionSource>> made;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace tervolo::testsupport
