#pragma once

#include <QPlainTextEdit>

#include <memory>

#include "platform/ui/ReturnKeyType.hpp"
#include "platform/ui/TextFieldEditTracker.hpp"
#include "platform/ui/TextViewDelegate.hpp"

namespace platform {

// A multi-line text input over QPlainTextEdit with the same counted delegate calls as TextField.
// Text set through setText is programmatic. heightThatFits gives the height the whole text needs at a
// width, for layouts that size the view to its text. Main thread only.
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
    double heightThatFits(double width) const;

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    std::weak_ptr<TextViewDelegate> delegate_;
    std::unique_ptr<TextFieldEditTracker> tracker_;
    ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
    bool editing_ = false;
};

}  // namespace platform
