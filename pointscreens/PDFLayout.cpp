#include "pointscreens/PDFLayout.hpp"

#include <algorithm>
#include <numeric>

#include "platform/text/Unicode.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::pointscreens {

std::string PDFLayout::pointLine(const points::QuovaMapPoint& point, const std::string& unknownTitle) {
    std::string line = point.title().value_or(unknownTitle);
    if (point.subtitle()) {
        line += ", ";
        line += *point.subtitle();
    }
    return line;
}

std::vector<PDFLayout::Item> PDFLayout::items(const PointsDict& pointsDict,
                                              const std::optional<std::string>& titleLine,
                                              const std::optional<std::string>& subtitleLine,
                                              const std::string& unknownTitle) {
    std::vector<Item> result;
    if (titleLine) result.push_back({Kind::titleLine, *titleLine});
    if (subtitleLine) result.push_back({Kind::subtitleLine, *subtitleLine});

    // The map orders its keys by bytes; the document orders them by code
    // point of their NFC forms, whatever form the caller's keys are in.
    std::vector<PointsDict::const_iterator> sections;
    sections.reserve(pointsDict.size());
    for (auto it = pointsDict.begin(); it != pointsDict.end(); ++it) sections.push_back(it);
    std::stable_sort(sections.begin(), sections.end(), [](const auto& a, const auto& b) {
        return platform::text::compareCodePoints(a->first, b->first) < 0;
    });

    for (const auto& section : sections) {
        result.push_back({Kind::sectionTitle, section->first});
        for (const auto& point : section->second) {
            if (!point) continue;
            result.push_back({Kind::pointLine, pointLine(*point, unknownTitle)});
        }
    }
    return result;
}

std::vector<PDFLayout::Page> PDFLayout::layout(const std::vector<Item>& items, Measurer& measurer) {
    std::vector<Page> pages(1);
    double y = kMargin;
    bool breakPending = false;
    const auto beginPage = [&] {
        pages.emplace_back();
        y = kMargin;
    };

    for (const Item& item : items) {
        // The break asked for by the previous line happens only now that
        // something follows it, so the last page is never empty.
        if (breakPending) {
            beginPage();
            breakPending = false;
        }
        const bool header = item.kind == Kind::titleLine || item.kind == Kind::subtitleLine;
        const Style style =
            (item.kind == Kind::titleLine || item.kind == Kind::sectionTitle) ? Style::title : Style::text;
        Measure measure = measurer.measure(item.text, style, kTextWidth);
        const double h = measure.naturalHeight;
        if (measure.lineHeights.empty()) measure.lineHeights.push_back(h);
        const std::vector<double>& lines = measure.lineHeights;
        const double boxHeight = std::accumulate(lines.begin(), lines.end(), 0.0);

        PlacedText placed;
        placed.text = item.text;
        placed.style = style;
        if (header && measure.naturalWidth <= kTextWidth) {
            // Centred on the page and never wrapped.
            placed.alignment = Alignment::centre;
            placed.wraps = false;
            placed.x = (kPageWidth - measure.naturalWidth) * 0.5;
            placed.width = measure.naturalWidth;
        } else {
            // A header wider than the text column wraps inside it, each line
            // centred, instead of running off both edges of the page.
            placed.alignment = header ? Alignment::centre : Alignment::natural;
            placed.x = kMargin;
            placed.width = kTextWidth;
        }

        // An item that would cross the bottom margin starts a new page, whole,
        // unless no page could hold it: then it starts here and is split.
        if (y + boxHeight > kBottomEdge && boxHeight <= kBottomEdge - kMargin &&
            !pages.back().texts.empty()) {
            beginPage();
        }

        // Place it; only an item taller than a whole page is split, between
        // its lines (at least one line per page, so the loop always ends).
        size_t first = 0;
        double lastRunHeight = 0;
        for (;;) {
            size_t count = 0;
            double runHeight = 0;
            while (first + count < lines.size() &&
                   (count == 0 || y + runHeight + lines[first + count] <= kBottomEdge)) {
                runHeight += lines[first + count];
                ++count;
            }
            PlacedText run = placed;
            run.y = y;
            run.height = runHeight;
            run.firstLine = first;
            run.lineCount = count;
            pages.back().texts.push_back(std::move(run));
            first += count;
            lastRunHeight = runHeight;
            if (first >= lines.size()) break;
            beginPage();
        }

        y += lastRunHeight + kGapFactor * h;
        if (item.kind == Kind::pointLine && y > kBreakBound - 2 * h) breakPending = true;
    }
    return pages;
}

}  // namespace tervolo::pointscreens
