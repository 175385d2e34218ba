#include "platform/ui/TextField.hpp"

#include <QAction>
#include <QFocusEvent>
#include <QIcon>
#include <QPixmap>
#include <QSignalBlocker>

#include "platform/ui/ImageView.hpp"
#include "platform/ui/ReadablePlaceholder.hpp"

namespace platform {

TextField::TextField(QWidget* parent) : QLineEdit(parent) {
    TextFieldEditTracker::Hooks hooks;
    hooks.read = [this] {
        return TextFieldEditTracker::State{text(), cursorPosition(),
                                           hasSelectedText() ? selectionStart() : cursorPosition(),
                                           static_cast<int>(selectedText().size())};
    };
    hooks.restore = [this](const TextFieldEditTracker::State& state) {
        const QSignalBlocker blocker(this);
        QLineEdit::setText(state.text);
        if (state.selectionLength > 0) {
            const bool caretAtStart = state.cursor == state.selectionStart;
            if (caretAtStart) {
                setSelection(state.selectionStart + state.selectionLength, -state.selectionLength);
            } else {
                setSelection(state.selectionStart, state.selectionLength);
            }
        } else {
            setCursorPosition(state.cursor);
        }
    };
    hooks.shouldChange = [this](const TextReplacement& replacement) {
        auto delegate = delegate_.lock();
        return !delegate || delegate->textFieldShouldChangeCharacters(*this, replacement);
    };
    hooks.didChange = [this] {
        if (auto delegate = delegate_.lock()) delegate->textFieldDidChange(*this);
    };
    hooks.didChangeSelection = [this] {
        if (auto delegate = delegate_.lock()) delegate->textFieldDidChangeSelection(*this);
    };
    tracker_ = std::make_unique<TextFieldEditTracker>(std::move(hooks));
    // Every change that does not come through setText is the user's (typing, paste, undo, the clear
    // button). textEdited cannot tell: the clear button sends it only after the text has changed.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (clearAction_) clearAction_->setVisible(!text().isEmpty());
        tracker_->noteUserEdit();
    });
    connect(this, &QLineEdit::cursorPositionChanged, this, [this] { tracker_->noteChange(); });
    connect(this, &QLineEdit::selectionChanged, this, [this] { tracker_->noteChange(); });
    connect(this, &QLineEdit::returnPressed, this, [this] {
        if (auto delegate = delegate_.lock()) delegate->textFieldShouldReturn(*this);
    });
    keepPlaceholderReadable(*this);
}

TextField::~TextField() = default;

void TextField::setClearButtonShown(bool shown) {
    if (shown == isClearButtonShown()) return;
    if (!shown) {
        removeAction(clearAction_);
        delete clearAction_;
        clearAction_ = nullptr;
        return;
    }
    // Our own button rather than QLineEdit's: that one fades with an animation on real time.
    QPixmap pixmap = QPixmap::fromImage(
        NamedImage::named(QStringLiteral("xmark.circle")).render(QSize(32, 32), QColor(0x8e, 0x8e, 0x93)));
    pixmap.setDevicePixelRatio(2);
    clearAction_ = addAction(QIcon(pixmap), QLineEdit::TrailingPosition);
    clearAction_->setObjectName(QStringLiteral("clearButton"));
    clearAction_->setVisible(!text().isEmpty());
    connect(clearAction_, &QAction::triggered, this, [this] {
        if (text().isEmpty()) return;
        tracker_->beginEvent();
        clear();  // not through setText: a user edit
        tracker_->endEvent();
    });
}

void TextField::setText(const QString& text) {
    tracker_->changeProgrammatically([&] { QLineEdit::setText(text); });
}

bool TextField::becomeFirstResponder() {
    setFocus(Qt::OtherFocusReason);
    return hasFocus();
}

bool TextField::event(QEvent* event) {
    tracker_->beginEvent();
    const bool handled = QLineEdit::event(event);
    tracker_->endEvent();
    return handled;
}

void TextField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (editing_) return;
    editing_ = true;
    if (auto delegate = delegate_.lock()) delegate->textFieldDidBeginEditing(*this);
}

void TextField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A popup (the context menu) takes focus for a moment without ending the edit.
    if (!editing_ || event->reason() == Qt::PopupFocusReason) return;
    editing_ = false;
    if (auto delegate = delegate_.lock()) delegate->textFieldDidEndEditing(*this);
}

}  // namespace platform
