#pragma once

#include <QIcon>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/NavigationObservers.hpp"

namespace platform {

// A button of a navigation bar (or a popover anchor): a title or an image, a
// style, an enabled flag and the action a click runs. Every change is told to
// the observers, so a bar showing the item redraws it. Main thread only; held
// by std::shared_ptr.
class BarButtonItem {
  public:
    // The platform's raw values.
    enum class Style : int { plain = 0, done = 2 };

    BarButtonItem(std::string title, Style style, std::function<void()> action);
    BarButtonItem(QIcon image, Style style, std::function<void()> action);
    // A widget shown in place of a button (the item owns it until a bar shows it).
    explicit BarButtonItem(QWidget* customView);
    ~BarButtonItem();
    BarButtonItem(const BarButtonItem&) = delete;
    BarButtonItem& operator=(const BarButtonItem&) = delete;

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    QIcon image() const { return image_; }
    void setImage(QIcon image);
    Style style() const { return style_; }
    void setStyle(Style style);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The target-action pair as one callable.
    void setAction(std::function<void()> action);
    QWidget* customView() const { return customView_.data(); }
    // What assistive technologies read for the button; empty: its title.
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label);

    // What a click does: runs the action when the item is enabled.
    void trigger();

    // The button (or custom view) a bar shows for this item now; null when
    // none does. Popovers anchor at it.
    QWidget* view() const { return view_.data(); }
    void setView(QWidget* view) { view_ = view; }

    [[nodiscard]] std::unique_ptr<NavigationObservers::Token> observe(
        NavigationObservers::Callback callback) {
        return observers_.add(std::move(callback));
    }

  private:
    std::string title_;
    std::string accessibilityLabel_;
    QIcon image_;
    Style style_ = Style::plain;
    bool enabled_ = true;
    std::function<void()> action_;
    QPointer<QWidget> customView_;
    QPointer<QWidget> view_;
    NavigationObservers observers_;
};

}  // namespace platform
