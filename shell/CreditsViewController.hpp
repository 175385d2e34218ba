#pragma once

#include <QPointer>
#include <QWidget>

#include <string>

#include "platform/ui/TextView.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::shell {

// The Credits screen, pushed by the About screen: a thanks line over the
// text of the resource "credits.txt" (the libraries and data the program
// uses, with their licences), read only, in a softly framed box. Each
// appearance reads the file again and rebuilds the text, so the thanks line
// never repeats; without the file only the thanks line and a line break
// show. Main thread only.
class CreditsViewController : public platform::ViewController {
  public:
    // The framed box behind the text (points, alpha 0..1).
    static constexpr double kCornerRadius = 5.0;
    static constexpr double kBorderWidth = 2.0;
    static constexpr double kBackgroundAlpha = 0.05;

    CreditsViewController();
    ~CreditsViewController() override;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    QWidget* backgroundView() const { return backgroundView_.data(); }
    platform::TextView* infoView() const { return infoView_.data(); }

    void doneButtonTapped();

    // The thanks line followed by "\n" and `credits`.
    static std::string creditsText(const std::string& credits);
    // The resource's text; empty when it cannot be read.
    static std::string creditsResource();

  private:
    QPointer<QWidget> backgroundView_;
    QPointer<platform::TextView> infoView_;
};

}  // namespace tervolo::shell
