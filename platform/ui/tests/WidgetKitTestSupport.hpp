#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QString>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "platform/ui/Contrast.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace widgetkit_test {

// Gives each test a QApplication (created when none exists, destroyed after the test) so test
// binaries may also construct their own in other tests.
class WidgetTest : public ::testing::Test {
  protected:
    void SetUp() override { app_.emplace("tervolo_platform_ui_tests"); }
    void TearDown() override { app_.reset(); }

  private:
    std::optional<tervolo::testsupport::ScopedTestApplication> app_;
};

// Saves `image` as <build>/screenshots/<name>.png for a person to look at.
inline void saveScreenshot(const QImage& image, const QString& name) {
    tervolo::testsupport::saveScreenshot(image, QStringLiteral(TERVOLO_SCREENSHOT_DIR), name);
}

inline QImage render(QWidget& widget) {
    return widget.grab().toImage();
}

// Renders `widget` at a device pixel ratio (2: every point is two pixels each way).
inline QImage render(QWidget& widget, double devicePixelRatio) {
    return tervolo::testsupport::renderWidget(widget, devicePixelRatio);
}

// A dark desktop palette: light text on dark window and base colours, as a dark theme sets it.
inline QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    p.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x6f, 0xc4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(QPalette::Midlight, QColor(0x42, 0x42, 0x42));
    p.setColor(QPalette::Mid, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::Dark, QColor(0x14, 0x14, 0x14));
    p.setColor(QPalette::Shadow, Qt::black);
    return p;
}

// Sets the application's palette for a scope (light: the style's standard palette) and restores it.
class PaletteScope {
  public:
    explicit PaletteScope(bool dark) : saved_(QApplication::palette()) {
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
    }
    ~PaletteScope() { QApplication::setPalette(saved_); }
    PaletteScope(const PaletteScope&) = delete;
    PaletteScope& operator=(const PaletteScope&) = delete;

  private:
    QPalette saved_;
};

// The contrast ratio of text on a background (1 to 21; text needs 4.5).
inline double contrastRatio(const QColor& a, const QColor& b) {
    return platform::contrastRatio(a, b);
}

}  // namespace widgetkit_test
