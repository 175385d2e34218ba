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
#include <limits>

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

// The height of a line as the plain-text layout stacks it (leading included, a negative one taken
// off whole).
double stackedHeight(const QTextLine& line) {
    return line.height() + (line.leading() < 0 ? std::ceil(line.leading()) : 0);
}

// The height of laid-out lines stacked.
double stackedHeight(const QTextLayout& layout) {
    double height = 0;
    for (int i = 0; i < layout.lineCount(); ++i) height += stackedHeight(layout.lineAt(i));
    return height;
}

// The height of `text` wrapped at `lineWidth` as the view's own layout wraps it, or, once its lines
// go past `stopAbove`, of the lines so far. A long paragraph is laid out from a piece of its start
// first, growing the piece until its lines go past: laying out even part of a paragraph sizes the
// layout's buffers for the whole and reads every character's break rules, which for a long title
// costs more than the lines that are needed. The last lines of a piece may wrap otherwise than in
// the whole paragraph (where the piece is cut, and a script's words can run up to it), so only
// lines that end well before the cut are counted from it.
double wrappedHeight(const QString& text, const QFont& font, const QTextOption& option, double lineWidth,
                     double stopAbove) {
    constexpr qsizetype kFirstPiece = 4096;
    constexpr qsizetype kUnsureEnd = 256;
    qsizetype piece = stopAbove >= std::numeric_limits<double>::max() ? text.size() : kFirstPiece;
    for (;;) {
        const bool cut = piece + kUnsureEnd < text.size();
        if (!cut) piece = text.size();
        if (cut && text.at(piece - 1).isHighSurrogate()) ++piece;
        QTextLayout layout(cut ? text.left(piece) : text, font);
        layout.setTextOption(option);
        layout.beginLayout();
        double height = 0;
        bool past = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(lineWidth);
            if (cut && line.textStart() + line.textLength() > piece - kUnsureEnd) break;
            height += stackedHeight(line);
            if (height > stopAbove) {
                past = true;
                break;
            }
        }
        layout.endLayout();
        if (past || !cut) return height;
        piece *= 4;
    }
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

double TextView::heightThatFits(double width, double limit) const {
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
    const double frame = 2 * margin + contents.top() + contents.bottom();
    // The view scrolls unless its last line ends strictly inside: one pixel more.
    const auto fitting = [&](double textHeight) { return std::ceil(textHeight + frame) + 1; };
    // Lines that went past this height already need more than the limit.
    const double stopAbove = limit - frame - 1;
    const auto known = std::find_if(measured_.begin(), measured_.end(),
                                    [&](const Measured& entry) { return entry.key == key; });
    double textHeight = 0;
    if (known != measured_.end() && (known->whole || known->textHeight > stopAbove)) {
        textHeight = known->textHeight;
    } else {
        const Measured measured = measureText(key, viewportWidth, stopAbove);
        textHeight = measured.textHeight;
        // A few widths are asked in turn (the window's, a half for a side-by-side layout, the one
        // before a resize); older texts are of no more use, nor a shorter measure at this width.
        std::erase_if(measured_, [&](const Measured& entry) {
            return entry.key.revision != revision_ || entry.key == key;
        });
        if (measured_.size() >= 4) measured_.erase(measured_.begin());
        measured_.push_back(measured);
    }
    return std::min(fitting(textHeight), limit);
}

TextView::Measured TextView::measureText(const MeasureKey& key, double viewportWidth,
                                         double stopAbove) const {
    // Paragraph by paragraph, in the lines the view has made when it shows at this width (with no
    // limit it makes them now, once: it shows them all anyway), else wrapped here at the line width
    // as the view's own layout wraps them, until the lines go past `stopAbove`.
    const QTextDocument* doc = document();
    const bool shownWidth = viewportWidth == static_cast<double>(viewport()->width());
    const bool unlimited = stopAbove >= std::numeric_limits<double>::max();
    QAbstractTextDocumentLayout* viewLayout = doc->documentLayout();
    const QTextOption option = doc->defaultTextOption();
    Measured measured{key, 0, true};
    bool laidOutHere = false;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!block.isVisible()) continue;
        if (measured.textHeight > stopAbove) {
            measured.whole = false;
            break;
        }
        if (shownWidth) {
            if (unlimited) (void)viewLayout->blockBoundingRect(block);  // lays the block out when it is not
            const QTextLayout* lines = block.layout();
            if (lines != nullptr && lines->lineCount() > 0 &&
                std::abs(lines->lineAt(0).width() - key.lineWidth) <= 0.01) {
                measured.textHeight += stackedHeight(*lines);
                continue;
            }
        }
        laidOutHere = true;
        measured.textHeight += wrappedHeight(block.text(), doc->defaultFont(), option, key.lineWidth,
                                             stopAbove - measured.textHeight);
    }
    if (measured.textHeight > stopAbove && !unlimited) measured.whole = false;
    if (laidOutHere) ++measurements_;
    return measured;
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
