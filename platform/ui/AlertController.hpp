#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.hpp"

namespace platform {

// One choice of an alert or action sheet.
class AlertAction {
  public:
    // The platform's raw values (`default` is a C++ keyword).
    enum class Style : int { defaultValue = 0, cancel = 1, destructive = 2 };

    AlertAction(std::string title, Style style, std::function<void()> handler = {})
        : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}
    static std::shared_ptr<AlertAction> make(std::string title, Style style,
                                             std::function<void()> handler = {}) {
        return std::make_shared<AlertAction>(std::move(title), style, std::move(handler));
    }

    const std::string& title() const { return title_; }
    Style style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

  private:
    friend class AlertController;
    std::string title_;
    Style style_;
    std::function<void()> handler_;
    bool enabled_ = true;
    QPushButton* button_ = nullptr;  // while the alert's view shows it
};

// The platform's keyboard kinds for a text field, as input hints on the desktop.
enum class KeyboardType : int {
    defaultValue = 0,
    asciiCapable = 1,
    numbersAndPunctuation = 2,
    URL = 3,
    numberPad = 4,
    phonePad = 5,
    namePhonePad = 6,
    emailAddress = 7,
    decimalPad = 8,
};
void setKeyboardType(QLineEdit& field, KeyboardType type);
KeyboardType keyboardType(const QLineEdit& field);

// An alert (a card in the middle of the window over a dimmed background) or
// an action sheet (a menu-like panel at its popover anchor), presented with
// present() like any controller: it never runs a nested event loop.
//
// A click on an action (or chooseAction) dismisses the alert and then runs
// the action's handler, once: later clicks do nothing. Escape chooses the
// cancel action, or an alert's only action; any other alert without a cancel
// action ignores Escape, an action sheet without one just closes. A click
// outside an action sheet is Escape. Return and keypad Enter choose the
// preferred action, or the only one; without either they press the focused
// button. The keyboard starts on that button (else the cancel button, else
// the first), or on the first text field; Tab and Space work the buttons as
// anywhere. Actions show in the order added, except that an
// action sheet's cancel action goes last, and an alert of exactly two actions
// puts them side by side with the cancel action on the left.
// Main thread only; sizes in points.
class AlertController : public ViewController {
  public:
    // The platform's raw values.
    enum class Style : int { actionSheet = 0, alert = 1 };

    AlertController(std::string title, std::string message, Style preferredStyle);
    static std::shared_ptr<AlertController> make(std::string title, std::string message,
                                                 Style preferredStyle) {
        return std::make_shared<AlertController>(std::move(title), std::move(message), preferredStyle);
    }

    Style preferredStyle() const { return style_; }
    const std::string& message() const { return message_; }
    void setMessage(std::string message);

    void addAction(std::shared_ptr<AlertAction> action);
    const std::vector<std::shared_ptr<AlertAction>>& actions() const { return actions_; }
    std::shared_ptr<AlertAction> preferredAction() const { return preferred_; }
    void setPreferredAction(std::shared_ptr<AlertAction> action);

    // Alerts only. `configure` runs at once with the new field (placeholder,
    // text, keyboard type, echo mode).
    void addTextField(std::function<void(QLineEdit&)> configure = {});
    std::vector<QLineEdit*> textFields();

    // What a user's click, typing and Escape do (also the PresentationRecorder's hooks).
    bool chooseAction(const std::string& title);
    void typeText(size_t textFieldIndex, const std::string& text);
    // True when Escape (Return, keypad Enter) did something.
    bool pressEscape();
    bool pressReturn();

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    // The card's width for its texts and buttons: 300 points for an alert (280 for a sheet), wider
    // where a button title or a word does not fit in it or the message would run past eight lines,
    // and at most the width of the window it shows in (less a margin) or 560 points.
    int fittedWidth() const;

  private:
    void choose(const std::shared_ptr<AlertAction>& action);
    void rebuildButtons();
    QFont buttonFont(const std::shared_ptr<AlertAction>& action) const;
    std::shared_ptr<AlertAction> cancelAction() const;
    // What Return chooses whatever has the focus: the preferred action, else the only one.
    std::shared_ptr<AlertAction> keyboardAction() const;

    Style style_;
    std::string message_;
    std::vector<std::shared_ptr<AlertAction>> actions_;
    std::shared_ptr<AlertAction> preferred_;
    std::vector<QLineEdit*> fields_;  // owned by the view
    bool chosen_ = false;
    QLabel* messageLabel_ = nullptr;
    QWidget* fieldsBox_ = nullptr;
    QWidget* buttonsBox_ = nullptr;
};

}  // namespace platform
