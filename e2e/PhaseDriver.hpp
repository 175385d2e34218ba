#pragma once

#include <functional>
#include <string>

#include <QPoint>

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
    // Mouse and keys through the window, as the window system delivers them:
    // the widget under the point (in `widget`'s coordinates) gets the press,
    // the focus follows, keys go to the focused widget.
    void windowPress(QWidget* widget, QPoint position);
    void windowRelease(QWidget* widget, QPoint position);
    void windowClick(QWidget* widget, QPoint position);
    void windowKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void windowType(const std::string& text);

  private:
    int phase_;
    std::string screenshotFolder_;
};

}  // namespace tervolo::e2e
