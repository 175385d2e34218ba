#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyle>

#include "SearchUITestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "points/AppTextsAndColors.hpp"

namespace search_ui_test {
namespace {

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(QPalette::PlaceholderText, QColor(0xb0, 0xb0, 0xb0));
    p.setColor(QPalette::Highlight, QColor(0x3a, 0x6e, 0xa5));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

// A small drawn picture standing for a downloaded photo.
QImage thumbnail(QColor color) {
    QImage image(200, 180, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.setBrush(color.lighter(160));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(140, 50), 30, 30);
    painter.setBrush(color.darker(160));
    painter.drawPolygon(QPolygon({QPoint(0, 180), QPoint(80, 70), QPoint(160, 180)}));
    return image;
}

class SearchScreenshotTest : public SearchControllerTest {
  protected:
    void shoot(const QString& name, const std::vector<points::QuovaPlacemark>& results, bool dark = false,
               double pixelRatio = 1.0) {
        window_->resize(660, 640);
        window_->setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        window_->setAutoFillBackground(true);
        host_->center = platform::CLLocationCoordinate2D{60.17, 24.94};
        if (!controller_) makeController();
        field_->clear();
        type("abc");
        advance(0.7);
        if (!results.empty()) backend_->reply(results, true);
        table_->layoutRows();
        platform::RunLoop::runUntilIdle();
        QImage image((window_->size() * pixelRatio), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(pixelRatio);
        image.fill(Qt::transparent);
        window_->render(&image);
        saveScreenshot(image, name);
    }

    void cacheThumbnail(const std::string& address, QColor color) {
        controller_->thumbnails().imageCache().setObject(address, thumbnail(color), 1000);
    }

    std::vector<points::QuovaPlacemark> many(bool withImages) {
        std::vector<points::QuovaPlacemark> results;
        const char* titles[] = {"Kauppatori", "Suomenlinna", "Temppeliaukio Church", "Seurasaari", "Kallio"};
        for (int i = 0; i < 5; ++i) {
            std::optional<std::string> image;
            if (withImages && i % 2 == 0) image = "http://127.0.0.1:1/" + std::to_string(i) + ".png";
            results.push_back(place(titles[i], 60.17 + 0.01 * i, 24.95,
                                    i == 4 ? points::localDataSourceName() : "Wiki", image));
        }
        return results;
    }
};

TEST_F(SearchScreenshotTest, FieldWithItsResultTable) {
    makeController();
    shoot("search-none", {});
    shoot("search-one", {place("Kauppatori", 60.1675, 24.9525, "Wiki")});
    shoot("search-many", many(false));
    const QColor colors[] = {QColor(0x3b, 0x7d, 0xd8), QColor(0x4c, 0xaf, 0x50), QColor(0xe0, 0x8a, 0x2c)};
    for (int i = 0; i < 5; i += 2)
        cacheThumbnail("http://127.0.0.1:1/" + std::to_string(i) + ".png", colors[i / 2]);
    shoot("search-many-thumbnails", many(true));
    shoot("search-many-thumbnails-dark", many(true), true);
    shoot("search-many-thumbnails-dpr2", many(true), false, 2.0);

    auto longPlace =
        place("Helsingin yliopiston kasvitieteellinen puutarha ja sen kasvihuoneet Kaisaniemessä", 60.175,
              24.945, "Wiki", "http://127.0.0.1:1/0.png");
    longPlace.address =
        "Kaisaniementie 2, 00170 Helsinki, Uusimaa, Suomi – Finland, a very long address line";
    auto cjk = place("\xe8\xB5\xAB\xE5\xB0\x94\xE8\xBE\x9B\xE5\x9F\xBA\xE5\xA4\xA7\xE6\x95\x99\xE5\xA0\x82",
                     60.17, 24.952, "Wiki");
    cjk.address = "\xe8\x8a\xac\xe5\x85\xb0 \xe8\xb5\xab\xe5\xb0\x94\xe8\xbe\x9b\xe5\x9f\xba";
    auto rtl =
        place("\xd7\x94\xd7\x9c\xd7\xa1\xd7\x99\xd7\xa0\xd7\xa7\xd7\x99 \xd7\xaa\xd7\x97\xd7\xa0\xd7\x94",
              60.172, 24.941, "Wiki", "http://127.0.0.1:1/2.png");
    rtl.address =
        "\xd8\xb4\xd8\xa7\xd8\xb1\xd8\xb9 \xd9\x85\xd8\xa7\xd9\x86\xd8\xb1\xd9\x87\xd8\xa7\xd9\x8a\xd9\x85";
    shoot("search-long-cjk-rtl", {longPlace, cjk, rtl});
    shoot("search-long-cjk-rtl-dark", {longPlace, cjk, rtl}, true);
}

}  // namespace
}  // namespace search_ui_test
