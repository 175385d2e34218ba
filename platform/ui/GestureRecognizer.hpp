#pragma once

#include <QEvent>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/GestureRecognizerDelegate.hpp"

class QMouseEvent;

namespace platform {

// Watches the mouse on the widget it is attached to (presses on child widgets reach it when the child
// leaves them to its parent, as labels do and buttons do not; the widget keeps every event it gets)
// and reports a gesture through its actions, which run on every state change the gesture reports (a
// discrete gesture such as a tap reports only Ended). Recognisers on one widget compete: when one
// begins or is recognised, the others that are still possible fail, and one cannot begin while
// another is under way, unless a delegate lets the two run simultaneously. A recogniser keeps its
// final state (Ended, Cancelled, Failed) until the next press or hover starts; Possible is the
// resting state. Times come from the installed Clock, so tests drive long presses with a
// VirtualClock. Main thread only.
class GestureRecognizer : public QObject {
    Q_OBJECT

  public:
    // The states keep the numbers callers compare against: began 1, changed 2, ended (recognised)
    // 3, cancelled 4, failed 5.
    enum class State { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };
    using Action = std::function<void(GestureRecognizer&)>;

    explicit GestureRecognizer(Action action = {});
    ~GestureRecognizer() override;

    void addTarget(Action action);
    State state() const { return state_; }
    // The widget it is attached to (null when detached).
    QWidget* view() const { return view_; }
    // Where the gesture is, in the view's coordinates / in `widget`'s.
    QPointF location() const { return location_; }
    QPointF location(const QWidget* widget) const;
    bool isEnabled() const { return enabled_; }
    // Disabling cancels a gesture under way.
    void setEnabled(bool enabled);
    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Test hook: moves straight to `state` at `location` (view coordinates) and runs the actions,
    // bypassing the mouse, the delegate and the competition.
    void simulateState(State state, QPointF location = {});

  protected:
    // What the kinds implement. Positions are in view coordinates; `seconds` is monotonic time.
    virtual void pressed(QPointF position, double seconds) = 0;
    virtual void moved(QPointF position, double seconds) = 0;
    virtual void released(QPointF position, double seconds) = 0;
    virtual void hovered(QEvent::Type, QPointF) {}
    // Whether it takes part in the competition between recognisers (a hover does not).
    virtual bool competes() const { return true; }

    // Begins (or, for a discrete gesture, is recognised as Ended) if the delegate agrees and no rival
    // is under way; fails otherwise. Returns whether it moved to `state`.
    bool tryToRecognize(State state);
    // Moves to `state` and runs the actions.
    void report(State state);
    void fail();
    // Back to Possible without running the actions (a new hover starts).
    void resetToPossible() { state_ = State::Possible; }
    void setLocation(QPointF location) { location_ = location; }
    bool isPressed() const { return pressed_; }
    static double now();

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend void addGestureRecognizer(QWidget*, GestureRecognizer*);
    friend void removeGestureRecognizer(QWidget*, GestureRecognizer*);
    bool allowsSimultaneous(GestureRecognizer& other);
    void handle(QEvent* event);

    std::vector<Action> actions_;
    State state_ = State::Possible;
    QPointer<QWidget> view_;
    QPointF location_;
    bool enabled_ = true;
    bool pressed_ = false;
    std::weak_ptr<GestureRecognizerDelegate> delegate_;
};

// Attaches `recognizer` to `view`, which takes ownership (it becomes a child of the view).
void addGestureRecognizer(QWidget* view, GestureRecognizer* recognizer);
// Detaches it; the caller owns it again.
void removeGestureRecognizer(QWidget* view, GestureRecognizer* recognizer);
// The recognisers attached to `view`, in the order they were added.
std::vector<GestureRecognizer*> gestureRecognizers(const QWidget* view);

}  // namespace platform
