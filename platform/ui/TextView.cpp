#include "platform/ui/TextView.hpp"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>

namespace platform {

TextView::TextView(QWidget* parent) : QPlainTextEdit(parent) {
    TextFieldEditTracker::Hooks hooks;
    hooks.read = [this] {
        const QTextCursor cursor = textCursor();
        return TextFieldEditTracker::State{toPlainText(), cursor.position(), cursor.selectionStart(),
                                           cursor.selectionEnd() - cursor.selectionStart()};
    };
    hooks.restore = [this](const TextFieldEditTracker::State& state) {
        QTextCursor cursor(document());
        cursor.select(QTextCursor::Document);
        cursor.insertText(state.text);
        cursor.setPosition(state.cursor == state.selectionStart ? state.selectionStart + state.selectionLength
                                                                : state.selectionStart);
        cursor.setPosition(state.cursor, QTextCursor::KeepAnchor);
        setTextCursor(cursor);
        viewport()->update();
    };
    hooks.shouldChange = [this](const TextReplacement& replacement) {
        auto delegate = delegate_.lock();
        return !delegate || delegate->textViewShouldChangeText(*this, replacement);
    };
    hooks.didChange = [this] {
        if (auto delegate = delegate_.lock()) delegate->textViewDidChange(*this);
    };
    hooks.didChangeSelection = [this] {
        if (auto delegate = delegate_.lock()) delegate->textViewDidChangeSelection(*this);
    };
    tracker_ = std::make_unique<TextFieldEditTracker>(std::move(hooks));
    connect(this, &QPlainTextEdit::textChanged, this, [this] { tracker_->noteUserEdit(); });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { tracker_->noteChange(); });
    connect(this, &QPlainTextEdit::selectionChanged, this, [this] { tracker_->noteChange(); });
}

TextView::~TextView() = default;

void TextView::setText(const QString& text) {
    tracker_->changeProgrammatically([&] {
        setPlainText(text);
        moveCursor(QTextCursor::End);
    });
}

double TextView::heightThatFits(double width) const {
    // Lines as the plain-text layout stacks them: each paragraph wrapped at the text width.
    const double margin = document()->documentMargin();
    const QMargins contents = contentsMargins();
    const double textWidth = std::max(1.0, width - contents.left() - contents.right() - 2 * margin);
    double height = 0;
    const QStringList paragraphs = toPlainText().split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, font());
        QTextOption option = document()->defaultTextOption();
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(textWidth);
            height += line.height();
        }
        layout.endLayout();
    }
    // The view scrolls unless its last line ends strictly inside: one pixel more.
    return std::ceil(height + 2 * margin + contents.top() + contents.bottom()) + 1;
}

bool TextView::event(QEvent* event) {
    tracker_->beginEvent();
    const bool handled = QPlainTextEdit::event(event);
    tracker_->endEvent();
    return handled;
}

void TextView::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    if (editing_) return;
    editing_ = true;
    if (auto delegate = delegate_.lock()) delegate->textViewDidBeginEditing(*this);
}

void TextView::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    if (!editing_ || event->reason() == Qt::PopupFocusReason) return;
    editing_ = false;
    if (auto delegate = delegate_.lock()) delegate->textViewDidEndEditing(*this);
}

}  // namespace platform
