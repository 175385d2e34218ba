#include "platform/ui/TextFieldEditTracker.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

namespace platform {

TextReplacement replacementBetween(const QString& before, const QString& after, int selectionStartBefore) {
    const int shorter = static_cast<int>(std::min(before.size(), after.size()));
    int prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
    prefix = std::min(prefix, std::max(0, selectionStartBefore));
    int suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    TextReplacement replacement;
    replacement.location = prefix;
    replacement.length = static_cast<int>(before.size()) - prefix - suffix;
    replacement.text = after.mid(prefix, after.size() - prefix - suffix);
    return replacement;
}

TextFieldEditTracker::TextFieldEditTracker(Hooks hooks) : hooks_(std::move(hooks)) {
    last_ = hooks_.read();
}

void TextFieldEditTracker::endEvent() {
    if (--depth_ == 0) flush();
}

void TextFieldEditTracker::noteUserEdit() {
    if (restoring_) return;
    userEdit_ = true;
    noteChange();
}

void TextFieldEditTracker::noteChange() {
    if (restoring_ || depth_ > 0 || flushQueued_) return;
    flushQueued_ = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired()) return;
        flushQueued_ = false;
        flush();
    });
}

void TextFieldEditTracker::changeProgrammatically(const std::function<void()>& change) {
    // Held like an event so nothing in between is reported, and the end state taken as settled.
    ++depth_;
    const bool wasRestoring = restoring_;
    restoring_ = true;
    change();
    restoring_ = wasRestoring;
    --depth_;
    if (depth_ == 0) userEdit_ = false;
    last_ = hooks_.read();
}

void TextFieldEditTracker::flush() {
    // A delegate call may move focus or set text, which comes back here; the outer flush settles it.
    if (flushing_) return;
    flushing_ = true;
    const State before = last_;
    const State now = hooks_.read();
    const bool edited = userEdit_ && now.text != before.text;
    userEdit_ = false;
    last_ = now;
    if (now == before) {
        flushing_ = false;
        return;
    }
    if (!edited && now.text != before.text) {
        flushing_ = false;  // programmatic: nothing to report
        return;
    }
    if (edited) {
        const auto replacement = replacementBetween(before.text, now.text, before.selectionStart);
        if (hooks_.shouldChange && !hooks_.shouldChange(replacement)) {
            restoring_ = true;
            hooks_.restore(before);
            restoring_ = false;
            last_ = hooks_.read();
            flushing_ = false;
            return;
        }
        if (hooks_.didChange) hooks_.didChange();
    }
    if (hooks_.didChangeSelection) hooks_.didChangeSelection();
    flushing_ = false;
}

}  // namespace platform
