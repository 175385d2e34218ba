// Analytics queue costs, each against a reference measured in the same run.
//
// Queue writes: 10,000 requests queued with the coalescing writer, against
// the literal "rewrite the file after every change" done for a sample of the
// same requests. Counters: snapshots written per request queued and the time
// per request of both; the ratio is ours over the reference.
//
// Request building: the essentials and one caller value of 1 KB as a queued
// request, against the floor of escaping the same values alone.
#include <chrono>

#include <benchmark/benchmark.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace {

using namespace tervolo::analytics;

constexpr int kRequests = 10000;
constexpr int kReferenceRequests = 300;

tervolo::testsupport::TemporaryFolder& folder() {
    static auto* instance = new tervolo::testsupport::TemporaryFolder();
    return *instance;
}

std::shared_ptr<TallyConnectionManager> started() {
    folder();
    TallyCommon::sharedInstance().setHasStarted(true);
    auto connection = TallyConnectionManager::sharedInstance();
    connection->setAppKey("0123456789abcdef0123456789abcdef01234567");
    connection->setHost("http://127.0.0.1:9");
    connection->setIsTerminating(true);  // build and queue only
    TallyDeviceInfo::sharedInstance().setDeviceID("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    return connection;
}

std::string typicalRequest(int i) {
    return "app_key=0123456789abcdef&device_id=E621E1F8&timestamp=" + std::to_string(1700000000000 + i) +
           "&events=" + std::string(1000, 'e');
}

double referenceSecondsPerRequest = 0;

void BM_QueueSaveAfterEveryChange(benchmark::State& state) {
    started();
    for (auto _ : state) {
        TallyPersistency::resetForTesting();
        auto queue = TallyPersistency::sharedInstance();
        queue->flushQueue();
        queue->waitForPendingSaves();
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < kReferenceRequests; ++i) {
            queue->addToQueue(typicalRequest(i));
            queue->saveToFileSync();
        }
        referenceSecondsPerRequest =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() /
            kReferenceRequests;
        state.counters["snapshots_per_request"] = 1.0;
    }
}
BENCHMARK(BM_QueueSaveAfterEveryChange)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_QueueCoalescedWriter(benchmark::State& state) {
    started();
    for (auto _ : state) {
        TallyPersistency::resetForTesting();
        auto queue = TallyPersistency::sharedInstance();
        queue->setStoredRequestsLimit(kRequests);
        queue->flushQueue();
        queue->waitForPendingSaves();
        const uint64_t before = queue->snapshotWriteCount();
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < kRequests; ++i) {
            queue->addToQueue(typicalRequest(i));
        }
        queue->waitForPendingSaves();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const double writes = static_cast<double>(queue->snapshotWriteCount() - before);
        state.counters["snapshots_per_request"] = writes / kRequests;
        state.counters["snapshots"] = writes;
        if (referenceSecondsPerRequest > 0) {
            state.counters["time_ratio_vs_save_each"] = (seconds / kRequests) / referenceSecondsPerRequest;
        }
    }
}
BENCHMARK(BM_QueueCoalescedWriter)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

const std::string& callerValue() {
    static const std::string value = [] {
        std::string text;
        for (int i = 0; i < 100; ++i) text += "key " + std::to_string(i) + "=é&";
        return text.substr(0, 1000);
    }();
    return value;
}

double floorNanoseconds = 0;

void BM_EscapeValuesFloor(benchmark::State& state) {
    auto connection = started();
    const std::string appKey = connection->appKey();
    const std::string deviceID = TallyDeviceInfo::sharedInstance().deviceID();
    const auto begin = std::chrono::steady_clock::now();
    int64_t n = 0;
    for (auto _ : state) {
        std::string out;
        out.reserve(4096);
        tly_appendURLEscaped(out, appKey);
        tly_appendURLEscaped(out, deviceID);
        tly_appendURLEscaped(out, callerValue());
        benchmark::DoNotOptimize(out);
        ++n;
    }
    floorNanoseconds =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count() / n;
}
BENCHMARK(BM_EscapeValuesFloor);

void BM_BuildRequest(benchmark::State& state) {
    auto connection = started();
    const auto begin = std::chrono::steady_clock::now();
    int64_t n = 0;
    for (auto _ : state) {
        std::string query = connection->queryEssentials();
        query += "&attribution_data=";
        tly_appendURLEscaped(query, callerValue());
        benchmark::DoNotOptimize(query);
        ++n;
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count() / n;
    if (floorNanoseconds > 0) {
        state.counters["ratio_vs_escaping"] = ns / floorNanoseconds;
    }
}
BENCHMARK(BM_BuildRequest);

}  // namespace
