#pragma once

#include <QLineEdit>

#include <memory>

#include "platform/ui/ReturnKeyType.hpp"
#include "platform/ui/TextFieldDelegate.hpp"
#include "platform/ui/TextFieldEditTracker.hpp"

namespace platform {

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
