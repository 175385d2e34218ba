#include "testsupport/ui/ScreenshotSupport.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include <QWidget>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace tervolo::testsupport {

void saveScreenshot(const QImage& image, const QString& folder, const QString& name) {
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QStringLiteral("/") + name + QStringLiteral(".png")))
        << (folder + QStringLiteral("/") + name).toStdString();
}

QImage renderWidget(QWidget& widget, double devicePixelRatio, const QColor& background) {
    QImage image(widget.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(background);
    widget.render(&image);
    return image;
}

QImage renderOnWindowColour(QWidget& widget, double devicePixelRatio) {
    return renderWidget(widget, devicePixelRatio, widget.palette().color(QPalette::Window));
}

QPalette darkScreenshotPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x22, 0x25));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
    dark.setColor(QPalette::Base, QColor(0x17, 0x18, 0x1a));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
    dark.setColor(QPalette::Button, QColor(0x30, 0x33, 0x36));
    dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
    return dark;
}

void saveLightAndDarkScreenshots(QWidget& window, const QString& folder, const QString& name) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkScreenshotPalette() : QPalette());
        QCoreApplication::processEvents();
        saveScreenshot(renderOnWindowColour(window, 2), folder,
                       name + (dark ? QStringLiteral("-dark@2x") : QStringLiteral("-light@2x")));
    }
    QApplication::setPalette(QPalette());
}

QPalette darkDesktopPalette() {
    // In QPalette::ColorRole order, WindowText to PlaceholderText (NoRole left as it comes).
    const char* const roles[] = {"#ffffff", "#424245", "#979797",  "#5e5c5b", "#302f2e", "#4a4947",
                                 "#ffffff", "#ffffff", "#ffffff",  "#3d3d3d", "#222020", "#e7e4e0",
                                 "#12608a", "#f9f9f9", "#0986d3",  "#a70b06", "#5c5b5a", nullptr,
                                 "#3f3f36", "#ffffff", "#80ffffff"};
    QPalette dark;
    for (int role = 0; role < static_cast<int>(std::size(roles)); ++role) {
        if (roles[role] == nullptr) continue;
        const QColor color(QString::fromLatin1(roles[role]));
        dark.setColor(QPalette::Active, static_cast<QPalette::ColorRole>(role), color);
        dark.setColor(QPalette::Inactive, static_cast<QPalette::ColorRole>(role), color);
        dark.setColor(QPalette::Disabled, static_cast<QPalette::ColorRole>(role), color);
    }
    for (const auto role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    return dark;
}

namespace {

double relativeLuminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QRect devicePixels(const QImage& image, const QRectF& area) {
    const double ratio = image.devicePixelRatio();
    const QRectF scaled(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio);
    return scaled.toAlignedRect().intersected(image.rect());
}

}  // namespace

double strongestContrast(const QImage& image, const QRectF& area, const QColor& background) {
    const double lb = relativeLuminance(background);
    double best = 1.0;
    const QRect pixels = devicePixels(image, area);
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const double l = relativeLuminance(image.pixelColor(x, y));
            best = std::max(best, (std::max(l, lb) + 0.05) / (std::min(l, lb) + 0.05));
        }
    }
    return best;
}

int inkPixels(const QImage& image, const QRectF& area, const QColor& background) {
    int count = 0;
    const QRect pixels = devicePixels(image, area);
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int d = std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                          std::abs(c.blue() - background.blue());
            if (d > 60) ++count;
        }
    }
    return count;
}

}  // namespace tervolo::testsupport
