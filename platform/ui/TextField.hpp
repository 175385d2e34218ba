#pragma once

#include <QLineEdit>

#include <memory>

#include "platform/ui/TextFieldEditTracker.hpp"

namespace platform {

enum class ReturnKeyType { Default, Go, Next, Search, Send, Done };

class TextField;

// What a text field tells its owner, held weakly. Every call is on the main thread.
class TextFieldDelegate {
  public:
    virtual ~TextFieldDelegate() = default;
    virtual void textFieldDidBeginEditing(TextField&) {}
    virtual void textFieldDidEndEditing(TextField&) {}
    // Asked before a user edit is kept; false puts the previous text back.
    virtual bool textFieldShouldChangeCharacters(TextField&, const TextReplacement&) { return true; }
    // Once per user edit (typing, deleting, pasting, cutting, the clear button, undo).
    virtual void textFieldDidChange(TextField&) {}
    // Once per user edit and once per caret or selection move.
    virtual void textFieldDidChangeSelection(TextField&) {}
    // The return key; the answer is the delegate's to act on (for example by resigning focus).
    virtual bool textFieldShouldReturn(TextField&) { return true; }
};

// A one-line text input over QLineEdit with the delegate calls of the platform's text field, counted
// exactly (see TextFieldEditTracker). Text set through this class's setText is programmatic: no delegate
// call (QLineEdit::setText called on the base counts as a user edit). Begin
// and end editing follow keyboard focus. Main thread only.
class TextField : public QLineEdit {
    Q_OBJECT

  public:
    explicit TextField(QWidget* parent = nullptr);
    ~TextField() override;

    void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { delegate_ = std::move(delegate); }
    // Programmatic text: replaces the text and puts the caret at its end without telling the delegate.
    void setText(const QString& text);
    ReturnKeyType returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }
    // A clear button at the field's end while it has text; it empties the field (a user edit).
    void setClearButtonShown(bool shown);
    bool isClearButtonShown() const { return clearAction_ != nullptr; }
    bool isEditing() const { return editing_; }
    bool becomeFirstResponder();
    void resignFirstResponder() { clearFocus(); }

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    std::weak_ptr<TextFieldDelegate> delegate_;
    std::unique_ptr<TextFieldEditTracker> tracker_;
    ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
    bool editing_ = false;
    QAction* clearAction_ = nullptr;
};

}  // namespace platform
