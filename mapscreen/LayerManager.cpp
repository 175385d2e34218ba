#include "mapscreen/LayerManager.hpp"

#include "platform/foundation/Bundle.hpp"

namespace tervolo::mapscreen {

LayerManager& LayerManager::shared() {
    return platform::SharedInstance<LayerManager>::get();
}

LayerManager::LayerManager()
    : openSeaMapLayer_{InfoLayerKey::openSeaMap, InfoLayerCategory::tileLayer,
                       platform::Bundle::main().localizedString("OpenSeaMap")},
      wikipediaLayer_{InfoLayerKey::wikipediaArticles, InfoLayerCategory::remoteDataLayer,
                      platform::Bundle::main().localizedString("Wikipedia Articles")} {}

}  // namespace tervolo::mapscreen
