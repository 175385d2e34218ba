#include <gtest/gtest.h>

#include <QPushButton>

#include "mapscreen/SideContainerView.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

using tervolo::mapscreen::SideContainerView;

namespace {

class SideContainerViewTest : public widgetkit_test::WidgetTest {};

TEST_F(SideContainerViewTest, OnlyVisibleButtonsTakeTheMouse) {
    SideContainerView column;
    column.resize(100, 300);
    auto* first = new QPushButton(&column);
    first->setGeometry(20, 10, 60, 60);
    auto* second = new QPushButton(&column);
    second->setGeometry(20, 80, 60, 60);
    column.show();

    struct Case {
        QPointF point;
        QWidget* hit;
    };
    const Case cases[] = {{{50, 40}, first},  {{50, 110}, second},  {{50, 75}, nullptr},
                          {{5, 40}, nullptr}, {{50, 250}, nullptr}, {{150, 40}, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point.y() * 1000 + c.point.x());
        EXPECT_EQ(column.hitTest(c.point), c.hit);
        // Qt routes clicks by the mask: outside it the widget beneath gets them.
        EXPECT_EQ(column.mask().contains(c.point.toPoint()), c.hit != nullptr);
    }

    // A hidden button, a moved one, and a column with none left.
    second->hide();
    EXPECT_EQ(column.hitTest({50, 110}), nullptr);
    EXPECT_FALSE(column.mask().contains(QPoint(50, 110)));
    first->move(20, 200);
    EXPECT_EQ(column.hitTest({50, 230}), first);
    EXPECT_TRUE(column.mask().contains(QPoint(50, 230)));
    EXPECT_FALSE(column.mask().contains(QPoint(50, 40)));
    first->hide();
    EXPECT_EQ(column.hitTest({50, 230}), nullptr);
    EXPECT_FALSE(column.mask().contains(QPoint(50, 230)));
}

TEST_F(SideContainerViewTest, FindsItsWidthConstraintByIdentifier) {
    SideContainerView column;
    EXPECT_EQ(column.constraints().find(SideContainerView::kWidthConstraintIdentifier), nullptr);
    column.constraints().add(QStringLiteral("other"), 5);
    auto width = column.constraints().add(SideContainerView::kWidthConstraintIdentifier, 66);
    EXPECT_EQ(column.constraints().find(QStringLiteral("sideContainerWidth")), width);
}

}  // namespace
