#include "e2e/PhaseDriver.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <cstdio>

#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "platform/ui/MainWindow.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace tervolo::e2e {

PhaseDriver::PhaseDriver(int phase, std::string screenshotFolder)
    : phase_(phase), screenshotFolder_(std::move(screenshotFolder)) {}

bool PhaseDriver::waitFor(const std::string& what, const std::function<bool()>& condition, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > static_cast<qint64>(seconds * 1000)) {
            screenshot("timeout-" + what);
            ADD_FAILURE() << "phase " << phase_ << ": gave up waiting " << seconds << " s for " << what
                          << " (screenshot " << screenshotFolder_ << "/" << phase_ << "-timeout-" << what
                          << ".png)";
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
    return true;
}

void PhaseDriver::pump(double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < static_cast<qint64>(seconds * 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
}

void PhaseDriver::screenshot(const std::string& name) {
    platform::MainWindow* shown = window();
    if (shown == nullptr) return;
    // The map draws its cells on worker threads: a paint right after the
    // region changed shows only its background. Let the cells in view come
    // first (bounded), as a person looking at the screen would.
    if (auto* shownMap = map()) {
        (void)shownMap->grab();
        shownMap->waitForCells(5000);
        QCoreApplication::processEvents();
    }
    // What the window shows now, at the screen's own pixel ratio.
    const QImage image = shown->grab().toImage();
    testsupport::saveScreenshot(image, QString::fromStdString(screenshotFolder_),
                                QString::fromStdString(std::to_string(phase_) + "-" + name));
}

void PhaseDriver::note(const std::string& text) const {
    std::printf("[phase %d] %s\n", phase_, text.c_str());
    std::fflush(stdout);
}

platform::MainWindow* PhaseDriver::window() const {
    const auto windows = platform::MainWindow::windows();
    return windows.empty() ? nullptr : windows.front();
}

mapscreen::MainViewController* PhaseDriver::mapScreen() const {
    platform::MainWindow* shown = window();
    if (shown == nullptr) return nullptr;
    return dynamic_cast<mapscreen::MainViewController*>(shown->rootViewController().get());
}

mapscreen::QuovaMKMapView* PhaseDriver::map() const {
    auto* screen = mapScreen();
    return screen != nullptr ? screen->mapView() : nullptr;
}

void PhaseDriver::click(QWidget* widget, QPoint position) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, position);
    QCoreApplication::processEvents();
}

void PhaseDriver::longPress(QWidget* widget, QPoint position, double seconds) {
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, position);
    pump(seconds);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, position);
    QCoreApplication::processEvents();
}

namespace {

QWindow* windowOf(QWidget* widget) {
    return widget->window()->windowHandle();
}

QPoint inWindow(QWidget* widget, QPoint position) {
    return widget->mapTo(widget->window(), position);
}

}  // namespace

void PhaseDriver::windowPress(QWidget* widget, QPoint position) {
    QTest::mousePress(windowOf(widget), Qt::LeftButton, Qt::NoModifier, inWindow(widget, position));
    QCoreApplication::processEvents();
}

void PhaseDriver::windowRelease(QWidget* widget, QPoint position) {
    QTest::mouseRelease(windowOf(widget), Qt::LeftButton, Qt::NoModifier, inWindow(widget, position));
    QCoreApplication::processEvents();
}

void PhaseDriver::windowClick(QWidget* widget, QPoint position) {
    windowPress(widget, position);
    windowRelease(widget, position);
}

void PhaseDriver::windowKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    if (platform::MainWindow* shown = window()) QTest::keyClick(shown->windowHandle(), key, modifiers);
    QCoreApplication::processEvents();
}

void PhaseDriver::windowType(const std::string& text) {
    platform::MainWindow* shown = window();
    if (shown == nullptr) return;
    for (char c : text) QTest::keyClick(shown->windowHandle(), c);
    QCoreApplication::processEvents();
}

}  // namespace tervolo::e2e
