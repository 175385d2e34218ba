// The map model's overlays: the two levels' ordered lists, insertion beside
// another overlay, removal, and the renderers the delegate makes for them.

#include <algorithm>

#include "platform/mapkit/MKMapViewModel.hpp"

namespace platform {

// ---- Overlays

void MKMapViewModel::addOverlay(const std::shared_ptr<MKOverlay>& overlay) {
    addOverlay(overlay, MKOverlayLevel::AboveLabels);
}

void MKMapViewModel::addOverlay(const std::shared_ptr<MKOverlay>& overlay, MKOverlayLevel level) {
    insertOverlay(overlay, levels_[static_cast<int>(level)].size(), level);
}

void MKMapViewModel::addOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays) {
    for (const auto& overlay : overlays) insertOverlayEntry(overlay, SIZE_MAX, MKOverlayLevel::AboveLabels);
    overlaysDidChange();
}

void MKMapViewModel::insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index,
                                   MKOverlayLevel level) {
    if (!overlay || containsOverlay(overlay.get())) return;
    insertOverlayEntry(overlay, index, level);
    overlaysDidChange();
}

void MKMapViewModel::insertOverlay(const std::shared_ptr<MKOverlay>& overlay, size_t index) {
    insertOverlay(overlay, index, MKOverlayLevel::AboveLabels);
}

void MKMapViewModel::insertOverlayEntry(const std::shared_ptr<MKOverlay>& overlay, size_t index,
                                        MKOverlayLevel level) {
    if (!overlay || containsOverlay(overlay.get())) return;
    auto& list = levels_[static_cast<int>(level) == 0 ? 0 : 1];
    index = std::min(index, list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), overlay);
    std::string key = overlay->lookupKey();
    if (!key.empty()) overlaysByLookupKey_[key].push_back(overlay.get());
    overlayEntries_.emplace(overlay.get(), OverlayEntry{overlay, level, nullptr, false, std::move(key)});
}

void MKMapViewModel::insertOverlayAbove(const std::shared_ptr<MKOverlay>& overlay,
                                        const std::shared_ptr<MKOverlay>& sibling) {
    insertOverlayBeside(overlay, sibling, 1);
}

void MKMapViewModel::insertOverlayBelow(const std::shared_ptr<MKOverlay>& overlay,
                                        const std::shared_ptr<MKOverlay>& sibling) {
    insertOverlayBeside(overlay, sibling, 0);
}

void MKMapViewModel::insertOverlayBeside(const std::shared_ptr<MKOverlay>& overlay,
                                         const std::shared_ptr<MKOverlay>& sibling, size_t offset) {
    if (!overlay || containsOverlay(overlay.get())) return;
    const auto found = sibling ? overlayEntries_.find(sibling.get()) : overlayEntries_.end();
    if (found == overlayEntries_.end()) {
        addOverlay(overlay);
        return;
    }
    const MKOverlayLevel level = found->second.level;
    const auto& list = levels_[static_cast<int>(level)];
    const auto position = std::find(list.begin(), list.end(), sibling) - list.begin();
    insertOverlay(overlay, static_cast<size_t>(position) + offset, level);
}

void MKMapViewModel::eraseOverlayEntry(const MKOverlay* overlay) {
    const auto found = overlayEntries_.find(overlay);
    if (found == overlayEntries_.end()) return;
    if (found->second.renderer) {
        found->second.renderer->setHost(nullptr);
        overlayRendererWillBeRemoved(found->second.renderer);
    }
    if (!found->second.lookupKey.empty()) {
        const auto keyed = overlaysByLookupKey_.find(found->second.lookupKey);
        if (keyed != overlaysByLookupKey_.end()) {
            auto& members = keyed->second;
            members.erase(std::remove(members.begin(), members.end(), overlay), members.end());
            if (members.empty()) overlaysByLookupKey_.erase(keyed);
        }
    }
    overlayEntries_.erase(found);
}

void MKMapViewModel::removeOverlay(const std::shared_ptr<MKOverlay>& overlay) {
    if (!overlay || !containsOverlay(overlay.get())) return;
    auto& list = levels_[static_cast<int>(overlayEntries_.at(overlay.get()).level)];
    list.erase(std::find(list.begin(), list.end(), overlay));
    eraseOverlayEntry(overlay.get());
    overlaysDidChange();
}

void MKMapViewModel::removeOverlays(const std::vector<std::shared_ptr<MKOverlay>>& overlays) {
    // One pass over each level, so removing every overlay costs O(n) and not O(n²).
    std::unordered_set<const MKOverlay*> doomed;
    for (const auto& overlay : overlays) {
        if (overlay && containsOverlay(overlay.get())) doomed.insert(overlay.get());
    }
    if (doomed.empty()) return;
    for (auto& list : levels_) {
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const auto& o) { return doomed.count(o.get()) != 0; }),
                   list.end());
    }
    for (const MKOverlay* overlay : doomed) eraseOverlayEntry(overlay);
    overlaysDidChange();
}

std::vector<std::shared_ptr<MKOverlay>> MKMapViewModel::overlays() const {
    std::vector<std::shared_ptr<MKOverlay>> all = levels_[0];
    all.insert(all.end(), levels_[1].begin(), levels_[1].end());
    return all;
}

std::shared_ptr<MKOverlay> MKMapViewModel::firstOverlayWithLookupKey(const std::string& key) const {
    if (key.empty()) return nullptr;
    const auto keyed = overlaysByLookupKey_.find(key);
    if (keyed == overlaysByLookupKey_.end() || keyed->second.empty()) return nullptr;
    const auto& members = keyed->second;
    if (members.size() == 1) return overlayEntries_.at(members.front()).overlay;
    // Several under one key (a replacement goes on before the old one comes off): which comes first
    // is the draw order's to say; this walk happens only then.
    for (const auto& list : levels_) {
        for (const auto& overlay : list) {
            if (std::find(members.begin(), members.end(), overlay.get()) != members.end()) return overlay;
        }
    }
    return nullptr;
}

const std::vector<std::shared_ptr<MKOverlay>>& MKMapViewModel::overlaysInLevel(MKOverlayLevel level) const {
    return levels_[static_cast<int>(level) == 0 ? 0 : 1];
}

std::shared_ptr<MKOverlayRenderer> MKMapViewModel::rendererForOverlay(
    const std::shared_ptr<MKOverlay>& overlay) {
    if (!overlay) return nullptr;
    const auto found = overlayEntries_.find(overlay.get());
    if (found == overlayEntries_.end()) return nullptr;
    if (!found->second.rendererAsked) {
        found->second.rendererAsked = true;
        std::shared_ptr<MKOverlayRenderer> renderer;
        if (auto delegate = delegate_.lock()) renderer = delegate->rendererForOverlay(*this, overlay);
        // The delegate may have removed the overlay while answering.
        const auto again = overlayEntries_.find(overlay.get());
        if (again == overlayEntries_.end()) return nullptr;
        if (renderer) renderer->setHost(this);
        again->second.renderer = renderer;
        return renderer;
    }
    return found->second.renderer;
}

std::shared_ptr<MKOverlayRenderer> MKMapViewModel::existingRendererForOverlay(
    const MKOverlay* overlay) const {
    const auto found = overlayEntries_.find(overlay);
    return found == overlayEntries_.end() ? nullptr : found->second.renderer;
}

void MKMapViewModel::overlayRendererNeedsDisplay(const MKOverlayRenderer&, const MKMapRect&, MKZoomScale) {}

}  // namespace platform
