#include "platform/ui/Pasteboard.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

Pasteboard& Pasteboard::general() {
    return SharedInstance<Pasteboard>::get();
}

std::optional<std::string> Pasteboard::string() const {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

void Pasteboard::setString(const std::string& text) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool Pasteboard::hasStrings() const {
    return string().has_value();
}

}  // namespace platform
