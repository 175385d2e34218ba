// Text hot paths against the plain floor measured in the same run:
// - the point filter's case-insensitive containment over 10,000 titles, against
//   a naive ASCII lower-case search (bounds the cost of Unicode correctness);
// - code-point ordering of 10,000 titles, against raw byte comparison;
// - describe(double) against std::to_chars' shortest form;
// - parseDouble against strtod.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"

namespace {

std::vector<std::string> titles(bool unicode) {
    std::vector<std::string> out;
    const char* streets[] = {"Barstraße", "Hafenstraße", "Rue de la Paix", "Café Central", "Dive Bar"};
    for (int i = 0; i < 10'000; ++i) {
        std::string title = std::string(unicode ? streets[i % 5] : "Harbour Pier") + " " + std::to_string(i);
        out.push_back(std::move(title));
    }
    return out;
}

void BM_ContainsCaseInsensitive(benchmark::State& state) {
    const auto list = titles(state.range(0) != 0);
    for (auto _ : state) {
        int hits = 0;
        for (const auto& title : list) hits += platform::text::containsCaseInsensitive(title, "bar");
        benchmark::DoNotOptimize(hits);
    }
}
BENCHMARK(BM_ContainsCaseInsensitive)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_NaiveAsciiContains(benchmark::State& state) {
    const auto list = titles(state.range(0) != 0);
    for (auto _ : state) {
        int hits = 0;
        for (const auto& title : list) {
            std::string lower = title;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            hits += lower.find("bar") != std::string::npos;
        }
        benchmark::DoNotOptimize(hits);
    }
}
BENCHMARK(BM_NaiveAsciiContains)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SortByCodePoint(benchmark::State& state) {
    auto list = titles(true);
    for (auto _ : state) {
        auto copy = list;
        std::sort(copy.begin(), copy.end(),
                  [](const auto& a, const auto& b) { return platform::text::compareCodePoints(a, b) < 0; });
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_SortByCodePoint)->Unit(benchmark::kMillisecond);

void BM_SortByBytes(benchmark::State& state) {
    auto list = titles(true);
    for (auto _ : state) {
        auto copy = list;
        std::sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_SortByBytes)->Unit(benchmark::kMillisecond);

const double kValues[] = {48.0, 53.5511, 9.9937, 1e-05, 1234567.125, -33.8688, 0.1, 250.0};

void BM_Describe(benchmark::State& state) {
    for (auto _ : state) {
        for (double v : kValues) benchmark::DoNotOptimize(platform::text::describe(v));
    }
}
BENCHMARK(BM_Describe);

void BM_ToCharsShortest(benchmark::State& state) {
    char buffer[64];
    for (auto _ : state) {
        for (double v : kValues) {
            auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
            benchmark::DoNotOptimize(std::string(buffer, result.ptr));
        }
    }
}
BENCHMARK(BM_ToCharsShortest);

const char* kTexts[] = {"48.0", "53.5511", "9.9937", "1e-05", "1234567.125", "-33.8688", "0.1", "250"};

void BM_ParseDouble(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* t : kTexts) benchmark::DoNotOptimize(platform::text::parseDouble(t));
    }
}
BENCHMARK(BM_ParseDouble);

void BM_Strtod(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* t : kTexts) benchmark::DoNotOptimize(std::strtod(t, nullptr));
    }
}
BENCHMARK(BM_Strtod);

}  // namespace
