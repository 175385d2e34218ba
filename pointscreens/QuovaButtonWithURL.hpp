#pragma once

#include <QPushButton>

#include <optional>
#include <string>

namespace tervolo::pointscreens {

// A button that carries the address to open when it is tapped (the point
// details screen's source-page button); it does nothing with the address
// itself. Main thread only.
class QuovaButtonWithURL : public QPushButton {
    Q_OBJECT

  public:
    explicit QuovaButtonWithURL(QWidget* parent = nullptr) : QPushButton(parent) {}

    const std::optional<std::string>& urlToOpen() const { return urlToOpen_; }
    void setUrlToOpen(std::optional<std::string> url) { urlToOpen_ = std::move(url); }

  private:
    std::optional<std::string> urlToOpen_;
};

}  // namespace tervolo::pointscreens
