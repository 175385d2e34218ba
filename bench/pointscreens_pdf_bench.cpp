// The point list's PDF against its floor: drawing the same placed lines into a QPdfWriter with
// QPainter::drawText, without measuring anything (the lines' places are computed once, outside the
// timed loop). createPDF() reports "x_floor", its time divided by the floor's for the same list
// (target at most 2), and at 10,000 points "x_1000", its time divided by the 1,000-point time
// (target at most 12: the work per line stays flat), with the page count and the bytes written.
// A tenth of the points carry a note long enough to wrap.

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "points/QuovaMapPoint.hpp"
#include "pointscreens/PDFCreator.hpp"
#include "pointscreens/PDFTextEngine.hpp"

namespace {

using tervolo::pointscreens::PDFCreator;
using tervolo::pointscreens::PDFLayout;
using tervolo::pointscreens::PDFTextEngine;

std::map<int64_t, double> floorNs;
std::map<int64_t, double> createNs;

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "bench_pointscreens_pdf";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

// A list of `count` points in sections by first letter, with street addresses; every tenth has a
// note that wraps onto two or three lines.
PDFCreator makeCreator(int64_t count) {
    static const char* names[] = {"Bakery",  "Harbour", "Camp site", "Lighthouse", "Caf\xC3\xA9", "Museum",
                                  "Station", "Bridge",  "Viewpoint", "Market",     "Trailhead",   "Library"};
    static const char* streets[] = {
        "Hauptstra\xC3\x9F"
        "e",
        "Harbour Road",
        "Rue de la Paix",
        "Storgatan",
        "Via Roma",
        "Kings Avenue"};
    std::mt19937 random(20240611);
    PDFCreator creator;
    creator.setTitleLine("Locations from Tervolo");
    creator.setSubtitleLine("Sorted by title");
    PDFLayout::PointsDict dict;
    for (int64_t i = 0; i < count; ++i) {
        const std::string title = std::string(names[random() % 12]) + " " + std::to_string(i);
        auto point = tervolo::points::QuovaMapPoint::make(title);
        std::string subtitle = std::string(streets[random() % 6]) + " " + std::to_string(1 + random() % 200) +
                               ", " + std::to_string(10000 + random() % 89999) + " Town";
        if (i % 10 == 0) {
            subtitle +=
                " \xE2\x80\x94 open from April to October, closed on public holidays; ask at the kiosk "
                "by the gate for the key and bring cash, cards are not taken";
        }
        point->setSubtitle(subtitle);
        dict[std::string(1, title[0])].push_back(point);
    }
    creator.setPointsDict(std::move(dict));
    return creator;
}

double nsPerIteration(std::chrono::steady_clock::time_point start, const benchmark::State& state) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
           static_cast<double>(state.iterations());
}

// The floor: the placed lines drawn with the plain QPainter text call, one page after another.
void BM_Floor_DrawPlacedLines(benchmark::State& state) {
    application();
    const PDFCreator creator = makeCreator(state.range(0));
    const std::vector<PDFLayout::Page> pages = creator.layoutPages();
    std::vector<std::vector<std::pair<QString, const PDFLayout::PlacedText*>>> texts;
    for (const auto& page : pages) {
        auto& list = texts.emplace_back();
        for (const auto& placed : page.texts)
            list.emplace_back(PDFTextEngine::layoutText(placed.text), &placed);
    }
    size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        PDFCreator::configureWriter(writer, PDFCreator::documentInfo());
        const PDFTextEngine fonts(&writer);
        QPainter painter(&writer);
        for (size_t p = 0; p < texts.size(); ++p) {
            if (p > 0) writer.newPage();
            for (const auto& [text, placed] : texts[p]) {
                painter.setFont(fonts.font(placed->style));
                painter.drawText(QRectF(placed->x, placed->y, placed->width, placed->height),
                                 Qt::TextWordWrap | Qt::AlignLeft, text);
            }
        }
        painter.end();
        bytes = static_cast<size_t>(data.size());
    }
    floorNs[state.range(0)] = nsPerIteration(start, state);
    state.counters["pages"] = static_cast<double>(pages.size());
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Floor_DrawPlacedLines)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CreatePDF(benchmark::State& state) {
    application();
    const PDFCreator creator = makeCreator(state.range(0));
    size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto pdf = creator.createPDF();
        bytes = pdf.size();
        benchmark::DoNotOptimize(pdf.data());
    }
    const double ns = nsPerIteration(start, state);
    createNs[state.range(0)] = ns;
    if (floorNs[state.range(0)] > 0) state.counters["x_floor"] = ns / floorNs[state.range(0)];
    if (state.range(0) == 10000 && createNs[1000] > 0) state.counters["x_1000"] = ns / createNs[1000];
    state.counters["pages"] = static_cast<double>(creator.layoutPages().size());
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CreatePDF)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
