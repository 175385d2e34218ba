#include "testsupport/TestEnvironment.hpp"

#include <mutex>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::testsupport {

namespace {

struct Resets {
    std::mutex mutex;
    std::vector<std::function<void()>> resets;
};

Resets& resets() {
    return platform::SharedInstance<Resets>::get();
}

}  // namespace

TestEnvironment::TestEnvironment(Options options)
    : time_(options.wallSeconds, options.monotonicSeconds),
      searchIndex_(FakeSearchIndex::install(FakeSearchIndex::Completion::onOwnQueue)) {
    runResets();
}

TestEnvironment::~TestEnvironment() {
    runResets();
    FakeSearchIndex::uninstall();
}

bool TestEnvironment::registerReset(std::function<void()> reset) {
    auto& all = resets();
    std::lock_guard lock(all.mutex);
    all.resets.push_back(std::move(reset));
    return true;
}

void TestEnvironment::runResets() {
    std::vector<std::function<void()>> snapshot;
    {
        auto& all = resets();
        std::lock_guard lock(all.mutex);
        snapshot = all.resets;
    }
    for (const auto& reset : snapshot) reset();
}

}  // namespace tervolo::testsupport
