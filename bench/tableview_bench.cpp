// Scrolling a long table against the floor: laying out the visible rows alone (configuring as many
// cells as fit in view and placing them), measured in the same run. The scrolling benchmark reports
// "x_floor", its time per scrolled screen divided by the floor's (1.0 = as fast as the floor), and
// "cells", the row widgets it ever made: with 1,000, 10,000 or 100,000 rows the same number.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>

#include <chrono>
#include <cmath>

#include <memory>
#include <vector>

#include "platform/ui/TableView.hpp"

namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 640;
constexpr double kRowHeight = 44;

double floorScreenNs = 0;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_tableview";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

void configure(platform::TableViewCell& cell, int row) {
    cell.textLabel()->setText(QStringLiteral("Point %1").arg(row));
    cell.detailTextLabel()->setText(QStringLiteral("%1 km").arg(row * 0.25, 0, 'f', 2));
}

struct Rows : platform::TableViewDataSource {
    int count = 0;
    int numberOfRows(platform::TableView&, int) override { return count; }
    platform::TableViewCell* cellForRow(platform::TableView& table, platform::IndexPath indexPath) override {
        auto* cell = table.dequeueReusableCell(QStringLiteral("Row"), indexPath);
        configure(*cell, indexPath.row);
        return cell;
    }
};

platform::TableViewCell* makeCell() {
    return new platform::TableViewCell(platform::TableViewCell::Style::Subtitle, QStringLiteral("Row"));
}

// The floor: the cells one screen needs, each configured for a new row and moved into place.
void BM_Floor_LayOutVisibleRows(benchmark::State& state) {
    application();
    QWidget viewport;
    viewport.resize(kWidth, kHeight);
    viewport.show();
    const int visible = static_cast<int>(std::ceil(kHeight / kRowHeight)) + 1;
    std::vector<platform::TableViewCell*> cells;
    for (int i = 0; i < visible; ++i) {
        cells.push_back(makeCell());
        cells.back()->setParent(&viewport);
        cells.back()->show();
    }
    int firstRow = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        firstRow += visible;
        const int shift = (firstRow / visible) % 2;  // alternate so every placement is a move
        for (int i = 0; i < visible; ++i) {
            configure(*cells[static_cast<size_t>(i)], firstRow + i);
            cells[static_cast<size_t>(i)]->setGeometry(0, static_cast<int>(i * kRowHeight) - shift, kWidth,
                                                       static_cast<int>(kRowHeight));
        }
    }
    floorScreenNs =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
}
BENCHMARK(BM_Floor_LayOutVisibleRows)->UseRealTime();

// One scrolled screen: the offset moves by the viewport's height, so every row in view is new.
void BM_TableView_ScrollScreen(benchmark::State& state) {
    application();
    auto rows = std::make_shared<Rows>();
    rows->count = static_cast<int>(state.range(0));
    platform::TableView table;
    table.setFrameShape(QFrame::NoFrame);
    table.resize(kWidth, kHeight);
    table.setRowHeight(kRowHeight);
    table.registerCell(QStringLiteral("Row"), makeCell);
    table.setDataSource(rows);
    table.show();
    const double screen = table.viewport()->height();
    const double end = table.contentHeight() - screen;
    double y = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        y += screen;
        if (y > end) y = 0;
        table.setContentOffset(y);
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    if (floorScreenNs > 0) state.counters["x_floor"] = ns / floorScreenNs;
    state.counters["cells"] = table.cellsCreated();
}
BENCHMARK(BM_TableView_ScrollScreen)->Arg(1000)->Arg(10000)->Arg(100000)->UseRealTime();

}  // namespace
