#include <gtest/gtest.h>

#include "mapscreen/MainViewLayout.hpp"

using tervolo::mapscreen::MainViewLayout;

namespace {

MainViewLayout::Input input(QSizeF size, double column) {
    MainViewLayout::Input in;
    in.viewSize = size;
    in.sideContainerWidth = column;
    in.scaleAnchor = size.width() > size.height() ? MainViewLayout::ScaleAnchor::bottomScaleContainer
                                                  : MainViewLayout::ScaleAnchor::stackScaleContainerBottom;
    in.statusLabelSize = QSizeF(240, 26);
    in.creditLabelHeight = 40;
    return in;
}

TEST(MainViewLayout, ColumnAndButtonsStayInsideTheViewAtEverySize) {
    struct Case {
        QSizeF size;
        double column;
        double side;
    };
    // Six tenths of the column, unless nine buttons would leave the view.
    const Case cases[] = {{{1280, 800}, 100, 60}, {{800, 1000}, 100, 60}, {{800, 600}, 100, 56},
                          {{400, 900}, 66, 39},   {{800, 500}, 66, 39},   {{600, 300}, 66, 23}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.width() * 10000 + c.size.height());
        const MainViewLayout layout = MainViewLayout::make(input(c.size, c.column));
        EXPECT_EQ(layout.map, QRectF(QPointF(0, 0), c.size));
        EXPECT_EQ(layout.sideContainer, QRectF(c.size.width() - 5 - c.column, 0, c.column, c.size.height()));
        EXPECT_DOUBLE_EQ(layout.buttonSide, c.side);
        for (int i = 0; i < 9; ++i) {
            const QRectF button = layout.buttons[static_cast<size_t>(i)];
            EXPECT_TRUE(QRectF(QPointF(0, 0), layout.sideContainer.size()).contains(button)) << i;
            if (i > 0) {
                EXPECT_DOUBLE_EQ(button.top() - layout.buttons[static_cast<size_t>(i - 1)].bottom(),
                                 MainViewLayout::kButtonSpacing);
            }
        }
    }
}

TEST(MainViewLayout, MarginConstantsMoveTheMapEdgeAndTheColumn) {
    MainViewLayout::Input in = input({1000, 700}, 100);
    in.mapTrailingMargin = -48;
    in.mapSidecontainerMargin = 72;
    const MainViewLayout layout = MainViewLayout::make(in);
    EXPECT_DOUBLE_EQ(layout.map.width(), 952);
    EXPECT_DOUBLE_EQ(layout.sideContainer.right(), 952 - 72);
}

TEST(MainViewLayout, SearchFieldAndTableFollowTheirConstantsAndStayLeftOfTheColumn) {
    MainViewLayout::Input in = input({1280, 800}, 100);
    in.searchBarVisible = true;
    in.searchTableHeight = 270;
    MainViewLayout layout = MainViewLayout::make(in);
    EXPECT_EQ(layout.searchBar, QRectF(20, 20, 600, 80));
    EXPECT_EQ(layout.searchTable, QRectF(20, 104, 600, 270));
    // Room enough beside the field: the status line keeps its place at the top.
    EXPECT_DOUBLE_EQ(layout.statusLabel.top(), MainViewLayout::kStatusTopMargin);
    EXPECT_DOUBLE_EQ(layout.statusLabel.right(), layout.sideContainer.left() - 8);
    EXPECT_GE(layout.statusLabel.left(), layout.spinner.right());

    // A narrow window: the field shrinks to the room left of the column, the
    // status line moves below the results.
    in.viewSize = QSizeF(700, 800);
    layout = MainViewLayout::make(in);
    EXPECT_DOUBLE_EQ(layout.searchBar.right(), layout.sideContainer.left() - 8);
    EXPECT_DOUBLE_EQ(layout.statusLabel.top(), layout.searchTable.bottom() + 8);
    EXPECT_DOUBLE_EQ(layout.statusLabel.width(), 240);
}

TEST(MainViewLayout, ScaleBarPlaces) {
    struct Case {
        QSizeF size;
        MainViewLayout::ScaleAnchor anchor;
    };
    const Case cases[] = {{{1280, 800}, MainViewLayout::ScaleAnchor::bottomScaleContainer},
                          {{800, 1000}, MainViewLayout::ScaleAnchor::stackScaleContainerBottom},
                          {{700, 700}, MainViewLayout::ScaleAnchor::stackScaleContainerBottom}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.width());
        MainViewLayout::Input in = input(c.size, 100);
        in.scaleAnchor = c.anchor;
        const MainViewLayout layout = MainViewLayout::make(in);
        EXPECT_EQ(layout.scaleView.size(), QSizeF(220, 30));
        if (c.anchor == MainViewLayout::ScaleAnchor::bottomScaleContainer) {
            EXPECT_EQ(layout.scaleView.center(),
                      layout.bottomScaleContainer.translated(layout.bottomContainerView.topLeft()).center());
            EXPECT_DOUBLE_EQ(layout.scaleView.center().x(), c.size.width() / 2);
        } else {
            EXPECT_DOUBLE_EQ(layout.scaleView.center().x(), layout.stackScaleContainer.center().x());
            EXPECT_DOUBLE_EQ(layout.scaleView.bottom(),
                             layout.stackScaleContainer.bottom() - MainViewLayout::kContainerMargin);
        }
    }
    // Constraints switched off: the bar stays where it was.
    MainViewLayout::Input in = input({1280, 800}, 100);
    in.scaleAnchor = MainViewLayout::ScaleAnchor::none;
    in.previousScaleFrame = QRectF(33, 44, 220, 30);
    EXPECT_EQ(MainViewLayout::make(in).scaleView, QRectF(33, 44, 220, 30));
}

TEST(MainViewLayout, CreditLineEndsShortOfTheScaleBarInLandscapeOnly) {
    MainViewLayout::Input in = input({1280, 800}, 100);
    MainViewLayout layout = MainViewLayout::make(in);
    EXPECT_EQ(layout.osmCreditLabel, QRectF(layout.scaleView.right() + 8 + 8, 758, 1167 - 750 - 8 - 8, 40));
    EXPECT_FALSE(layout.osmCreditLabel.intersects(layout.scaleView));
    // In portrait the bar is above the strip: the line may take the whole width.
    in.viewSize = QSizeF(800, 1000);
    in.scaleAnchor = MainViewLayout::ScaleAnchor::stackScaleContainerBottom;
    layout = MainViewLayout::make(in);
    EXPECT_EQ(layout.osmCreditLabel, QRectF(8, 958, 687 - 8, 40));
    EXPECT_FALSE(layout.osmCreditLabel.intersects(layout.scaleView));
}

TEST(MainViewLayout, DegenerateSizesGiveEmptyFramesNotNegativeOnes) {
    for (const QSizeF size : {QSizeF(0, 0), QSizeF(50, 40), QSizeF(-10, 300)}) {
        SCOPED_TRACE(size.width());
        const MainViewLayout layout = MainViewLayout::make(input(size, 66));
        EXPECT_GE(layout.map.width(), 0);
        EXPECT_GE(layout.buttonSide, 0);
        EXPECT_GE(layout.searchBar.width(), 0);
        EXPECT_GE(layout.statusLabel.width(), 0);
        EXPECT_GE(layout.osmCreditLabel.width(), 0);
    }
}

}  // namespace
