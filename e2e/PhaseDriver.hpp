#pragma once

#include <functional>
#include <string>

#include <QPoint>
#include <Qt>

class QWidget;

namespace platform {
class MainWindow;
}

namespace tervolo::mapscreen {
class MainViewController;
class QuovaMKMapView;
}  // namespace tervolo::mapscreen

namespace tervolo::e2e {

// What a phase's steps use inside the running program: bounded waits that
// keep the event loop turning, screenshots of the window, notes in the run's
// output, and the program's window and map screen. Main thread, inside the
// application's event loop.
class PhaseDriver {
  public:
    // Screenshots go to `screenshotFolder`, named "<phase>-<name>.png".
    PhaseDriver(int phase, std::string screenshotFolder);

    int phase() const { return phase_; }

    // Turns the event loop until `condition` holds; after `seconds` without it
    // the step fails with a screenshot of that moment ("timeout-<what>").
    bool waitFor(const std::string& what, const std::function<bool()>& condition, double seconds);
    // Turns the event loop for `seconds` (a press held, a gesture's pause).
    void pump(double seconds);

    void screenshot(const std::string& name);
    void note(const std::string& text) const;

    platform::MainWindow* window() const;
    mapscreen::MainViewController* mapScreen() const;
    mapscreen::QuovaMKMapView* map() const;

    // A click and a press held for `seconds` at `position` in `widget`, as the user gives them.
    void click(QWidget* widget, QPoint position);
    void longPress(QWidget* widget, QPoint position, double seconds);
    // The mouse and the keys as the windowing system delivers them: to the
    // widget's window (at the widget's place), which routes them as it does
    // for a person; a press and its release apart, the events turned between.
    void pressInWindow(QWidget* widget, QPoint position);
    void releaseInWindow(QWidget* widget, QPoint position);
    void clickInWindow(QWidget* widget, QPoint position);
    void keyInWindow(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

  private:
    int phase_;
    std::string screenshotFolder_;
};

}  // namespace tervolo::e2e
