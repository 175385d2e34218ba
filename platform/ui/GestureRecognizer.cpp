#include "platform/ui/GestureRecognizer.hpp"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>

#include "platform/dispatch/Clock.hpp"

namespace platform {

GestureRecognizer::GestureRecognizer(Action action) {
    if (action) actions_.push_back(std::move(action));
}

GestureRecognizer::~GestureRecognizer() = default;

void GestureRecognizer::addTarget(Action action) {
    if (action) actions_.push_back(std::move(action));
}

QPointF GestureRecognizer::location(const QWidget* widget) const {
    if (!view_ || !widget || widget == view_) return location_;
    return widget->mapFromGlobal(view_->mapToGlobal(location_));
}

void GestureRecognizer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled) return;
    pressed_ = false;
    if (state_ == State::Began || state_ == State::Changed) {
        report(State::Cancelled);
    } else if (state_ == State::Possible) {
        state_ = State::Failed;
    }
}

void GestureRecognizer::simulateState(State state, QPointF location) {
    location_ = location;
    report(state);
}

double GestureRecognizer::now() {
    return Clock::current()->monotonicSeconds();
}

void GestureRecognizer::report(State state) {
    state_ = state;
    // Copied: an action may add targets or detach the recogniser.
    const auto actions = actions_;
    QPointer<GestureRecognizer> self(this);
    for (const auto& action : actions) {
        if (!self) return;
        action(*this);
    }
}

void GestureRecognizer::fail() {
    if (state_ == State::Possible) state_ = State::Failed;
}

bool GestureRecognizer::allowsSimultaneous(GestureRecognizer& other) {
    auto mine = delegate_.lock();
    if (mine && mine->shouldRecognizeSimultaneously(*this, other)) return true;
    auto theirs = other.delegate_.lock();
    return theirs && theirs->shouldRecognizeSimultaneously(other, *this);
}

bool GestureRecognizer::tryToRecognize(State state) {
    if (state_ != State::Possible || !enabled_) return false;
    if (auto delegate = delegate_.lock(); delegate && !delegate->gestureRecognizerShouldBegin(*this)) {
        state_ = State::Failed;
        return false;
    }
    std::vector<GestureRecognizer*> rivals;
    if (competes() && view_) {
        for (auto* other : gestureRecognizers(view_)) {
            if (other == this || !other->competes() || allowsSimultaneous(*other)) continue;
            const auto theirs = other->state();
            if (theirs == State::Began || theirs == State::Changed) {
                state_ = State::Failed;
                return false;
            }
            if (theirs == State::Possible) rivals.push_back(other);
        }
    }
    for (auto* rival : rivals) rival->fail();
    report(state);
    return true;
}

bool GestureRecognizer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != view_) return false;
    // Qt calls the last installed filter first; the first recogniser hands each event to all of them
    // in the order they were added, so their actions run in that order.
    const auto all = gestureRecognizers(view_);
    if (all.empty() || all.front() != this) return false;
    QPointer<QWidget> view = view_;
    for (QPointer<GestureRecognizer> recognizer : all) {
        if (!view) break;
        if (recognizer && recognizer->view_ == view && recognizer->enabled_) recognizer->handle(event);
    }
    return false;  // the widget still sees every event
}

void GestureRecognizer::handle(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || pressed_) break;
            pressed_ = true;
            if (state_ != State::Began && state_ != State::Changed) state_ = State::Possible;
            location_ = mouse->position();
            pressed(location_, now());
            break;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (pressed_) {
                if (!(mouse->buttons() & Qt::LeftButton)) break;
                moved(mouse->position(), now());
            } else {
                hovered(QEvent::HoverMove, mouse->position());
            }
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || !pressed_) break;
            pressed_ = false;
            released(mouse->position(), now());
            break;
        }
        case QEvent::Enter:
            hovered(QEvent::HoverEnter, static_cast<QEnterEvent*>(event)->position());
            break;
        case QEvent::Leave:
            hovered(QEvent::HoverLeave, location_);
            break;
        default:
            break;
    }
}

void addGestureRecognizer(QWidget* view, GestureRecognizer* recognizer) {
    if (!view || !recognizer) return;
    if (recognizer->view_) removeGestureRecognizer(recognizer->view_, recognizer);
    recognizer->setParent(view);
    recognizer->view_ = view;
    view->installEventFilter(recognizer);
    if (!recognizer->competes()) view->setMouseTracking(true);  // hovering needs moves without a button
}

void removeGestureRecognizer(QWidget* view, GestureRecognizer* recognizer) {
    if (!view || !recognizer || recognizer->view_ != view) return;
    view->removeEventFilter(recognizer);
    recognizer->view_ = nullptr;
    recognizer->pressed_ = false;
    recognizer->setParent(nullptr);
}

std::vector<GestureRecognizer*> gestureRecognizers(const QWidget* view) {
    std::vector<GestureRecognizer*> found;
    if (!view) return found;
    for (auto* child : view->children()) {
        if (auto* recognizer = qobject_cast<GestureRecognizer*>(child);
            recognizer && recognizer->view() == view) {
            found.push_back(recognizer);
        }
    }
    return found;
}

}  // namespace platform
