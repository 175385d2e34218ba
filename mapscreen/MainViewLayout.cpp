#include "mapscreen/MainViewLayout.hpp"

#include <algorithm>
#include <cmath>

namespace tervolo::mapscreen {

namespace {
constexpr double kButtonWidthShare = 0.6;
}  // namespace

double mapButtonSide(double columnWidth, double viewHeight, int buttonCount) {
    const int count = std::max(buttonCount, 1);
    // A desktop column keeps its buttons well inside it: six tenths of its width.
    const double byWidth =
        std::min(columnWidth - 2 * MainViewLayout::kButtonInset, columnWidth * kButtonWidthShare);
    const double byHeight =
        (viewHeight - 2 * MainViewLayout::kColumnTopMargin - (count - 1) * MainViewLayout::kButtonSpacing) /
        count;
    return std::max(0.0, std::floor(std::min(byWidth, byHeight)));
}

MainViewLayout MainViewLayout::make(const Input& in) {
    MainViewLayout out;
    const double width = std::max(0.0, in.viewSize.width());
    const double height = std::max(0.0, in.viewSize.height());

    out.map = QRectF(0, 0, std::max(0.0, width + in.mapTrailingMargin), height);

    const double columnWidth = std::max(0.0, in.sideContainerWidth);
    const double columnX = out.map.right() - in.mapSidecontainerMargin - columnWidth;
    out.sideContainer = QRectF(columnX, 0, columnWidth, height);
    const int count = std::clamp(in.buttonCount, 0, static_cast<int>(out.buttons.size()));
    out.buttonSide = mapButtonSide(columnWidth, height, count);
    const double buttonX = std::floor((columnWidth - out.buttonSide) / 2);
    for (int i = 0; i < count; ++i) {
        out.buttons[static_cast<size_t>(i)] =
            QRectF(buttonX, kColumnTopMargin + i * (out.buttonSide + kButtonSpacing), out.buttonSide,
                   out.buttonSide);
    }

    // The search field at the top left, never under the column.
    const double searchX = in.searchBarLeftSpacing;
    const double searchRoom = std::max(0.0, columnX - kContainerMargin - searchX);
    out.searchBar =
        QRectF(searchX, in.searchBarTopSpacing, std::min(in.searchBarWidth, searchRoom), in.searchBarHeight);
    out.searchTable = QRectF(searchX, out.searchBar.bottom() + kSearchTableGap, out.searchBar.width(),
                             std::max(0.0, in.searchTableHeight));
    // The spinner inside the field at its end, before the clear button: it tells that this field's
    // search runs, so it stands in the field, not on the map beside it.
    out.spinner = QRectF(out.searchBar.right() - kSpinnerTrailingInset - kSpinnerSide,
                         out.searchBar.center().y() - kSpinnerSide / 2, kSpinnerSide, kSpinnerSide);

    // The status label at the top right, beside the column; left of it only
    // what the open search field leaves. When that is too narrow for the text,
    // the label moves below the field and its results.
    const double statusRight =
        in.statusLabelRightEdge ? *in.statusLabelRightEdge : columnX - in.statusLabelTrailingMargin;
    double statusLeftLimit =
        in.searchBarVisible ? out.searchBar.right() + kContainerMargin : kContainerMargin;
    double statusTop = kStatusTopMargin;
    if (in.searchBarVisible && statusRight - statusLeftLimit < in.statusLabelSize.width()) {
        statusLeftLimit = kContainerMargin;
        statusTop =
            (in.searchTableHeight > 0 ? out.searchTable.bottom() : out.searchBar.bottom()) + kContainerMargin;
    }
    const double statusWidth =
        std::clamp(in.statusLabelSize.width(), 0.0, std::max(0.0, statusRight - statusLeftLimit));
    out.statusLabel = QRectF(statusRight - statusWidth, statusTop, statusWidth, in.statusLabelSize.height());

    // Along the bottom of the map: a strip holding the landscape place of the
    // scale bar in its middle; above its left end the portrait place.
    out.bottomContainerView = QRectF(0, height - kBottomStripHeight, out.map.width(), kBottomStripHeight);
    const double scaleBoxWidth = in.scaleViewWidth + 2 * kContainerMargin;
    out.bottomScaleContainer = QRectF(std::floor((out.bottomContainerView.width() - scaleBoxWidth) / 2), 0,
                                      scaleBoxWidth, kBottomStripHeight);
    const double stackHeight = in.scaleViewHeight + 2 * kContainerMargin;
    out.stackScaleContainer =
        QRectF(kContainerMargin, out.bottomContainerView.top() - stackHeight, scaleBoxWidth, stackHeight);

    const QSizeF scaleSize(in.scaleViewWidth, in.scaleViewHeight);
    switch (in.scaleAnchor) {
        case ScaleAnchor::bottomScaleContainer: {
            const QPointF centre =
                out.bottomScaleContainer.translated(out.bottomContainerView.topLeft()).center();
            out.scaleView = QRectF(
                QPointF(centre.x() - scaleSize.width() / 2, centre.y() - scaleSize.height() / 2), scaleSize);
            break;
        }
        case ScaleAnchor::stackScaleContainerBottom: {
            const double bottom = out.stackScaleContainer.bottom() - kContainerMargin;
            const double centreX = out.stackScaleContainer.center().x();
            out.scaleView =
                QRectF(QPointF(centreX - scaleSize.width() / 2, bottom - scaleSize.height()), scaleSize);
            break;
        }
        case ScaleAnchor::none:
            out.scaleView = QRectF(in.previousScaleFrame.topLeft(), scaleSize);
            break;
    }

    // The credit line at the bottom right of the map, left of the column, its
    // text aligned to the right: in landscape it ends short of the scale bar's
    // place in the bottom strip; in portrait that strip is free.
    const double creditRight = columnX - kContainerMargin;
    const QRectF scaleBox = out.bottomScaleContainer.translated(out.bottomContainerView.topLeft());
    const double creditLeft = in.scaleAnchor == ScaleAnchor::bottomScaleContainer
                                  ? scaleBox.right() + kContainerMargin
                                  : kContainerMargin;
    const double creditHeight = std::max(0.0, in.creditLabelHeight);
    out.osmCreditLabel =
        QRectF(creditLeft, height - 2 - creditHeight, std::max(0.0, creditRight - creditLeft), creditHeight);

    out.debugTextView =
        QRectF(kContainerMargin, out.stackScaleContainer.top() - kContainerMargin - kDebugTextHeight,
               std::min(kDebugTextWidth, std::max(0.0, columnX - 2 * kContainerMargin)), kDebugTextHeight);
    return out;
}

QRectF MainViewLayout::creditFrame(QSizeF viewSize, double columnLeft, const QRectF& scaleFrame,
                                   double lineHeight, int maxLines, double widestWord,
                                   const std::function<double(double width)>& heightForWidth) {
    const double right = columnLeft - kContainerMargin;
    const double bottom = viewSize.height() - 2;
    const auto needed = [&](double width) { return std::ceil(std::max(0.0, heightForWidth(width))); };
    // Beside the bar, on the map's bottom edge.
    const double besideLeft = scaleFrame.isValid()
                                  ? std::max(kContainerMargin, scaleFrame.right() + kContainerMargin)
                                  : kContainerMargin;
    const double besideWidth = right - besideLeft;
    if (besideWidth > 0 && besideWidth >= widestWord) {
        const double height = needed(besideWidth);
        // The bar may also end higher than the line's top: then the line is beside it all along.
        if (height <= maxLines * lineHeight + 0.5 || !scaleFrame.isValid())
            return QRectF(besideLeft, bottom - height, besideWidth, height);
    }
    // Too narrow beside it: across the map, above the bar.
    const double width = right - kContainerMargin;
    if (width <= 0) return {};
    const double height = needed(width);
    const double above = scaleFrame.isValid() ? std::min(bottom, scaleFrame.top() - 2) : bottom;
    return QRectF(kContainerMargin, above - height, width, height);
}

}  // namespace tervolo::mapscreen
