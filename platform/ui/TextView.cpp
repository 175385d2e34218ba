#include "platform/ui/TextView.hpp"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

// Characters from which a paragraph is long (a few screens of lines): it keeps its worked-out
// glyphs, and is laid out only as far as shown while nobody works in it.
constexpr int kLongParagraph = 8192;

// The height of a line as the plain-text layout stacks it (leading included, a negative one taken
// off whole).
double stackedHeight(const QTextLine& line) {
    return line.height() + (line.leading() < 0 ? std::ceil(line.leading()) : 0);
}

// The longest start of a paragraph read out by itself for measuring.
constexpr qsizetype kPieceReadAlone = 16384;

// Lines stacked one below the other, and how high the first of them reach while they stay within
// `stopAbove`.
struct LineStack {
    double stopAbove = 0;
    double height = 0;
    double fitting = 0;  // the lines that end within stopAbove
    void add(double lineHeight) {
        height += lineHeight;
        if (height <= stopAbove) fitting = height;
    }
    bool past() const { return height > stopAbove; }
};

// Stacks `text` wrapped at `lineWidth` as the view's own layout wraps it, until its lines go past
// the stack's stopAbove. A long paragraph is laid out from a piece of its start first, growing the
// piece until its lines go past: laying out even part of a paragraph sizes the layout's buffers for
// the whole and reads every character's break rules, which for a long title costs more than the
// lines that are needed. The last lines of a piece may wrap otherwise than in the whole paragraph
// (where the piece is cut, and a script's words can run up to it), so only lines that end well
// before the cut are counted from it.
void stackWrapped(LineStack& stack, const QTextBlock& block, const QFont& font, const QTextOption& option,
                  double lineWidth) {
    // The block's text, or the start of it: a short piece is read out character by character
    // rather than copying out a long paragraph whole for its first lines.
    const qsizetype size = block.length() - 1;
    QString whole;
    const auto text = [&](qsizetype length) {
        if (length >= size || length > kPieceReadAlone) {
            if (whole.isNull()) whole = block.text();
            return length >= size ? whole : whole.left(length);
        }
        QString start;
        start.reserve(length);
        const QTextDocument* doc = block.document();
        for (qsizetype i = 0; i < length; ++i)
            start += doc->characterAt(block.position() + static_cast<int>(i));
        return start;
    };
    constexpr qsizetype kUnsureEnd = 256;
    qsizetype piece = size;
    if (stack.stopAbove < std::numeric_limits<double>::max()) {
        // The first piece holds the lines left to stack if they are half again as full as lines of
        // average characters; a piece that falls short grows.
        const QFontMetricsF metrics(font);
        const double lines = (stack.stopAbove - stack.height) / std::max(1.0, metrics.lineSpacing()) + 2;
        const double perLine = 1.5 * lineWidth / std::max(1.0, metrics.averageCharWidth());
        piece = std::min(size, static_cast<qsizetype>(std::min(lines * perLine, 1e9)) + 2 * kUnsureEnd);
    }
    for (;;) {
        const bool cut = piece + kUnsureEnd < size;
        if (!cut) piece = size;
        QString pieceText = text(piece);
        if (cut && pieceText.back().isHighSurrogate()) pieceText = text(++piece);
        LineStack tried = stack;
        QTextLayout layout(pieceText, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid() && !tried.past();
             line = layout.createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(lineWidth);
            if (cut && line.textStart() + line.textLength() > piece - kUnsureEnd) break;
            tried.add(stackedHeight(line));
        }
        layout.endLayout();
        if (tried.past() || !cut) {
            stack = tried;
            return;
        }
        piece *= 4;
    }
}

}  // namespace

// The view's plain-text layout. Until the user works in the view, a long paragraph is laid out only
// as far as the view shows it: opening a 100 KB title, the glyphs of all of it cost ten times the
// lines on screen. Meanwhile its line count is reckoned from the lines laid out, so the scroll bar
// shows about how much more there is. The view has it laid out whole, as the plain-text layout
// does, before anything can move in the text (a key, a click, the wheel, the scroll bar, focus).
class TextViewLayout : public QPlainTextDocumentLayout {
  public:
    TextViewLayout(QTextDocument* document, const QWidget* viewport)
        : QPlainTextDocumentLayout(document), viewport_(viewport) {}

    QRectF blockBoundingRect(const QTextBlock& block) const override {
        if (partial_ && block.isValid() && block.isVisible() && block.length() > kLongParagraph &&
            block.layout()->lineCount() == 0) {
            layOutShownLines(block);
        }
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    }

    static bool laidOutInPart(const QTextBlock& block) {
        const QTextLayout* layout = block.layout();
        if (layout == nullptr || layout->lineCount() == 0) return false;
        const QTextLine last = layout->lineAt(layout->lineCount() - 1);
        return last.textStart() + last.textLength() < block.length() - 1;
    }

    // Drops the lines of paragraphs laid out in part, to be laid out again for a taller view.
    void forgetShownLines() {
        if (!partial_) return;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            if (laidOutInPart(block)) block.clearLayout();
        }
    }

    // Whether a paragraph was laid out in part before (and is now whole).
    bool layOutWhole() {
        if (!partial_) return false;
        partial_ = false;
        bool completed = false;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            if (!laidOutInPart(block)) continue;
            block.clearLayout();
            (void)QPlainTextDocumentLayout::blockBoundingRect(block);  // lays it out
            completed = true;
        }
        return completed;
    }

  private:
    // The paragraph's lines from its top down past the view's height, as the plain-text layout places
    // them (an unscrolled view shows no more).
    void layOutShownLines(const QTextBlock& block) const {
        const QTextDocument* doc = document();
        const QTextOption option = doc->defaultTextOption();
        // Unwrapped, the first line is the whole paragraph; room for separators the plain-text
        // layout works out itself.
        if (option.wrapMode() == QTextOption::NoWrap ||
            (option.flags() & QTextOption::AddSpaceForLineAndParagraphSeparators) ||
            viewport_->width() <= 0) {
            return;
        }
        const double margin = doc->documentMargin();
        // The plain-text layout wraps at the viewport's width.
        const double lineWidth = viewport_->width() - 2 * margin;
        QTextLayout* layout = block.layout();
        layout->setTextOption(option);
        layout->beginLayout();
        double height = 0;
        // A line past the view's bottom keeps the scroll bar's last page, counted back from the
        // laid-out lines' end, within them.
        while (height <= viewport_->height() + margin) {
            QTextLine line = layout->createLine();
            if (!line.isValid()) break;
            line.setLeadingIncluded(true);
            line.setLineWidth(lineWidth);
            line.setPosition(QPointF(margin, height));
            height += stackedHeight(line);
        }
        layout->endLayout();
        const int lines = layout->lineCount();
        if (lines == 0) return;
        const QTextLine last = layout->lineAt(lines - 1);
        const int laid = last.textStart() + last.textLength();
        const int rest = block.length() - 1 - laid;
        // The rest in lines as full as those so far.
        const int reckoned =
            lines + (rest > 0
                         ? static_cast<int>(std::ceil(static_cast<double>(rest) * lines / std::max(1, laid)))
                         : 0);
        const int before = doc->lineCount();
        QTextBlock(block).setLineCount(reckoned);
        if (doc->lineCount() != before) {
            emit const_cast<TextViewLayout*>(this)->documentSizeChanged(documentSize());
        }
    }

    const QWidget* viewport_;
    bool partial_ = true;
};

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
    auto* doc = new QTextDocument(this);
    layout_ = new TextViewLayout(doc, viewport());
    doc->setDocumentLayout(layout_);
    setDocument(doc);
    verticalScrollBar()->installEventFilter(this);
    connect(this, &QPlainTextEdit::textChanged, this, [this] { tracker_->noteUserEdit(); });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { tracker_->noteChange(); });
    connect(this, &QPlainTextEdit::selectionChanged, this, [this] { tracker_->noteChange(); });
    connect(document(), &QTextDocument::contentsChanged, this, [this] { ++revision_; });
}

TextView::~TextView() = default;

void TextView::setText(const QString& text) {
    tracker_->changeProgrammatically([&] { replaceText(text); });
}

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
    // A paragraph's layout keeps only its lines after laying out, and every paint works the whole
    // paragraph's scripts and glyphs out again for the lines it draws: for a long paragraph that is
    // more than drawing them. Such a paragraph keeps what it worked out while it is shown.
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block.length() > kLongParagraph) block.layout()->setCacheEnabled(true);
    }
    // A view on screen keeps its caret in sight, as before (which takes the lines up to it); one not
    // shown yet is laid out when shown.
    if (isVisible()) {
        layOutWhole();
        ensureCursorVisible();
    }
}

TextView::HeightFit TextView::heightFitting(double width, double limit) const {
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
    // Lines that end within this height fit in `limit` (for a whole number of pixels).
    const double stopAbove = limit >= std::numeric_limits<double>::max() ? limit : limit - frame - 1;
    const auto known = std::find_if(measured_.begin(), measured_.end(), [&](const Measured& entry) {
        return entry.key == key &&
               ((entry.whole && entry.textHeight <= stopAbove) || entry.stopAbove == stopAbove);
    });
    Measured measured;
    if (known != measured_.end()) {
        measured = *known;
    } else {
        measured = measureText(key, viewportWidth, stopAbove);
        // A few widths are asked in turn (the window's, a half for a side-by-side layout, the one
        // before a resize); older texts are of no more use, nor another measure at this width.
        std::erase_if(measured_, [&](const Measured& entry) {
            return entry.key.revision != revision_ || entry.key == key;
        });
        if (measured_.size() >= 4) measured_.erase(measured_.begin());
        measured_.push_back(measured);
    }
    if (measured.textHeight <= stopAbove) return {fitting(measured.textHeight), false};
    // Held to the lines that fit, so the view opened at the top ends at a line's end: the text's
    // margin above them and none below (a margin there would show the top of the next line); the
    // limit itself when not even one line fits.
    if (measured.fittingHeight <= 0) return {limit, true};
    return {std::min(std::ceil(measured.fittingHeight + margin + contents.top() + contents.bottom()), limit),
            true};
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
    LineStack stack{stopAbove};
    bool laidOutHere = false;
    for (QTextBlock block = doc->begin(); block.isValid() && !stack.past(); block = block.next()) {
        if (!block.isVisible()) continue;
        if (shownWidth) {
            // Lays the block out when it is not (in part while nobody works in the view).
            if (unlimited) (void)viewLayout->blockBoundingRect(block);
            const QTextLayout* lines = block.layout();
            if (lines != nullptr && lines->lineCount() > 0 &&
                std::abs(lines->lineAt(0).width() - key.lineWidth) <= 0.01) {
                LineStack shown = stack;
                for (int i = 0; i < lines->lineCount() && !shown.past(); ++i)
                    shown.add(stackedHeight(lines->lineAt(i)));
                // Lines laid out only as far as shown answer when they go past.
                if (shown.past() || !TextViewLayout::laidOutInPart(block)) {
                    stack = shown;
                    continue;
                }
            }
        }
        laidOutHere = true;
        stackWrapped(stack, block, doc->defaultFont(), option, key.lineWidth);
    }
    if (laidOutHere) ++measurements_;
    return {key, stopAbove, stack.height, stack.fitting, !stack.past()};
}

bool TextView::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod) layOutWhole();
    tracker_->beginEvent();
    const bool handled = QPlainTextEdit::event(event);
    tracker_->endEvent();
    return handled;
}

bool TextView::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
            layOutWhole();
            break;
        case QEvent::Resize:
            // Taller, the view shows lines below those laid out.
            if (layout_ != nullptr) layout_->forgetShownLines();
            break;
        default:
            break;
    }
    return QPlainTextEdit::viewportEvent(event);
}

bool TextView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == verticalScrollBar() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)) {
        layOutWhole();
    }
    return QPlainTextEdit::eventFilter(watched, event);
}

void TextView::scrollContentsBy(int dx, int dy) {
    // Scrolled in any other way too, the view needs the lines below.
    layOutWhole();
    QPlainTextEdit::scrollContentsBy(dx, dy);
}

void TextView::layOutWhole() {
    if (layout_ != nullptr && layout_->layOutWhole()) viewport()->update();
}

void TextView::focusInEvent(QFocusEvent* event) {
    layOutWhole();
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
