#include "testsupport/ui/ScreenshotSupport.hpp"

#include <gtest/gtest.h>

#include <QDir>
#include <QWidget>

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

}  // namespace tervolo::testsupport
