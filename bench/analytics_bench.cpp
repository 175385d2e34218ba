// Analytics queue costs, each against a reference measured in the same run.
//
// Queue writes: 10,000 requests queued with the coalescing writer, against
// the literal "rewrite the file after every change" done for a sample of the
// same requests. Counters: snapshots written per request queued and the time
// per request of both; the ratio is ours over the reference.
//
// Request building: the essentials and one caller value of 1 KB as a queued
// request, against the floor of escaping the same values alone.
//
// Draining: 1,000 queued requests sent one at a time to a loopback server,
// against a plain libcurl loop posting the same bodies to the same server
// over one kept-alive connection. Counter: our rate over libcurl's.
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <benchmark/benchmark.h>

#include "analytics/Tally.hpp"
#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyText.hpp"
#include "platform/net/URLSession.hpp"
#include "testsupport/FakeAnalyticsServer.hpp"
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

constexpr int kDrained = 1000;

// Answering at once (range 0) or after 20 ms (range 20), as a distant server would.
tervolo::testsupport::FakeAnalyticsServer& analyticsServer(int64_t delayMs = 0) {
    static auto* instant = new tervolo::testsupport::FakeAnalyticsServer();
    static auto* distant = [] {
        auto* server = new tervolo::testsupport::FakeAnalyticsServer();
        server->setDefaultReply(tervolo::testsupport::FakeAnalyticsServer::success().withDelay(0.02));
        return server;
    }();
    return delayMs == 0 ? *instant : *distant;
}

int drainedCount(int64_t delayMs) {
    return delayMs == 0 ? kDrained : 100;
}

std::string drainedRequest(int i) {
    return "app_key=0123456789abcdef&device_id=E621E1F8&timestamp=" + std::to_string(1700000000000 + i) +
           "&sdk_version=21.11.2&sdk_name=tally-native-cpp&session_duration=60";
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

double curlRequestsPerSecond[2] = {0, 0};

void BM_DrainCurlFloor(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int64_t delay = state.range(0);
    const int count = drainedCount(delay);
    const std::string url = analyticsServer(delay).host() + "/i";
    for (auto _ : state) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            const std::string body = drainedRequest(i);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
            if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("request failed");
        }
        curlRequestsPerSecond[delay != 0] =
            count / std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        curl_easy_cleanup(easy);
        state.counters["requests_per_s"] = curlRequestsPerSecond[delay != 0];
    }
}
BENCHMARK(BM_DrainCurlFloor)->Arg(0)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_DrainQueue(benchmark::State& state) {
    const int64_t delay = state.range(0);
    const int count = drainedCount(delay);
    auto connection = started();
    connection->setHost(analyticsServer(delay).host());
    connection->setAlwaysUsePOST(true);
    for (auto _ : state) {
        state.PauseTiming();
        connection->setIsTerminating(true);
        TallyPersistency::resetForTesting();
        auto queue = TallyPersistency::sharedInstance();
        queue->setStoredRequestsLimit(count);
        queue->flushQueue();
        for (int i = 0; i < count; ++i) queue->addToQueue(drainedRequest(i));
        queue->waitForPendingSaves();
        connection->setIsTerminating(false);
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        while (queue->queueCount() > 0) {
            connection->proceedOnQueue();
            connection->waitUntilIdle(10);
        }
        const double rate =
            count / std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.counters["requests_per_s"] = rate;
        if (curlRequestsPerSecond[delay != 0] > 0) {
            state.counters["rate_ratio_vs_curl"] = rate / curlRequestsPerSecond[delay != 0];
        }
    }
    connection->setIsTerminating(true);
}
BENCHMARK(BM_DrainQueue)->Arg(0)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

namespace {

// The platform session alone, chaining the same POSTs from each completion:
// what any client of URLSession pays per sequential request.
void BM_DrainSessionChainOnly(benchmark::State& state) {
    const std::string url = analyticsServer().host() + "/i";
    auto session = platform::URLSession::make(platform::URLSessionConfiguration::defaultConfiguration());
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable done;
        int completed = 0;
        std::function<void(int)> send = [&](int i) {
            platform::URLRequest request(url);
            request.httpMethod = "POST";
            const std::string body = drainedRequest(i);
            auto task = session->uploadTask(request, std::vector<uint8_t>(body.begin(), body.end()),
                                            [&, i](auto, auto, auto) {
                                                if (i + 1 < kDrained) {
                                                    send(i + 1);
                                                } else {
                                                    std::lock_guard lock(mutex);
                                                    completed = kDrained;
                                                    done.notify_all();
                                                }
                                            });
            task->resume();
        };
        const auto begin = std::chrono::steady_clock::now();
        send(0);
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return completed == kDrained; });
        const double rate =
            kDrained / std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.counters["requests_per_s"] = rate;
        if (curlRequestsPerSecond[0] > 0)
            state.counters["rate_ratio_vs_curl"] = rate / curlRequestsPerSecond[0];
    }
}
BENCHMARK(BM_DrainSessionChainOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

namespace {

// Recording an event through the facade (consent, truncation, the list, the
// threshold send every 100 events with its JSON and queue append), against
// the floor of building the same event's JSON text alone. Goal: at most 2x.
TallyJSON benchSegmentation() {
    TallyJSON segmentation = TallyJSON::object();
    segmentation["screen"] = "PointDetailsViewController";
    segmentation["version"] = "1.4.2";
    segmentation["format"] = "UTM";
    return segmentation;
}

double eventFloorNanoseconds = 0;

void BM_EventJSONFloor(benchmark::State& state) {
    const TallyJSON segmentation = benchSegmentation();
    int64_t n = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        TallyEvent event;
        event.key = "didFinishLaunchingWithOptions";
        event.segmentation = segmentation;
        event.timestamp = 1700000000.123 + static_cast<double>(n) / 1000.0;
        event.hourOfDay = 22;
        event.dayOfWeek = 2;
        benchmark::DoNotOptimize(TallyJSONFromObject(TallyJSON::array({event.dictionaryRepresentation()})));
        ++n;
    }
    eventFloorNanoseconds =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count() / n;
}
BENCHMARK(BM_EventJSONFloor);

void BM_RecordEvent(benchmark::State& state) {
    started();
    auto connection = TallyConnectionManager::sharedInstance();
    connection->setIsTerminating(true);
    TallyPersistency::resetForTesting();
    auto queue = TallyPersistency::sharedInstance();
    queue->setStoredRequestsLimit(1000);
    const TallyJSON segmentation = benchSegmentation();
    int64_t n = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        Tally::sharedInstance().recordEvent("didFinishLaunchingWithOptions", segmentation);
        ++n;
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count() / n;
    queue->waitForPendingSaves();
    if (eventFloorNanoseconds > 0 && state.threads() == 1)
        state.counters["ratio_vs_event_json"] = ns / eventFloorNanoseconds;
    state.counters["events_per_s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordEvent)->Threads(1);
BENCHMARK(BM_RecordEvent)->Threads(4)->UseRealTime();

}  // namespace
