#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tervolo::points {
class QuovaMapPoint;
}

namespace tervolo::pointscreens {

// The fixed page layout of the point-list PDF, as a pure function: the items
// to print and a text measurer in, pages of placed texts out. No drawing and
// no Qt, so the page-break rules are tested exactly with a fake measurer.
//
// Units: typographic points; origin at the top-left corner of the page, y
// grows downwards. Any thread (the layout keeps no state).
//
// The rules, with h an item's natural (unwrapped) height:
//   - every page starts at y = 72; the header lines (title, subtitle) are
//     centred on the page when they fit the text width, else wrapped at the
//     text width with each line centred (so they never run off the page);
//   - section titles and point lines sit at x = 72, wrapped at 451.44 in
//     natural alignment; their box is as tall as the wrapped lines really are
//     (not h times an estimated line count, which clips text);
//   - every item is followed by a gap of 0.3 h;
//   - after a point line, y > 648 - 2h asks for a new page (equality does
//     not), but the page begins only when another item follows, so the
//     document never ends with an empty page; no test follows a section title;
//   - an item whose box would cross the bottom margin (y 720) moves whole to
//     a new page; one taller than a whole page starts where it is and is
//     split between its lines, onto as many pages as it needs.
class PDFLayout {
  public:
    static constexpr double kPageWidth = 595.44;
    static constexpr double kPageHeight = 792.0;
    static constexpr double kMargin = 72.0;
    static constexpr double kTextWidth = 451.44;    // page width less two margins
    static constexpr double kBreakBound = 648.0;    // page height less two margins
    static constexpr double kBottomEdge = 720.0;    // page height less the bottom margin
    static constexpr double kGapFactor = 0.3;       // gap after an item, times its natural height
    static constexpr double kTitleFontSize = 20.0;  // heavy weight
    static constexpr double kTextFontSize = 16.0;   // regular weight

    enum class Style { title, text };

    // What an item is decides its placement and the break test after it.
    enum class Kind { titleLine, subtitleLine, sectionTitle, pointLine };

    struct Item {
        Kind kind;
        std::string text;
    };

    // A text's extent as the drawing engine sets it.
    struct Measure {
        double naturalWidth = 0;   // without a width limit (the widest line)
        double naturalHeight = 0;  // without a width limit (one line for text without line breaks)
        // The heights of the lines the text takes when wrapped at the width
        // asked for, top to bottom (at least one).
        std::vector<double> lineHeights;
    };

    // Measures texts for the layout; the drawing must set them the same way.
    class Measurer {
      public:
        virtual ~Measurer() = default;
        virtual Measure measure(const std::string& text, Style style, double wrapWidth) = 0;
    };

    enum class Alignment {
        natural,  // left for left-to-right text, right for right-to-left text
        centre,
    };

    // One text (or a run of its wrapped lines) placed on a page.
    struct PlacedText {
        std::string text;
        Style style = Style::text;
        Alignment alignment = Alignment::natural;
        double x = 0, y = 0, width = 0, height = 0;
        // The width the text is wrapped at (lines are set in x … x + width).
        // For a header that fits, width is its natural width and nothing wraps.
        bool wraps = true;
        // The lines drawn here: all of them unless an item taller than a page
        // was split.
        size_t firstLine = 0;
        size_t lineCount = 1;
    };

    struct Page {
        std::vector<PlacedText> texts;
    };

    using PointsDict = std::map<std::string, std::vector<std::shared_ptr<points::QuovaMapPoint>>>;

    // The items of a document: the title line, the subtitle line, then per
    // section (in code-point order of the NFC titles) its title and its point
    // lines in the array's order. A point line is the title (or
    // `unknownTitle`), with ", " and the subtitle when the point has one
    // (even an empty one).
    static std::vector<Item> items(const PointsDict& pointsDict, const std::optional<std::string>& titleLine,
                                   const std::optional<std::string>& subtitleLine,
                                   const std::string& unknownTitle);

    // The line a point prints as (see items()).
    static std::string pointLine(const points::QuovaMapPoint& point, const std::string& unknownTitle);

    // The pages the items take; always at least one.
    static std::vector<Page> layout(const std::vector<Item>& items, Measurer& measurer);
};

}  // namespace tervolo::pointscreens
