#include "platform/ui/OpenURL.hpp"

#include <QDesktopServices>
#include <QUrl>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

OpenURLRecorder*& activeRecorder() {
    static OpenURLRecorder* recorder = nullptr;  // main thread only
    return recorder;
}

}  // namespace

void OpenURL::open(const std::string& url, std::function<void(bool)> completion) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    bool success = false;
    if (auto* recorder = activeRecorder()) {
        recorder->urls_.push_back(url);
        success = recorder->succeeds_;
    } else {
        const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
        success = parsed.isValid() && !parsed.scheme().isEmpty() && QDesktopServices::openUrl(parsed);
    }
    if (completion) {
        DispatchQueue::main()->async([completion = std::move(completion), success] { completion(success); });
    }
}

OpenURLRecorder::OpenURLRecorder(bool succeeds) : previous_(activeRecorder()), succeeds_(succeeds) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    activeRecorder() = this;
}

OpenURLRecorder::~OpenURLRecorder() {
    activeRecorder() = previous_;
}

}  // namespace platform
