#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/ViewController.hpp"
#include "shell/MapScreenActions.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace shell_test {

// Qt's own messages (warnings of the offscreen platform and the like) while
// a ShellTest runs: kept here instead of on standard error, which tests
// read for the console lines of the screens and the plug-in.
inline std::vector<std::string>& qtMessages() {
    static std::vector<std::string> messages;
    return messages;
}

// Gives each test a QApplication (created when none exists, destroyed after
// the test), immediate animations and its own XDG folders.
class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qtMessages().clear();
        previousHandler_ =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                qtMessages().push_back(text.toStdString());
            });
        app_.emplace("tervolo_shell_tests");
    }
    void TearDown() override {
        app_.reset();
        qInstallMessageHandler(previousHandler_);
    }

    tervolo::testsupport::TemporaryFolder folder_;
    platform::ImmediateAnimationsScope immediate_;

  private:
    std::optional<tervolo::testsupport::ScopedTestApplication> app_;
    QtMessageHandler previousHandler_ = nullptr;
};

// The map screen as the shell sees it, recording what is asked of it.
class FakeMapScreen : public platform::ViewController, public tervolo::shell::MapScreenActions {
  public:
    int64_t shift = 0;
    std::vector<QAction*> styleSheetAnchors;
    int cacheClears = 0;

    void showMapStyleActionSheetFrom(QAction* anchor) override { styleSheetAnchors.push_back(anchor); }
    int64_t retinaShiftLevel() const override { return shift; }
    void clearAllOSMCaches() override { ++cacheClears; }
};

class OtherScreen : public platform::ViewController {};

// Saves `image` as <build>/screenshots/shell/<name>.png for a person to look at.
inline void saveScreenshot(const QImage& image, const QString& name) {
    tervolo::testsupport::saveScreenshot(image, QStringLiteral(TERVOLO_SCREENSHOT_DIR), name);
}

// Lets pending layout requests run (a toolbar lays its items out lazily).
inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }
}

// `widget` drawn at a device pixel ratio.
inline QImage render(QWidget& widget, double ratio = 1) {
    return tervolo::testsupport::renderWidget(widget, ratio);
}

// A dark desktop theme for the application while alive.
class DarkPaletteScope {
  public:
    DarkPaletteScope() : original_(QApplication::palette()) {
        QPalette dark = original_;
        dark.setColor(QPalette::Window, QColor(40, 40, 42));
        dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
        dark.setColor(QPalette::Base, QColor(30, 30, 32));
        dark.setColor(QPalette::Text, QColor(235, 235, 235));
        dark.setColor(QPalette::Button, QColor(55, 55, 58));
        dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
        dark.setColor(QPalette::PlaceholderText, QColor(170, 170, 175));
        dark.setColor(QPalette::Link, QColor(110, 170, 255));
        dark.setColor(QPalette::Dark, QColor(20, 20, 20));
        QApplication::setPalette(dark);
    }
    ~DarkPaletteScope() { QApplication::setPalette(original_); }

  private:
    QPalette original_;
};

// The device reports `idiom` while alive (its other facts are the desktop's).
class IdiomScope {
  public:
    explicit IdiomScope(tervolo::appinfo::UIDevice_QuovaAdditions::Idiom idiom)
        : sources_(tervolo::appinfo::UIDevice_QuovaAdditions::desktopSources()) {
        sources_.userInterfaceIdiom = [idiom] { return idiom; };
        replacement_.emplace(sources_);
    }
    tervolo::appinfo::UIDevice_QuovaAdditions::Sources& sources() { return sources_; }

  private:
    tervolo::appinfo::UIDevice_QuovaAdditions::Sources sources_;
    std::optional<tervolo::appinfo::UIDevice_QuovaAdditions::SourcesReplacement> replacement_;
};

// What the process writes to standard error (file descriptor 2) while alive:
// the plug-in's console lines, which no writer of the program carries, and
// anything Qt complains about.
class StandardErrorCapture {
  public:
    StandardErrorCapture() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), STDERR_FILENO);
    }
    ~StandardErrorCapture() {
        restore();
        std::fclose(file_);
    }
    // Everything written so far.
    std::string text() {
        std::fflush(stderr);
        std::string out;
        std::rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) out.append(buffer, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

}  // namespace shell_test
