#include "shell/MapScreenActions.hpp"

#include "platform/ui/MainWindow.hpp"

namespace tervolo::shell {

MapScreenActions* firstWindowMapScreen() {
    const auto windows = platform::MainWindow::windows();
    if (windows.empty()) return nullptr;
    const auto root = windows.front()->rootViewController();
    return dynamic_cast<MapScreenActions*>(root.get());
}

}  // namespace tervolo::shell
