#pragma once

#include "mapscreen/InfoLayer.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::mapscreen {

// The catalogue of info layers the map screen offers: the sea-mark tile layer
// ("OpenSeaMap") and the Wikipedia articles layer ("Wikipedia Articles"), their
// names localized when the catalogue is made. Immutable after that, so any
// thread may read it.
class LayerManager {
  public:
    static LayerManager& shared();

    const InfoLayer& openSeaMapLayer() const { return openSeaMapLayer_; }
    const InfoLayer& wikipediaLayer() const { return wikipediaLayer_; }

  private:
    friend class platform::SharedInstance<LayerManager>;
    LayerManager();

    InfoLayer openSeaMapLayer_;
    InfoLayer wikipediaLayer_;
};

}  // namespace tervolo::mapscreen
