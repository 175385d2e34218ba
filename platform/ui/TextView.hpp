#pragma once

#include <QFont>
#include <QPlainTextEdit>
#include <QTextOption>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/ReturnKeyType.hpp"
#include "platform/ui/TextFieldEditTracker.hpp"
#include "platform/ui/TextViewDelegate.hpp"

namespace platform {

class TextViewLayout;

// A multi-line text input over QPlainTextEdit with the same counted delegate calls as TextField.
// Text set through setText is programmatic. heightThatFits gives the height the whole text needs at a
// width, for layouts that size the view to its text; it is remembered per text and width, and taken
// from the view's own layout when the view shows at that width, so a long text is laid out once per
// width. Held to a greatest height, only the lines up to it are laid out: a view that scrolls past that
// height needs no more to be sized. Until the user works in it, the view lays a long paragraph out only
// as far as it shows it. Main thread only.
class TextView : public QPlainTextEdit {
    Q_OBJECT

  public:
    explicit TextView(QWidget* parent = nullptr);
    ~TextView() override;

    void setDelegate(std::weak_ptr<TextViewDelegate> delegate) { delegate_ = std::move(delegate); }
    QString text() const { return toPlainText(); }
    void setText(const QString& text);
    ReturnKeyType returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }
    bool isEditing() const { return editing_; }
    // Pixels the whole text needs at `width` (frame and margins included), wrapped as shown.
    double heightThatFits(double width) const {
        return heightFitting(width, std::numeric_limits<double>::max()).height;
    }
    struct HeightFit {
        double height = 0;
        bool scrolls = false;  // the text needs more than the height
    };
    // The height for the text at `width` held to `limit`: what the whole text needs when that is no
    // more, else what its first lines that fit in `limit` need (so the view ends at a line's end).
    HeightFit heightFitting(double width, double limit) const;
    // Times a height was measured by laying the text out here (not answered from an earlier answer
    // or from the lines the view shows).
    int64_t heightMeasurements() const { return measurements_; }

  protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // What a height was measured for: the text, the line width and what wraps it.
    struct MeasureKey {
        uint64_t revision = 0;
        double lineWidth = 0;
        QFont font;
        QTextOption::WrapMode wrap = QTextOption::WordWrap;
        int flags = 0;
        double tabStop = 0;
        Qt::LayoutDirection direction = Qt::LayoutDirectionAuto;
        bool operator==(const MeasureKey&) const = default;
    };
    // The height of the text's lines (`whole`), or of its first lines once they went past
    // `stopAbove`; `fittingHeight` is that of the first lines that end within it.
    struct Measured {
        MeasureKey key;
        double stopAbove = 0;
        double textHeight = 0;
        double fittingHeight = 0;
        bool whole = true;
    };
    void replaceText(const QString& text);
    Measured measureText(const MeasureKey& key, double viewportWidth, double stopAbove) const;

    // Lays out whole what the view has laid out only as far as shown, and from now on every
    // paragraph: the user is about to move in the text.
    void layOutWhole();

    TextViewLayout* layout_ = nullptr;  // the document's, owned by it
    std::weak_ptr<TextViewDelegate> delegate_;
    std::unique_ptr<TextFieldEditTracker> tracker_;
    ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
    bool editing_ = false;
    uint64_t revision_ = 0;  // counts the document's content changes
    // The plain text as of `plainTextRevision_`: the edit tracker reads the state after every event,
    // and a long note is not copied out of the document again while it has not changed.
    QString plainText_;
    uint64_t plainTextRevision_ = UINT64_MAX;
    mutable std::vector<Measured> measured_;  // the latest few, newest last
    mutable int64_t measurements_ = 0;
};

}  // namespace platform
