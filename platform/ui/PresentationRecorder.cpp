#include "platform/ui/PresentationRecorder.hpp"

#include "platform/ui/AlertController.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

PresentationRecorder*& active() {
    static PresentationRecorder* recorder = nullptr;  // main thread only
    return recorder;
}

}  // namespace

PresentationRecorder::PresentationRecorder() : previous_(active()) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    active() = this;
}

PresentationRecorder::~PresentationRecorder() {
    active() = previous_;
}

PresentationRecorder* PresentationRecorder::current() {
    return active();
}

void PresentationRecorder::notePresented(const std::shared_ptr<ViewController>& controller, bool animated) {
    entries_.push_back({controller, controller->screenAppearance().className, controller->title(),
                        controller->modalPresentationStyle(), animated});
}

void PresentationRecorder::noteDismissed(const std::shared_ptr<ViewController>& controller) {
    for (auto& entry : entries_) {
        if (entry.controller == controller) entry.dismissed = true;
    }
}

std::vector<std::string> PresentationRecorder::presentedClassNames() const {
    std::vector<std::string> names;
    for (const auto& entry : entries_) names.push_back(entry.className);
    return names;
}

std::shared_ptr<ViewController> PresentationRecorder::topPresented() const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (!it->dismissed && it->controller->presentingViewController()) return it->controller;
    }
    return nullptr;
}

std::shared_ptr<AlertController> PresentationRecorder::topAlert() const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->dismissed || !it->controller->presentingViewController()) continue;
        if (auto alert = std::dynamic_pointer_cast<AlertController>(it->controller)) return alert;
    }
    return nullptr;
}

bool PresentationRecorder::chooseAction(const std::string& title) {
    auto alert = topAlert();
    return alert && alert->chooseAction(title);
}

bool PresentationRecorder::typeText(size_t textFieldIndex, const std::string& text) {
    auto alert = topAlert();
    if (!alert || textFieldIndex >= alert->textFields().size()) return false;
    alert->typeText(textFieldIndex, text);
    return true;
}

bool PresentationRecorder::pressEscape() {
    auto alert = topAlert();
    return alert && alert->pressEscape();
}

std::vector<std::string> PresentationRecorder::actionTitles() const {
    std::vector<std::string> titles;
    if (auto alert = topAlert()) {
        for (const auto& action : alert->actions()) titles.push_back(action->title());
    }
    return titles;
}

bool PresentationRecorder::dismissTop() {
    auto top = topPresented();
    if (!top) return false;
    top->dismiss(false);
    return true;
}

}  // namespace platform
