#include <gtest/gtest.h>

#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <functional>
#include <type_traits>
#include <vector>

#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

using platform::TextReplacement;

namespace {

struct FieldLog : platform::TextFieldDelegate, platform::TextViewDelegate {
    int began = 0, ended = 0, changes = 0, selections = 0, returns = 0;
    std::vector<TextReplacement> asked;
    std::function<bool(const TextReplacement&)> allow = [](const TextReplacement&) { return true; };
    std::function<void()> onReturnText;

    void textFieldDidBeginEditing(platform::TextField&) override { ++began; }
    void textFieldDidEndEditing(platform::TextField&) override { ++ended; }
    bool textFieldShouldChangeCharacters(platform::TextField&, const TextReplacement& r) override {
        asked.push_back(r);
        return allow(r);
    }
    void textFieldDidChange(platform::TextField&) override { ++changes; }
    void textFieldDidChangeSelection(platform::TextField&) override { ++selections; }
    bool textFieldShouldReturn(platform::TextField&) override {
        ++returns;
        return true;
    }

    void textViewDidBeginEditing(platform::TextView&) override { ++began; }
    void textViewDidEndEditing(platform::TextView&) override { ++ended; }
    bool textViewShouldChangeText(platform::TextView&, const TextReplacement& r) override {
        asked.push_back(r);
        if (r.text == QStringLiteral("\n") && onReturnText) onReturnText();
        return allow(r);
    }
    void textViewDidChange(platform::TextView&) override { ++changes; }
    void textViewDidChangeSelection(platform::TextView&) override { ++selections; }
};

class TextInputTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        field = new platform::TextField(window.get());
        view = new platform::TextView(window.get());
        other = new platform::TextField(window.get());
        layout->addWidget(field);
        layout->addWidget(view);
        layout->addWidget(other);
        window->resize(320, 200);
        window->show();
        QApplication::setActiveWindow(window.get());
        log = std::make_shared<FieldLog>();
        field->setDelegate(log);
        view->setDelegate(log);
    }
    void TearDown() override {
        window.reset();
        WidgetTest::TearDown();
    }

    std::unique_ptr<QWidget> window;
    platform::TextField* field = nullptr;
    platform::TextView* view = nullptr;
    platform::TextField* other = nullptr;
    std::shared_ptr<FieldLog> log;
};

}  // namespace

TEST(TextReplacement, WorkedOutFromTheTextBeforeAndAfter) {
    struct Case {
        const char* before;
        const char* after;
        int selectionStart;
        TextReplacement expected;
    };
    const Case cases[] = {
        {"aa", "aaa", 1, {1, 0, "a"}},  // typed between equal letters: the caret decides
        {"aa", "aaa", 2, {2, 0, "a"}},
        {"abc", "ac", 2, {1, 1, ""}},                        // backspace after "b"
        {"abc", "ab", 2, {2, 1, ""}},                        // delete before "c"
        {"hello world", "hello there", 6, {6, 5, "there"}},  // a selection replaced
        {"", "pasted", 0, {0, 0, "pasted"}},
        {"text", "", 0, {0, 4, ""}},  // cleared
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before + std::string(" -> ") + c.after);
        EXPECT_EQ(platform::replacementBetween(c.before, c.after, c.selectionStart), c.expected);
    }
}

// Counts of "did change" and "did change selection" per user action.
TEST_F(TextInputTest, TextFieldNotificationCounts) {
    struct Case {
        const char* name;
        const char* initial;
        std::function<void(platform::TextField&)> act;
        int changes;
        int selections;
        const char* text;
    };
    const Case cases[] = {
        {"typing three letters", "", [](platform::TextField& f) { QTest::keyClicks(&f, "abc"); }, 3, 3,
         "abc"},
        {"paste", "x",
         [](platform::TextField& f) {
             QGuiApplication::clipboard()->setText(QStringLiteral("hello"));
             QTest::keySequence(&f, QKeySequence::Paste);
         },
         1, 1, "xhello"},
        {"two caret moves", "abc",
         [](platform::TextField& f) {
             QTest::keyClick(&f, Qt::Key_Left);
             QTest::keyClick(&f, Qt::Key_Left);
         },
         0, 2, "abc"},
        {"selecting a letter", "abc",
         [](platform::TextField& f) { QTest::keyClick(&f, Qt::Key_Left, Qt::ShiftModifier); }, 0, 1, "abc"},
        {"typing over a selection", "abc",
         [](platform::TextField& f) {
             f.selectAll();
             QApplication::processEvents();
             QTest::keyClick(&f, Qt::Key_Z);
         },
         1, 2, "z"},
        {"backspace", "abc", [](platform::TextField& f) { QTest::keyClick(&f, Qt::Key_Backspace); }, 1, 1,
         "ab"},
        {"programmatic text", "abc",
         [](platform::TextField& f) {
             f.setText(QStringLiteral("set by code"));
             f.setCursorPosition(0);
             QApplication::processEvents();
         },
         0, 1, "set by code"},
        {"return key", "abc", [](platform::TextField& f) { QTest::keyClick(&f, Qt::Key_Return); }, 0, 0,
         "abc"},
        {"clear button", "abc",
         [](platform::TextField& f) {
             f.setClearButtonShown(true);
             f.setText(QStringLiteral("abc"));
             auto* clear = f.findChild<QToolButton*>();
             ASSERT_NE(clear, nullptr);
             clear->click();
             QApplication::processEvents();
         },
         1, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        field->setText(QString::fromUtf8(c.initial));
        field->setFocus();
        QApplication::processEvents();
        *log = FieldLog{};
        c.act(*field);
        QApplication::processEvents();  // anything queued would show up here as an extra call
        EXPECT_EQ(log->changes, c.changes);
        EXPECT_EQ(log->selections, c.selections);
        EXPECT_EQ(field->text(), QString::fromUtf8(c.text));
    }
    *log = FieldLog{};
    QTest::keyClick(field, Qt::Key_Enter);
    EXPECT_EQ(log->returns, 1);
}

TEST_F(TextInputTest, RefusedEditsAreUndoneAndNotReported) {
    field->setText(QString());
    field->setFocus();
    QApplication::processEvents();
    *log = FieldLog{};
    log->allow = [](const TextReplacement& r) { return !r.text.contains(QLatin1Char('1')); };
    QTest::keyClicks(field, "a1b");
    QApplication::processEvents();
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    EXPECT_EQ(field->cursorPosition(), 2);
    EXPECT_EQ(log->changes, 2);
    EXPECT_EQ(log->selections, 2);
    ASSERT_EQ(log->asked.size(), 3u);
    EXPECT_EQ(log->asked[1], (TextReplacement{1, 0, QStringLiteral("1")}));
}

TEST_F(TextInputTest, EditingFollowsFocus) {
    other->setFocus();
    QApplication::processEvents();
    *log = FieldLog{};
    field->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(field->isEditing());
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(log->began, 1);
    EXPECT_EQ(log->ended, 1);
    EXPECT_FALSE(field->isEditing());
}

// The text view refuses a return and ends editing, the way the point title does.
TEST_F(TextInputTest, TextViewReturnRefusedPasteCountedHeightFits) {
    view->setFocus();
    QApplication::processEvents();
    *log = FieldLog{};
    log->allow = [](const TextReplacement& r) { return r.text != QStringLiteral("\n"); };
    log->onReturnText = [this] { view->clearFocus(); };
    QTest::keyClicks(view, "ab");
    QTest::keyClick(view, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(view->text(), QStringLiteral("ab"));
    EXPECT_EQ(log->changes, 2);
    EXPECT_EQ(log->selections, 2);
    EXPECT_EQ(log->ended, 1);

    view->setFocus();
    QApplication::processEvents();
    *log = FieldLog{};
    QGuiApplication::clipboard()->setText(QStringLiteral("one\ntwo"));
    QTest::keySequence(view, QKeySequence::Paste);
    QApplication::processEvents();
    EXPECT_EQ(log->changes, 1);
    EXPECT_EQ(log->selections, 1);
    EXPECT_EQ(view->text(), QStringLiteral("abone\ntwo"));

    *log = FieldLog{};
    view->setText(QStringLiteral("A title"));
    QApplication::processEvents();
    EXPECT_EQ(log->changes, 0);
    EXPECT_EQ(log->selections, 0);
    const double oneLine = view->heightThatFits(300);
    view->setText(QStringLiteral("A title\nwith a second line\nand a third"));
    const double lineHeight = QFontMetricsF(view->font()).lineSpacing();
    EXPECT_NEAR(view->heightThatFits(300) - oneLine, 2 * lineHeight, 2);
    // Fitted: the whole text shows without scrolling, and not much more room than that.
    const int fits = static_cast<int>(view->heightThatFits(view->width()));
    view->setFixedHeight(fits - 2);
    QApplication::processEvents();
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    view->setFixedHeight(fits);
    QApplication::processEvents();
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    field->setClearButtonShown(true);
    field->setText(QStringLiteral("Coffee places"));
    other->setPlaceholderText(QStringLiteral("New tag"));
    QApplication::processEvents();
    widgetkit_test::saveScreenshot(widgetkit_test::render(*window), QStringLiteral("text_field_and_view"));
}

namespace {

// About `size` characters of words of varied length, with a line feed now and then.
QString longParagraphs(int size) {
    const QString words[] = {QStringLiteral("Harbour"), QStringLiteral("at"),   QStringLiteral("Kauppatori,"),
                             QStringLiteral("ferry"),   QStringLiteral("gate"), QStringLiteral("Suomenlinna"),
                             QStringLiteral("by"),      QStringLiteral("the"),  QStringLiteral("old-market")};
    QString text;
    for (int i = 0; text.size() < size; ++i) {
        text += words[(i * 7) % 9];
        text += i % 997 == 996 ? QLatin1Char('\n') : QLatin1Char(' ');
    }
    return text;
}

// What a view that never measured or showed anything answers for `text` at `width`.
double freshHeight(const platform::TextView& like, const QString& text, double width) {
    platform::TextView fresh;
    fresh.setFont(like.font());
    fresh.document()->setDefaultTextOption(like.document()->defaultTextOption());
    fresh.setFrameShape(like.frameShape());
    fresh.setText(text);
    return fresh.heightThatFits(width);
}

}  // namespace

// A long text is set whole and silently, the caret after it and no undo step to the text before;
// its heights are remembered per width, answered again after an edit, a font or a direction change,
// agree with a fresh view's, and the view sized to one shows every line without scrolling.
TEST_F(TextInputTest, LongTextViewKeepsItsTextAndHeightsFollowEdits) {
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setText(QStringLiteral("before"));
    const QString text = longParagraphs(30 * 1024);
    *log = FieldLog{};
    view->setText(text);
    QApplication::processEvents();
    EXPECT_EQ(view->text(), text);
    EXPECT_EQ(view->textCursor().position(), view->document()->characterCount() - 1);
    EXPECT_FALSE(view->textCursor().hasSelection());
    EXPECT_FALSE(view->document()->isUndoAvailable());
    EXPECT_EQ(log->changes, 0);
    EXPECT_EQ(log->selections, 0);

    for (const double width : {180.0, 301.5, 640.0}) {
        SCOPED_TRACE(width);
        const int64_t before = view->heightMeasurements();
        const double height = view->heightThatFits(width);
        EXPECT_EQ(height, freshHeight(*view, text, width));
        EXPECT_EQ(view->heightThatFits(width), height);
        EXPECT_LE(view->heightMeasurements(), before + 1);  // once per text and width at most
    }
    EXPECT_GT(view->heightThatFits(180), view->heightThatFits(640));

    // Shown at its measured height: every line inside, no scrolling; at the width it shows at,
    // the answer comes from the lines it shows.
    view->setFixedWidth(300);
    QApplication::processEvents();
    const int fits = static_cast<int>(view->heightThatFits(view->width()));
    view->setFixedHeight(fits);
    QApplication::processEvents();
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->heightThatFits(view->width()), fits);

    // A typed word at the end (one more line, or not) and a typed line feed: measured again.
    view->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(view, QStringLiteral(" Katajanokka and the bridge to the island"));
    QApplication::processEvents();
    const QString typed = text + QStringLiteral(" Katajanokka and the bridge to the island");
    ASSERT_EQ(view->text(), typed);
    const int64_t shownBefore = view->heightMeasurements();
    EXPECT_EQ(view->heightThatFits(view->width()), freshHeight(*view, typed, view->width()));
    EXPECT_EQ(view->heightMeasurements(), shownBefore);  // the view's own lines answered
    EXPECT_EQ(view->heightThatFits(640), freshHeight(*view, typed, 640));
    view->document()->setDefaultTextOption([&] {
        QTextOption option = view->document()->defaultTextOption();
        option.setTextDirection(Qt::RightToLeft);
        option.setAlignment(Qt::AlignAbsolute | Qt::AlignRight);
        return option;
    }());
    EXPECT_EQ(view->heightThatFits(640), freshHeight(*view, typed, 640));
    QFont larger = view->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    const double smaller = view->heightThatFits(640);
    view->setFont(larger);
    EXPECT_GT(view->heightThatFits(640), smaller);
    EXPECT_EQ(view->heightThatFits(640), freshHeight(*view, typed, 640));

    // Emptied, it needs one line again.
    view->setText(QString());
    EXPECT_EQ(view->text(), QString());
    EXPECT_EQ(view->heightThatFits(640), freshHeight(*view, QStringLiteral("x"), 640));
}

namespace {

// About `size` characters of `unit` repeated, a line feed after every `paragraph` characters (none
// when 0).
QString repeatedText(const QString& unit, int size, int paragraph) {
    QString text;
    while (text.size() < size) {
        text += unit;
        if (paragraph > 0 && text.size() % paragraph < unit.size()) text += QLatin1Char('\n');
    }
    return text;
}

}  // namespace

// Held to a greatest height, a view answers the whole text's height when it fits, and else the height
// of the first lines that fit (no more than the limit, less than a line short of it) and that it
// scrolls; around the exact height too, for one long paragraph (measured from growing pieces of its
// start), many short ones, words with no spaces between them and a right-to-left text. An answer for
// a limit is not taken for the whole text's later, nor for another limit.
TEST_F(TextInputTest, HeightsUpToALimitAgreeWithTheWholeText) {
    view->setFrameShape(QFrame::NoFrame);
    struct Case {
        const char* name;
        QString text;
        Qt::LayoutDirection direction;
    };
    const Case cases[] = {
        {"one paragraph", longParagraphs(24 * 1024).replace(QLatin1Char('\n'), QLatin1Char(' ')),
         Qt::LeftToRight},
        {"short paragraphs", repeatedText(QStringLiteral("Kauppatori ferry "), 20 * 1024, 60),
         Qt::LeftToRight},
        {"CJK", repeatedText(QStringLiteral("赫尔辛基集市广场旁的老渡口大门"), 12 * 1024, 0),
         Qt::LeftToRight},
        {"right to left", repeatedText(QStringLiteral("שוק הנמל ליד שער המעבורת הישן "), 16 * 1024, 0),
         Qt::RightToLeft},
    };
    // Generous for a line in a fallback font.
    const double tallestLine = 2 * QFontMetricsF(view->font()).lineSpacing();
    for (const Case& test : cases) {
        for (const double width : {180.0, 640.0}) {
            SCOPED_TRACE(std::string(test.name) + " at " + std::to_string(width));
            QTextOption option = view->document()->defaultTextOption();
            option.setTextDirection(test.direction);
            view->document()->setDefaultTextOption(option);
            const double whole = freshHeight(*view, test.text, width);
            ASSERT_GT(whole, 400);
            const auto expectHeldTo = [&](double limit) {
                SCOPED_TRACE(limit);
                const platform::TextView::HeightFit fit = view->heightFitting(width, limit);
                if (whole <= limit) {
                    EXPECT_EQ(fit.height, whole);
                    EXPECT_FALSE(fit.scrolls);
                } else {
                    EXPECT_LE(fit.height, limit);
                    EXPECT_GT(fit.height, limit - tallestLine);
                    EXPECT_TRUE(fit.scrolls);
                }
            };
            view->setText(test.text);
            for (const double limit : {60.0, std::floor(whole / 2), whole - 1, whole, whole + 1})
                expectHeldTo(limit);
            EXPECT_EQ(view->heightThatFits(width), whole);
            view->setText(test.text);
            expectHeldTo(100);
            expectHeldTo(whole - 1);
            EXPECT_EQ(view->heightThatFits(width), whole);
            expectHeldTo(100);
        }
    }
}

namespace {

// A view of `text` alone in a window, sized, scrolling and taking focus as the details screen's
// title.
template <typename View>
struct ShownLongText {
    explicit ShownLongText(const QString& text) {
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view = new View(window.get());
        layout->addWidget(view);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view->setCursorWidth(0);  // a caret blinks on its own time
        view->setFocusPolicy(Qt::ClickFocus);
        window->resize(300, 120);
        if constexpr (std::is_same_v<View, platform::TextView>) {
            view->setText(text);
        } else {
            view->setPlainText(text);
            view->moveCursor(QTextCursor::End);  // where a set text leaves the caret
        }
        window->show();
        QApplication::processEvents();
    }
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    View* view = nullptr;
};

int laidOutLines(const QPlainTextEdit& view) {
    return view.document()->firstBlock().layout()->lineCount();
}

}  // namespace

// Until the user works in it, a long paragraph on screen is laid out only as far as the view shows
// it, drawn as the whole paragraph's lines are, with about the scroll bar of the whole, and taller
// it shows the lines below. The first thing the user does there (a wheel turn, a key, a click in the
// text or on the scroll bar) has it laid out whole: the view then goes where a plain text view goes.
TEST_F(TextInputTest, LongParagraphIsLaidOutAsFarAsShownUntilUsed) {
    const QString text = longParagraphs(100 * 1024).replace(QLatin1Char('\n'), QLatin1Char(' '));
    struct Use {
        const char* name;  // names the screenshot too
        std::function<void(QPlainTextEdit&)> act;
        bool laysOutWhole;
    };
    const Use uses[] = {
        {"wheel",
         [](QPlainTextEdit& view) {
             const QPointF at(view.viewport()->width() / 2.0, view.viewport()->height() / 2.0);
             QWheelEvent wheel(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -360), Qt::NoButton,
                               Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(view.viewport(), &wheel);
         },
         true},
        {"control-end",
         [](QPlainTextEdit& view) {
             view.setFocus();
             QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
         },
         true},
        {"click-then-page-down",
         [](QPlainTextEdit& view) {
             QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(60, 12));
             QTest::keyClick(&view, Qt::Key_PageDown);
         },
         true},
        {"click-below-the-scroll-bar-handle",
         [](QPlainTextEdit& view) {
             QScrollBar* bar = view.verticalScrollBar();
             QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 24));
         },
         true},
        {"made-taller", [](QPlainTextEdit& view) { view.window()->resize(300, 420); }, false},
    };
    for (const Use& use : uses) {
        SCOPED_TRACE(use.name);
        const ShownLongText<platform::TextView> shownView(text);
        const ShownLongText<QPlainTextEdit> shownPlain(text);
        platform::TextView* view = shownView.view;
        QPlainTextEdit* plain = shownPlain.view;
        const int whole = laidOutLines(*plain);
        ASSERT_GT(whole, 500);
        EXPECT_LT(laidOutLines(*view), 20);
        EXPECT_EQ(view->viewport()->grab().toImage(), plain->viewport()->grab().toImage());
        EXPECT_NEAR(view->verticalScrollBar()->maximum(), plain->verticalScrollBar()->maximum(), whole / 20);
        EXPECT_EQ(view->text(), text);

        use.act(*view);
        use.act(*plain);
        QApplication::processEvents();
        if (use.laysOutWhole) {
            EXPECT_EQ(laidOutLines(*view), whole);
            EXPECT_EQ(view->verticalScrollBar()->maximum(), plain->verticalScrollBar()->maximum());
            EXPECT_GT(view->verticalScrollBar()->value(), 0);
        } else {
            EXPECT_LT(laidOutLines(*view), whole / 10);
        }
        EXPECT_EQ(view->verticalScrollBar()->value(), plain->verticalScrollBar()->value());
        EXPECT_EQ(view->textCursor().position(), plain->textCursor().position());
        const QImage shown = view->viewport()->grab().toImage();
        EXPECT_EQ(shown, plain->viewport()->grab().toImage());
        widgetkit_test::saveScreenshot(
            shown, QStringLiteral("text-view-long-paragraph-") + QString::fromLatin1(use.name));
    }
}
