// The location pipeline: a fix through the filter, the best-known rule, the
// "QuovaLocationUpdate" notification with one observer and ten subscribers.
// The floor is the same notification and subscriber calls without the
// service, so the ratio shows what the service itself adds.
#include <benchmark/benchmark.h>

#include "location/QuovaLocationServices.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "testsupport/location/ScriptedPositionSource.hpp"

namespace {

using platform::CLLocation;
using tervolo::location::QuovaLocationServices;

std::vector<CLLocation> fixes() {
    std::vector<CLLocation> list;
    for (int i = 0; i < 10000; ++i) {
        list.emplace_back(platform::CLLocationCoordinate2D{60.0 + i * 1e-5, 25.0}, 0, 5, -1, -1, -1,
                          platform::Date::now());
    }
    return list;
}

void BM_FixThroughTheService(benchmark::State& state) {
    tervolo::testsupport::ScriptedPositionSources sources;
    auto services = QuovaLocationServices::make();
    services->initLocationServices();
    int64_t sink = 0;
    for (int i = 0; i < 10; ++i) {
        services->subscribe([&](const CLLocation&, const std::optional<std::string>&) {
            ++sink;
            return false;
        });
    }
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr, [&](const auto&) { ++sink; });
    const auto list = fixes();
    auto& manager = *services->permanentLocationManager()->manager;
    for (auto _ : state) {
        for (const auto& fix : list) services->locationManagerDidUpdateLocations(manager, {fix});
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * int64_t(list.size()));
}
BENCHMARK(BM_FixThroughTheService)->Unit(benchmark::kMillisecond);

void BM_FloorNotificationAndSubscribers(benchmark::State& state) {
    int64_t sink = 0;
    std::vector<std::function<bool(const CLLocation&, const std::optional<std::string>&)>> subscribers;
    for (int i = 0; i < 10; ++i) {
        subscribers.emplace_back([&](const CLLocation&, const std::optional<std::string>&) {
            ++sink;
            return false;
        });
    }
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr, [&](const auto&) { ++sink; });
    const auto list = fixes();
    const std::optional<std::string> guid = "guid";
    for (auto _ : state) {
        for (const auto& fix : list) {
            platform::NotificationCenter::defaultCenter().post("QuovaLocationUpdate", nullptr,
                                                               platform::NotificationCenter::UserInfo{{"CLLocation", fix}});
            for (const auto& subscriber : subscribers) subscriber(fix, guid);
        }
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * int64_t(list.size()));
}
BENCHMARK(BM_FloorNotificationAndSubscribers)->Unit(benchmark::kMillisecond);

}  // namespace
