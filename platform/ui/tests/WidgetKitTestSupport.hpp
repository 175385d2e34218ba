#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

namespace widgetkit_test {

// Gives each test a QApplication (created when none exists, destroyed after the test) so test
// binaries may also construct their own in other tests.
class WidgetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "tervolo_platform_ui_tests";
            static char* argv[] = {name, nullptr};
            app_ = std::make_unique<QApplication>(argc, argv);
        }
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

// Saves `image` as <build>/screenshots/<name>.png for a person to look at.
inline void saveScreenshot(const QImage& image, const QString& name) {
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

inline QImage render(QWidget& widget) {
    return widget.grab().toImage();
}

}  // namespace widgetkit_test
