#pragma once

#include <QLabel>
#include <QPushButton>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ViewController.hpp"

namespace platform {

// The activity types the share sheet reports to its item (the platform's
// texts); opening in the browser has no platform type and uses our own.
inline constexpr const char* UIActivityTypeCopyToPasteboard = "com.apple.UIKit.activity.CopyToPasteboard";
inline constexpr const char* UIActivityTypeMail = "com.apple.UIKit.activity.Mail";
inline constexpr const char* kActivityTypeOpenInBrowser = "org.tervolo.TervoloNG.activity.OpenInBrowser";

// What the share sheet asks the thing being shared.
class ActivityItemSource {
  public:
    virtual ~ActivityItemSource() = default;
    // When the sheet opens, on the main thread: a text to show meanwhile.
    virtual std::string placeholderItem() = 0;
    // On the main thread, for the mail subject.
    virtual std::string subject(const std::optional<std::string>& activityType) = 0;
    // Once the user has chosen, on a worker thread (it may wait for a link to
    // be made): the text to share for that activity type.
    virtual std::string item(const std::optional<std::string>& activityType) = 0;
};

// The desktop's share sheet: shows the item's placeholder and offers "Copy
// Link" (to the clipboard), "Send by Mail" (a mailto: URL with the subject
// and the item as plain text; an HTML item is turned into text with its
// links written out) and "Open in Browser" (the first http or https link in
// the item). While the item is being made the buttons are off and the sheet
// says so; the main thread never waits for it. After the activity ran, the
// sheet closes and the completion handler gets the activity type and whether
// it was done; Cancel or Escape give no type and false.
// Presented as a form sheet unless the presenter chooses a popover.
// Main thread only.
class ShareSheetController : public ViewController {
  public:
    using CompletionWithItemsHandler =
        std::function<void(std::optional<std::string> activityType, bool completed)>;

    explicit ShareSheetController(std::shared_ptr<ActivityItemSource> item);

    void setCompletionWithItemsHandler(CompletionWithItemsHandler handler) {
        completion_ = std::move(handler);
    }

    // What a click on the activity's button (or Cancel) does; also the test hook.
    void chooseActivity(const std::string& activityType);
    void cancel();
    // True from a choice until its item arrived.
    bool isMakingItem() const { return making_; }

    void loadView() override;
    void viewWillAppear(bool animated) override;

    // The text of an HTML mail body as a plain mail shows it.
    static std::string plainTextOfHTML(const std::string& html);
    // The first http or https URL in `text`, or none.
    static std::optional<std::string> firstWebLink(const std::string& text);

  private:
    void perform(const std::string& activityType, const std::string& item);
    void finish(std::optional<std::string> activityType, bool completed);

    std::shared_ptr<ActivityItemSource> item_;
    CompletionWithItemsHandler completion_;
    bool making_ = false;
    bool finished_ = false;
    QLabel* preview_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<QPushButton*> buttons_;
};

}  // namespace platform
