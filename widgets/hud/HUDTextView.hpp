#pragma once

#include <optional>
#include <string>

#include "widgets/hud/HUDWideBaseView.hpp"

namespace tervolo::widgets::hud {

class MultilineLabel;

// The wide panel with a text: bold 17 pt, black at 0.85, centred, up to three lines inside a
// 10-point inset; longer texts are cut at the third line. Main thread only; points.
class HUDTextView : public HUDWideBaseView {
    Q_OBJECT

  public:
    explicit HUDTextView(const std::optional<std::string>& text, QWidget* parent = nullptr);

    MultilineLabel* titleLabel() const { return titleLabel_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void layoutSubviews();

    MultilineLabel* titleLabel_;
};

}  // namespace tervolo::widgets::hud
