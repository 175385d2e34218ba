#pragma once

#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

#include <memory>
#include <string>

#include "platform/ui/ImageView.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::shell {

// The About screen: the application's name, version and build, the copyright
// line and the imprint link, buttons for feedback by mail and the Credits
// screen, and a debug menu on the logo (right click). The map screen
// presents it inside a navigation controller; Credits is pushed onto that.
//
// Laid out in code, one centred column that scrolls when the window is too
// small for it. On a desktop (device types 2 and 3)
// the name reads "<name> for Linux" and the four texts are one and a half
// times their designed size; on a phone (0) "<name> for iOS". Feedback opens
// a "mailto:" URL (see FeedbackMail) when the desktop has a mail program, and
// otherwise shows the "Notice" alert; without one the "Tell a friend" button
// is not there at all. Console lines go to standard error. Main thread only.
class InfoViewController : public platform::ViewController {
  public:
    InfoViewController();
    ~InfoViewController() override;

    // The designed text sizes, as factors of the desktop's own font size,
    // before the desktop's 1.5 factor.
    static constexpr double kAppNameFontScale = 1.4;
    static constexpr double kVersionFontScale = 1.0;
    static constexpr double kImprintFontScale = 1.0;
    static constexpr double kCopyrightFontScale = 0.85;
    static constexpr double kDesktopFontFactor = 1.5;
    static constexpr double kLogoSize = 58;  // points

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;

    // The outlets; tellFriendButton is null once removed.
    QPushButton* feedbackButton() const { return feedbackButton_.data(); }
    QLabel* appNameLabel() const { return appNameLabel_.data(); }
    QLabel* versionLabel() const { return versionLabel_.data(); }
    QLabel* appCopyLabel() const { return appCopyLabel_.data(); }
    QLabel* imprintLabel() const { return imprintLabel_.data(); }
    platform::ImageView* logoImageView() const { return logoImageView_.data(); }
    QPushButton* tellFriendButton() const { return tellFriendButton_.data(); }
    QPushButton* creditsButton() const { return creditsButton_.data(); }

    // Actions.
    void quitView();
    void showSettingsView();
    void reallyRateApp();
    void handleAppCopyrightTap();
    void handleImprintTap();
    void viewHomePageButtonTapped();
    void creditsButtonTapped();
    void feedbackButtonTapped();

    // The logo's debug menu, made afresh for each request ("Debug Options":
    // "Crash", "Clear Map Cache", "Show/Hide Tile Debug Info").
    std::unique_ptr<QMenu> contextMenuInteraction(QPointF location);
    // Writes "crashing app!" and ends the process abnormally (abort).
    [[noreturn]] static void crashApp();

    // The user default "shouldShowTileDebugInfo": false when absent, else
    // whether its integer value is not 0.
    static bool showsTileDebugInfo();

    // Whether the desktop has a program for "mailto:" URLs.
    static bool canSendMail();
    // The name label's text for a device type: " for Linux" after the name
    // for 2 and 3, " for iOS" for 0, the name alone otherwise.
    static std::string appNameText(const std::string& bundleName, int32_t deviceType);

  private:
    void showContextMenu(const QPoint& position);

    QPointer<QPushButton> feedbackButton_;
    QPointer<QLabel> appNameLabel_;
    QPointer<QLabel> versionLabel_;
    QPointer<QLabel> appCopyLabel_;
    QPointer<QLabel> imprintLabel_;
    QPointer<platform::ImageView> logoImageView_;
    QPointer<QPushButton> tellFriendButton_;
    QPointer<QPushButton> creditsButton_;
};

}  // namespace tervolo::shell
