#pragma once

#include <array>
#include <string>

namespace tervolo::mapscreen {

// The info layers the map screen knows, in declaration order. Only openSeaMap
// draws anything (the sea-mark tile layer); the others are switches without a
// layer behind them.
enum class InfoLayerKey { openSeaMap, wikipediaArticles, localContacts, localPictures };

// Every key in declaration order.
const std::array<InfoLayerKey, 4>& allInfoLayerKeys();

// The user default holding the layer's switch: "openSeaMapLayerActive",
// "wikipediaLayerActive", "localContactsLayerActive", "localPicturesLayerActive".
std::string userDefaultsKey(InfoLayerKey key);

// The switch in the standard user defaults; absent (or not a Boolean) reads as off.
bool isInfoLayerActive(InfoLayerKey key);
void setInfoLayerActive(InfoLayerKey key, bool active);

}  // namespace tervolo::mapscreen
