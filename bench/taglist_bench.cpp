// Laying out a tag list of 1,000 chips against the floor of measuring their
// titles alone (the one thing a layout cannot skip the first time).
#include <benchmark/benchmark.h>

#include <QApplication>

#include "platform/ui/TextMeasure.hpp"
#include "widgets/taglist/TagFlowView.hpp"

namespace {

using tervolo::widgets::taglist::TagFlowView;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_taglist";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

std::vector<QString> titles() {
    static const char* words[] = {"Bar",  "Cinema",     "Favorite", "MustSee",
                                  "Park", "Restaurant", "Sauna",    "Harbour"};
    std::vector<QString> list;
    for (int i = 0; i < 1000; ++i) list.push_back(QString("%1 %2").arg(words[i % 8]).arg(i));
    return list;
}

void BM_LayoutThousandTags(benchmark::State& state) {
    application();
    TagFlowView list;
    list.resize(800, 600);
    list.addTags(titles());
    for (auto _ : state) {
        list.rearrangeViews();
        benchmark::DoNotOptimize(list.rows());
    }
}
BENCHMARK(BM_LayoutThousandTags)->Unit(benchmark::kMicrosecond);

void BM_FloorMeasureThousandTitles(benchmark::State& state) {
    application();
    QFont font;
    font.setPointSizeF(12);
    const auto list = titles();
    for (auto _ : state) {
        double total = 0;
        for (const auto& title : list) total += platform::textSize(font, title).width();
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_FloorMeasureThousandTitles)->Unit(benchmark::kMicrosecond);

}  // namespace
