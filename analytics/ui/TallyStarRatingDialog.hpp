#pragma once

#include <array>
#include <functional>
#include <string>

#include "platform/ui/ViewController.hpp"

class QLabel;
class QPushButton;

namespace tervolo::analytics {

// The star-rating dialog: the question over five ★ buttons, and a ✕ button
// at the top right. Choosing a star colours it and those left of it, and
// 0.25 s later the dialog goes and `finished` gets the rating (1-5); the ✕
// closes it with 0. The client's own screen: view tracking ignores it.
// Main thread.
class TLYInternalViewController : public platform::ViewController {};

class TallyStarRatingDialog : public TLYInternalViewController {
  public:
    TallyStarRatingDialog(std::string message, std::function<void(int rating)> finished);

    // Colours of a chosen and an unchosen star.
    static constexpr unsigned kActiveStarRGB = 0xFD9426;   // 253, 148, 38
    static constexpr unsigned kPassiveStarRGB = 0xB2B2B2;  // 178 grey

    // As a click on star `index` (1-5) or on the close button would.
    void chooseStar(int index);
    void close();
    int highlightedStars() const { return highlighted_; }

  protected:
    void loadView() override;

  private:
    void finish(int rating);

    std::string message_;
    std::function<void(int)> finished_;
    std::array<QPushButton*, 5> stars_{};
    int highlighted_ = 0;
    bool finishing_ = false;
};

}  // namespace tervolo::analytics
