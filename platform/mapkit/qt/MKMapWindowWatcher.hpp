#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;
class QWindow;

namespace platform {

// Watches the window a map view is shown in and says when it comes back on
// screen after being away: restored after being minimised, shown again after
// being hidden, exposed again after being covered or on another desktop, or
// activated again. Follows the map view into whatever window it is put in.
// Main thread only.
class MKMapWindowWatcher : public QObject {
    Q_OBJECT
  public:
    MKMapWindowWatcher(QWidget* map, std::function<void()> cameBack);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void follow();

    QWidget* map_;
    std::function<void()> cameBack_;
    QPointer<QWidget> window_;
    QPointer<QWindow> handle_;
    bool away_ = false;       // minimised or hidden since it was last on screen
    bool unexposed_ = false;  // its window lost its exposure
    bool inactive_ = false;   // its window was deactivated
};

}  // namespace platform
