#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pointscreens/PDFDocumentInfo.hpp"
#include "pointscreens/PDFLayout.hpp"

class QPdfWriter;

namespace tervolo::pointscreens {

// Prints the point list as a PDF document: the title line and the optional
// subtitle line on page 1, then the sections in code-point order of their
// titles with one line per point, on pages of 595.44 × 792 pt (the layout's
// rules are PDFLayout's; the text is set by PDFTextEngine).
//
// Lives for one print action: the caller fills the three fields, calls
// createPDF() once and drops it. Main thread only (Qt's fonts and writer;
// a QGuiApplication must exist).
//
// Qt's writer keeps page sizes in whole points, so the page box comes out
// 595 × 792 (0.44 pt narrower than asked); the layout still uses 595.44.
class PDFCreator {
  public:
    // An empty pointsDict and no title or subtitle line.
    PDFCreator() = default;

    // Section title to its points, each list in display order.
    const PDFLayout::PointsDict& pointsDict() const { return pointsDict_; }
    void setPointsDict(PDFLayout::PointsDict value) { pointsDict_ = std::move(value); }
    // First line of page 1, in the title style (localised by the caller).
    const std::optional<std::string>& titleLine() const { return titleLine_; }
    void setTitleLine(std::optional<std::string> value) { titleLine_ = std::move(value); }
    // Second line of page 1, in the text style (localised by the caller).
    const std::optional<std::string>& subtitleLine() const { return subtitleLine_; }
    void setSubtitleLine(std::optional<std::string> value) { subtitleLine_ = std::move(value); }

    // The complete document. Cannot fail.
    std::vector<uint8_t> createPDF() const;

    // The pages createPDF() draws, measured the same way.
    std::vector<PDFLayout::Page> layoutPages() const;

    // Title "Locations from Tervolo", creator "Tervolo for Linux" (both
    // localised) and as author the product's web address ending in "/".
    static PDFDocumentInfo documentInfo();

    // Page size, zero margins and 72 dpi (one unit is one point), title and
    // creator: the writer as createPDF() sets it up.
    static void configureWriter(QPdfWriter& writer, const PDFDocumentInfo& info);

  private:
    std::vector<PDFLayout::Item> items() const;

    PDFLayout::PointsDict pointsDict_;
    std::optional<std::string> titleLine_;
    std::optional<std::string> subtitleLine_;
};

}  // namespace tervolo::pointscreens
