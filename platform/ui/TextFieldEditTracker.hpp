#pragma once

#include <QString>

#include "platform/ui/TextReplacement.hpp"

#include <functional>
#include <memory>

namespace platform {

// What an edit replaced, worked out from the text before and after it and where the selection began
// before it (that settles which of several equal characters was typed or deleted).
TextReplacement replacementBetween(const QString& before, const QString& after, int selectionStartBefore);

// Turns the bursts of change signals a Qt text widget sends for one user action into the calls the
// text delegates expect: per user edit one "should change" question (a refusal puts the old text
// back and nothing is reported), then one "did change" and one "did change selection"; per caret or
// selection move one "did change selection". Programmatic changes are taken in silently. Used by
// TextField and TextView; main thread only.
class TextFieldEditTracker {
  public:
    struct State {
        QString text;
        int cursor = 0;
        int selectionStart = 0;
        int selectionLength = 0;
        bool operator==(const State&) const = default;
    };
    struct Hooks {
        std::function<State()> read;
        std::function<void(const State&)> restore;  // without signals reaching the tracker
        std::function<bool(const TextReplacement&)> shouldChange;
        std::function<void()> didChange;
        std::function<void()> didChangeSelection;
    };
    explicit TextFieldEditTracker(Hooks hooks);

    // Around each event the widget handles: changes inside are reported once, when the outermost ends.
    void beginEvent() { ++depth_; }
    void endEvent();
    // From the widget's change signals. A change outside any event (a menu's paste) is reported on
    // the next turn of the event loop, after its signals have all arrived.
    void noteUserEdit();
    void noteChange();
    // Runs `change` (programmatic text) without reporting it or anything it causes.
    void changeProgrammatically(const std::function<void()>& change);

  private:
    void flush();

    Hooks hooks_;
    State last_;
    int depth_ = 0;
    bool userEdit_ = false;
    bool flushQueued_ = false;
    bool restoring_ = false;
    bool flushing_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // guards a queued flush
};

}  // namespace platform
