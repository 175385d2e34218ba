#pragma once

#include <QRectF>
#include <QSizeF>

#include <array>
#include <functional>
#include <optional>

namespace tervolo::mapscreen {

// The map screen's hand-written layout: every frame of the screen from the
// view's size and the constants of its named constraints. No widgets here, so
// tests check the frames directly. All lengths are points (Qt's
// device-independent pixels), frames in the screen view's coordinates except
// where a field says otherwise.
struct MainViewLayout {
    // Where the scale bar is tied, as the screen's two scale constraints say.
    enum class ScaleAnchor {
        none,                      // constraints off: the bar keeps its last place
        bottomScaleContainer,      // landscape: centred in the bottom scale container
        stackScaleContainerBottom  // portrait: on the stack container's bottom margin, centred across it
    };

    struct Input {
        QSizeF viewSize;
        double sideContainerWidth = 100;
        double mapTrailingMargin = 0;       // added to the map's width (negative: narrower)
        double mapSidecontainerMargin = 5;  // from the map's right edge to the column's
        double statusLabelTrailingMargin = 8;
        // The status label's right edge while it keeps beside the map's
        // compass; none: the trailing margin from the column decides.
        std::optional<double> statusLabelRightEdge;
        double searchBarHeight = 80;
        double searchBarWidth = 600;
        double searchBarLeftSpacing = 20;
        double searchBarTopSpacing = 20;
        double searchTableHeight = 0;
        bool searchBarVisible = false;
        double scaleViewWidth = 220;
        double scaleViewHeight = 30;
        ScaleAnchor scaleAnchor = ScaleAnchor::none;
        QRectF previousScaleFrame;     // kept when the anchor is none
        QSizeF statusLabelSize;        // what its text needs
        double creditLabelHeight = 0;  // two lines of its font
        int buttonCount = 9;           // in the column, top to bottom
    };

    // Fixed measures of the screen.
    static constexpr double kButtonInset = 8;    // column edge to button
    static constexpr double kButtonSpacing = 8;  // between two buttons
    static constexpr double kColumnTopMargin = 12;
    static constexpr double kStatusTopMargin = 12;
    static constexpr double kBottomStripHeight = 44;
    static constexpr double kContainerMargin = 8;  // the containers' layout margins
    static constexpr double kSearchTableGap = 4;
    static constexpr double kSpinnerSide = 20;
    // From the search field's right edge to the spinner's: the room of the field's clear button.
    static constexpr double kSpinnerTrailingInset = 30;
    static constexpr double kDebugTextWidth = 330;
    static constexpr double kDebugTextHeight = 112;

    QRectF map;
    QRectF sideContainer;
    std::array<QRectF, 16> buttons{};  // in the column's coordinates; the first buttonCount are used
    double buttonSide = 0;
    QRectF statusLabel;
    QRectF osmCreditLabel;
    QRectF debugTextView;
    QRectF searchBar;
    QRectF searchTable;
    QRectF spinner;
    QRectF bottomContainerView;
    QRectF bottomScaleContainer;  // in the bottom container's coordinates
    QRectF stackScaleContainer;
    QRectF scaleView;

    static MainViewLayout make(const Input& input);

    // Where the credit line goes, clear of the scale bar at its current frame
    // (`scaleFrame`, which the scale's own updates change between layouts):
    // along the map's bottom edge right of the bar, its text wrapped to that
    // width, while that is at least `widestWord` (no word is broken) and takes
    // at most `maxLines` lines; otherwise as wide as the map left of the
    // column, ending above the bar. `heightForWidth` gives the height the text
    // needs at a width. Empty when there is no room.
    static QRectF creditFrame(QSizeF viewSize, double columnLeft, const QRectF& scaleFrame, double lineHeight,
                              int maxLines, double widestWord,
                              const std::function<double(double width)>& heightForWidth);
};

// The side of the column's buttons for a column width and a view height: six
// tenths of the column's width (at most the column less its insets), but never
// so tall that the buttons leave the view.
double mapButtonSide(double columnWidth, double viewHeight, int buttonCount);

}  // namespace tervolo::mapscreen
