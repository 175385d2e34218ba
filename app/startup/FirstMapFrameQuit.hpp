#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

namespace platform {
class MKMapView;
}

namespace tervolo::app {

// Ends the program once its map is on screen, for smoke tests of an installed
// program and for measuring start-up. Main thread.
//
// Watches the paint events of every map view in the application (the map may
// be made after this is installed). After a map view has drawn a frame in
// which no cell was pending, so the map shows completely, it writes
// "first map frame after N ms" (N whole milliseconds on the monotonic clock,
// counted from its construction, right after the application object is made)
// once, then quits the application through its event loop, so the code after
// exec() runs as on any normal quit.
class FirstMapFrameQuit : public QObject {
    Q_OBJECT
  public:
    // The line goes to `write` (without a newline), the end to `quit`.
    FirstMapFrameQuit(std::function<void(const std::string&)> write, std::function<void()> quit,
                      QObject* parent = nullptr);

    // When TERVOLO_QUIT_AFTER_FIRST_FRAME is set to anything but "" or "0": one
    // installed on the application, writing to standard error and quitting the
    // application; otherwise none.
    static FirstMapFrameQuit* installIfRequested();

    bool hasFired() const { return fired_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void checkFrame(const QPointer<platform::MKMapView>& view);

    std::function<void(const std::string&)> write_;
    std::function<void()> quit_;
    double start_ = 0;  // monotonic seconds
    bool fired_ = false;
};

}  // namespace tervolo::app
