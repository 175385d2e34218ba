// 1,000 small GETs over loopback through URLSession, against the floor: a bare
// libcurl multi loop doing the same requests with the same connection cap to
// the same server in the same run. The URLSession figure carries the ratio.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <benchmark/benchmark.h>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/net/URLSession.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace {

constexpr int kRequests = 1000;
constexpr long kConnections = 6;

tervolo::testsupport::LoopbackHTTPServer& server() {
    static auto* instance = [] {
        auto* s = new tervolo::testsupport::LoopbackHTTPServer();
        s->route("GET", "/small", tervolo::testsupport::CannedReply::text(std::string(200, 's')));
        return s;
    }();
    return *instance;
}

double floorSecondsPerBatch = 0;

size_t collect(char* bytes, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(bytes, size * count);
    return size * count;
}

void BM_CurlMultiFloor(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::string url = server().url("/small");
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kConnections);
    std::vector<std::string> bodies(kRequests);
    double total = 0;
    int64_t batches = 0;
    for (auto _ : state) {
        auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < kRequests; ++i) {
            bodies[i].clear();
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[i]);
            curl_multi_add_handle(multi, easy);
        }
        int running = 1;
        int done = 0;
        while (done < kRequests) {
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                if (message->data.result != CURLE_OK) state.SkipWithError("request failed");
                curl_multi_remove_handle(multi, message->easy_handle);
                curl_easy_cleanup(message->easy_handle);
                ++done;
            }
            if (done < kRequests) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ++batches;
    }
    curl_multi_cleanup(multi);
    floorSecondsPerBatch = total / static_cast<double>(batches);
    state.counters["requests_per_s"] = benchmark::Counter(
        static_cast<double>(kRequests) * static_cast<double>(batches), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CurlMultiFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_URLSession(benchmark::State& state) {
    auto configuration = platform::URLSessionConfiguration::ephemeral();
    configuration.httpMaximumConnectionsPerHost = static_cast<int>(kConnections);
    auto session = platform::URLSession::make(configuration);
    std::string url = server().url("/small");
    std::mutex mutex;
    std::condition_variable finished;
    double total = 0;
    int64_t batches = 0;
    for (auto _ : state) {
        auto begin = std::chrono::steady_clock::now();
        int done = 0;
        std::atomic<bool> failed{false};
        for (int i = 0; i < kRequests; ++i) {
            session
                ->dataTask(url,
                           [&](std::optional<std::vector<uint8_t>>, std::optional<platform::HTTPURLResponse>,
                               std::optional<platform::Error> error) {
                               if (error) failed = true;
                               std::lock_guard lock(mutex);
                               if (++done == kRequests) finished.notify_one();
                           })
                ->resume();
        }
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done == kRequests; });
        if (failed) state.SkipWithError("request failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ++batches;
    }
    double perBatch = total / static_cast<double>(batches);
    state.counters["requests_per_s"] = benchmark::Counter(
        static_cast<double>(kRequests) * static_cast<double>(batches), benchmark::Counter::kIsRate);
    if (floorSecondsPerBatch > 0) state.counters["x_curl_floor"] = perBatch / floorSecondsPerBatch;
}
BENCHMARK(BM_URLSession)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
