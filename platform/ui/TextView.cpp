#include "platform/ui/TextView.hpp"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace platform {

TextView::TextView(QWidget* parent) : QPlainTextEdit(parent) {
    TextFieldEditTracker::Hooks hooks;
    hooks.read = [this] {
        const QTextCursor cursor = textCursor();
        if (plainTextRevision_ != revision_) {
            plainText_ = toPlainText();
            plainTextRevision_ = revision_;
        }
        return TextFieldEditTracker::State{plainText_, cursor.position(), cursor.selectionStart(),
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
    connect(document(), &QTextDocument::contentsChanged, this, [this] { ++revision_; });
}

TextView::~TextView() = default;

void TextView::setText(const QString& text) {
    tracker_->changeProgrammatically([&] { replaceText(text); });
}

namespace {

// The height of laid-out lines as the plain-text layout stacks them (leading included, a negative
// one taken off whole).
double stackedHeight(const QTextLayout& layout) {
    double height = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        height += line.height();
        if (line.leading() < 0) height += std::ceil(line.leading());
    }
    return height;
}

}  // namespace

void TextView::replaceText(const QString& text) {
    // The whole text in one edit with no undo step, the caret after it (as a new text is shown
    // for editing). A paragraph replaced by one paragraph is laid out again at once by the
    // plain-text layout, at the width the view has now, which before the view is shown is not the
    // one it shows at: a long title would be laid out for nothing. Going through an empty second
    // paragraph first only marks the text for layout, done once when it is shown or measured. The
    // edit block keeps the inserting cursor from laying it out to remember its column.
    QTextDocument* doc = document();
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.select(QTextCursor::Document);
    cursor.insertText(QStringLiteral("\n"));
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
    cursor.endEditBlock();
    doc->setUndoRedoEnabled(undo);
    // The view's caret has moved along with the insertion to the end. Moving a cursor lays its
    // paragraph out (to remember the column), so it is only moved when it did not get there.
    const QTextCursor caret = textCursor();
    const int end = doc->characterCount() - 1;
    if (caret.position() != end || caret.hasSelection()) {
        QTextCursor moved = caret;
        moved.movePosition(QTextCursor::End);
        setTextCursor(moved);
    }
    // A view on screen keeps its caret in sight, as before; one not shown yet is laid out when shown.
    if (isVisible()) ensureCursorVisible();
}

double TextView::heightThatFits(double width) const {
    const QTextDocument* doc = document();
    const double margin = doc->documentMargin();
    const QMargins contents = contentsMargins();
    const double viewportWidth = width - contents.left() - contents.right();
    const QTextOption option = doc->defaultTextOption();
    double lineWidth = viewportWidth - 2 * margin;
    if (option.flags() & QTextOption::AddSpaceForLineAndParagraphSeparators) {
        lineWidth -= QFontMetrics(doc->defaultFont()).horizontalAdvance(QChar(0x21B5));
    }
    lineWidth = std::max(1.0, lineWidth);
    const MeasureKey key{revision_,
                         lineWidth,
                         doc->defaultFont(),
                         option.wrapMode(),
                         static_cast<int>(option.flags()),
                         option.tabStopDistance(),
                         option.textDirection()};
    double textHeight = 0;
    const auto known = std::find_if(measured_.begin(), measured_.end(),
                                    [&](const Measured& entry) { return entry.key == key; });
    if (known != measured_.end()) {
        textHeight = known->textHeight;
    } else {
        const auto shown = textHeightFromView(viewportWidth, lineWidth);
        textHeight = shown ? *shown : textHeightFromLayout(lineWidth);
        // A few widths are asked in turn (the window's, a half for a side-by-side layout, the one
        // before a resize); older texts are of no more use.
        std::erase_if(measured_, [&](const Measured& entry) { return entry.key.revision != revision_; });
        if (measured_.size() >= 4) measured_.erase(measured_.begin());
        measured_.push_back({key, textHeight});
    }
    // The view scrolls unless its last line ends strictly inside: one pixel more.
    return std::ceil(textHeight + 2 * margin + contents.top() + contents.bottom()) + 1;
}

std::optional<double> TextView::textHeightFromView(double viewportWidth, double lineWidth) const {
    // The view lays its text out at its viewport's width anyway to show it: at that width the
    // lines it has (or makes now, once) are the answer.
    if (viewportWidth != static_cast<double>(viewport()->width())) return std::nullopt;
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    double height = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (!block.isVisible()) continue;
        (void)layout->blockBoundingRect(block);  // lays the block out when it is not
        const QTextLayout* lines = block.layout();
        if (lines == nullptr) return std::nullopt;
        if (lines->lineCount() > 0 && std::abs(lines->lineAt(0).width() - lineWidth) > 0.01)
            return std::nullopt;
        height += stackedHeight(*lines);
    }
    return height;
}

double TextView::textHeightFromLayout(double lineWidth) const {
    // Each paragraph wrapped at the line width as the view's own layout wraps it.
    ++measurements_;
    const QTextDocument* doc = document();
    const QTextOption option = doc->defaultTextOption();
    double height = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!block.isVisible()) continue;
        QTextLayout layout(block.text(), doc->defaultFont());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(lineWidth);
        }
        layout.endLayout();
        height += stackedHeight(layout);
    }
    return height;
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
