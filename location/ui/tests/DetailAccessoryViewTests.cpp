// The callout's two-line detail view and the pinning of its content.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/PinInside.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "platform/ui/ImageView.hpp"

namespace location_ui_test {
namespace {

using location::DetailAccessoryView;

class DetailAccessoryViewTest : public LocationUITest {};

TEST_F(DetailAccessoryViewTest, FreshViewShowsTwoLinesEachBehindItsSymbolOnNoBackground) {
    DetailAccessoryView view;
    ASSERT_EQ(view.stackView()->count(), 2);
    EXPECT_EQ(view.stackView()->itemAt(0)->layout(), view.firstLineStack());
    EXPECT_EQ(view.stackView()->itemAt(1)->layout(), view.secondLineStack());
    EXPECT_EQ(view.firstLineStack()->itemAt(0)->widget(), view.firstLineImage());
    EXPECT_EQ(view.firstLineStack()->itemAt(1)->widget(), view.firstLineText());
    EXPECT_EQ(view.secondLineStack()->itemAt(0)->widget(), view.secondLineImage());
    EXPECT_EQ(view.secondLineStack()->itemAt(1)->widget(), view.secondLineText());
    EXPECT_FALSE(view.firstLineImage()->image().isNull()) << "gauge";
    EXPECT_FALSE(view.secondLineImage()->image().isNull()) << "arrow.up.square.fill";
    EXPECT_TRUE(view.firstLineImage()->image().isVector());
    EXPECT_EQ(view.contentView()->parentWidget(), &view);
    EXPECT_EQ(view.contentView()->objectName(), QStringLiteral("DetailAccessoryView"));
    const QWidget* backgrounds[] = {&view, view.contentView(), view.firstLineText(), view.secondLineText()};
    for (const QWidget* widget : backgrounds) {
        EXPECT_FALSE(widget->autoFillBackground());
    }
    // Drawn on a transparent image, only the symbols and the texts leave marks.
    view.firstLineText()->setText(QStringLiteral("12 km/h"));
    view.setSecondLine("35 m");
    view.resize(view.intrinsicContentSize());
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(image.pixelColor(image.width() - 1, 0).alpha(), 0);
    const QRect symbol = view.firstLineImage()->geometry().translated(view.contentView()->pos());
    int inked = 0;
    for (int y = symbol.top(); y <= symbol.bottom(); ++y)
        for (int x = symbol.left(); x <= symbol.right(); ++x) inked += image.pixelColor(x, y).alpha() > 128;
    EXPECT_GT(inked, 10);
}

TEST_F(DetailAccessoryViewTest, SecondLineIsCentredInTheFootnoteFontAndResizesTheView) {
    DetailAccessoryView view;
    view.firstLineText()->setText(QStringLiteral("n/a"));
    view.setSecondLine("n/a");
    const QSize before = view.intrinsicContentSize();
    view.setSecondLine("12,345 ft above the sea");
    const QSize after = view.intrinsicContentSize();
    EXPECT_GT(after.width(), before.width());
    EXPECT_EQ(view.sizeHint(), after);
    EXPECT_TRUE(view.secondLineText()->alignment() & Qt::AlignHCenter);
    const QFont footnote = view.secondLineText()->font();
    EXPECT_EQ(footnote, DetailAccessoryView::footnoteFont(view.font()));
    EXPECT_LT(QFontMetricsF(footnote).height(), QFontMetricsF(view.firstLineText()->font()).height());
    EXPECT_TRUE(logged("detailAccessoryView: intrinsic content size queried"));
}

TEST_F(DetailAccessoryViewTest, LongerFirstLineWidensAndABreakHeightens) {
    DetailAccessoryView view;
    view.setSecondLine("35 m");
    QSize previous;
    for (const char* text : {"n/a", "12 km/h", "123 km/h - 359\u00BA NNW"}) {
        SCOPED_TRACE(text);
        view.firstLineText()->setText(QString::fromUtf8(text));
        view.invalidateIntrinsicContentSize();
        const QSize size = view.intrinsicContentSize();
        EXPECT_GT(size.width(), previous.width());
        EXPECT_GE(size.width(),
                  view.firstLineImage()->width() +
                      view.firstLineText()->fontMetrics().horizontalAdvance(QString::fromUtf8(text)));
        previous = size;
    }
    const int oneRow = view.intrinsicContentSize().height();
    view.firstLineText()->setText(QStringLiteral("12 km/h\n90\u00BA E"));
    view.invalidateIntrinsicContentSize();
    EXPECT_GE(view.intrinsicContentSize().height(),
              oneRow + view.firstLineText()->fontMetrics().height() - 1);
}

TEST_F(DetailAccessoryViewTest, PinnedViewFillsItsContainerAfterResizes) {
    for (const bool containerHasLayout : {false, true}) {
        SCOPED_TRACE(containerHasLayout ? "container with a layout" : "bare container");
        QWidget container;
        container.setGeometry(40, 30, 200, 100);
        if (containerHasLayout) new QHBoxLayout(&container);
        auto* view = new QWidget();
        location::pinInside(view, &container);
        EXPECT_EQ(view->parentWidget(), &container);
        container.show();
        container.resize(320, 90);
        QApplication::processEvents();
        EXPECT_EQ(view->geometry(), QRect(0, 0, 320, 90));
    }
    QWidget orphan;
    location::pinInside(&orphan, nullptr);  // nothing happens
    EXPECT_EQ(orphan.parentWidget(), nullptr);
}

}  // namespace
}  // namespace location_ui_test
