#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.hpp"

namespace platform {

class AlertController;

// A test hook that watches presentations while it lives: what was presented
// (in order, with style and animation flag), what was dismissed, and what was
// refused. Presentations still happen (offscreen under test), so a test sees
// what the user would. It also plays the user on the top-most presented
// alert or action sheet: choose an action by title (as a click: the sheet is
// dismissed and the handler runs once), type into a text field, press
// Escape. One recorder is active at a time; a newer one hides an older one
// until it goes. Main thread only.
class PresentationRecorder {
  public:
    struct Entry {
        std::shared_ptr<ViewController> controller;
        std::string className;
        std::string title;
        ModalPresentationStyle style;
        bool animated;
        bool dismissed = false;
    };

    PresentationRecorder();
    ~PresentationRecorder();
    PresentationRecorder(const PresentationRecorder&) = delete;
    PresentationRecorder& operator=(const PresentationRecorder&) = delete;

    static PresentationRecorder* current();

    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<std::string> presentedClassNames() const;
    // System-log texts of refused presentations.
    const std::vector<std::string>& refusals() const { return refusals_; }
    // The last recorded controller that is still presented.
    std::shared_ptr<ViewController> topPresented() const;
    // The last recorded alert controller that is still presented.
    std::shared_ptr<AlertController> topAlert() const;

    // On topAlert(); false when there is none or nothing matches.
    bool chooseAction(const std::string& title);
    bool typeText(size_t textFieldIndex, const std::string& text);
    bool pressEscape();
    std::vector<std::string> actionTitles() const;
    // Dismisses topPresented() as its presenter would (no handler runs).
    bool dismissTop();

    // Called by the presentation machinery.
    void notePresented(const std::shared_ptr<ViewController>& controller, bool animated);
    void noteDismissed(const std::shared_ptr<ViewController>& controller);
    void noteRefused(const std::string& text) { refusals_.push_back(text); }

  private:
    PresentationRecorder* previous_;
    std::vector<Entry> entries_;
    std::vector<std::string> refusals_;
};

}  // namespace platform
