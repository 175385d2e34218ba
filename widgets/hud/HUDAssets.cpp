#include "widgets/hud/HUDAssets.hpp"

#include <QString>

// Resources of a static library are registered by name; outside any namespace, as the macro needs.
static void initHUDImages() {
    static const bool done = [] {
        Q_INIT_RESOURCE(HUDImages);
        return true;
    }();
    (void)done;
}

namespace tervolo::widgets::hud {

platform::NamedImage HUDAssets::crossImage() {
    return bundledImage("cross");
}

platform::NamedImage HUDAssets::checkmarkImage() {
    return bundledImage("checkmark");
}

platform::NamedImage HUDAssets::progressActivityImage() {
    return bundledImage("progress_activity");
}

platform::NamedImage HUDAssets::progressCircularImage() {
    return bundledImage("progress_circular");
}

platform::NamedImage HUDAssets::bundledImage(const std::string& name) {
    initHUDImages();
    // The pictures are part of the program itself, so there is no folder that could be missing;
    // an unknown name is the empty image.
    if (name.empty()) return {};
    return platform::NamedImage::named(QStringLiteral("hud/") + QString::fromStdString(name));
}

}  // namespace tervolo::widgets::hud
