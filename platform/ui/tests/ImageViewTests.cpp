#include <gtest/gtest.h>

#include <QGridLayout>

#include "platform/ui/ImageView.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

using platform::ImageView;
using platform::NamedImage;

namespace {
class ImageViewTest : public widgetkit_test::WidgetTest {};
}  // namespace

TEST_F(ImageViewTest, NamedImagesComeFromResourcesAsVectorsOrBitmaps) {
    for (const char* symbol : {"ruler", "clock", "xmark.circle", "checkmark.circle", "trash.circle"}) {
        SCOPED_TRACE(symbol);
        const auto image = NamedImage::named(QString::fromLatin1(symbol));
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.isVector());
        EXPECT_EQ(image.size(), QSize(24, 24));
    }
    // A PNG, looked up with and without its extension.
    const auto halves = NamedImage::named(QStringLiteral("test.halves"));
    ASSERT_FALSE(halves.isNull());
    EXPECT_FALSE(halves.isVector());
    EXPECT_EQ(halves.size(), QSize(8, 8));
    EXPECT_FALSE(NamedImage::named(QStringLiteral("test.halves.png")).isNull());
    EXPECT_TRUE(NamedImage::named(QStringLiteral("no such image")).isNull());

    // Drawn large, a vector stays sharp and takes the tint where it is opaque.
    const QImage big = NamedImage::named(QStringLiteral("xmark.circle")).render(QSize(96, 96), Qt::red);
    const QColor centre = big.pixelColor(48, 48);  // where the two strokes cross
    EXPECT_EQ(centre.red(), 255);
    EXPECT_EQ(centre.green(), 0);
    EXPECT_GT(centre.alpha(), 200);
    EXPECT_EQ(big.pixelColor(20, 48).alpha(), 0);  // between ring and cross
}

TEST_F(ImageViewTest, ContentModesPlaceTheImage) {
    ImageView view;
    view.resize(100, 50);
    view.setImageNamed(QStringLiteral("test.halves"));
    struct Case {
        ImageView::ContentMode mode;
        QRectF rect;
    };
    const Case cases[] = {
        {ImageView::ContentMode::ScaleToFill, QRectF(0, 0, 100, 50)},
        {ImageView::ContentMode::ScaleAspectFit, QRectF(25, 0, 50, 50)},
        {ImageView::ContentMode::ScaleAspectFill, QRectF(0, -25, 100, 100)},
        {ImageView::ContentMode::Center, QRectF(46, 21, 8, 8)},
    };
    for (const auto& c : cases) {
        view.setContentMode(c.mode);
        EXPECT_EQ(view.imageRect(), c.rect) << static_cast<int>(c.mode);
    }
    EXPECT_EQ(view.sizeHint(), QSize(8, 8));
    EXPECT_FALSE(view.setImageNamed(QStringLiteral("missing")));
    EXPECT_EQ(view.sizeHint(), QSize(0, 0));
}

TEST_F(ImageViewTest, Screenshot) {
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: white"));
    auto* grid = new QGridLayout(&window);
    int column = 0;
    for (const char* symbol : {"ruler", "clock", "xmark.circle", "checkmark.circle", "trash.circle"}) {
        auto* view = new ImageView(&window);
        view->setImageNamed(QString::fromLatin1(symbol));
        view->setContentMode(ImageView::ContentMode::ScaleAspectFit);
        view->setTintColor(QColor(0x00, 0x7a, 0xff));
        view->setFixedSize(40, 40);
        grid->addWidget(view, 0, column++);
    }
    auto* photo = new ImageView(&window);
    photo->setImageNamed(QStringLiteral("test.halves"));
    photo->setContentMode(ImageView::ContentMode::ScaleAspectFit);
    photo->setFixedSize(40, 40);
    grid->addWidget(photo, 0, column);
    window.show();
    const QImage shot = widgetkit_test::render(window);
    widgetkit_test::saveScreenshot(shot, QStringLiteral("image_views"));
    // The PNG keeps its orientation: red half on top.
    const QRect photoRect = photo->geometry();
    EXPECT_GT(shot.pixelColor(photoRect.center().x(), photoRect.top() + 5).red(), 200);
    EXPECT_GT(shot.pixelColor(photoRect.center().x(), photoRect.bottom() - 5).blue(), 200);
}
