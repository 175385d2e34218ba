#include "mapscreen/InfoLayerKey.hpp"

#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::mapscreen {

const std::array<InfoLayerKey, 4>& allInfoLayerKeys() {
    static constexpr std::array<InfoLayerKey, 4> keys{
        InfoLayerKey::openSeaMap, InfoLayerKey::wikipediaArticles, InfoLayerKey::localContacts,
        InfoLayerKey::localPictures};
    return keys;
}

std::string userDefaultsKey(InfoLayerKey key) {
    switch (key) {
        case InfoLayerKey::openSeaMap:
            return "openSeaMapLayerActive";
        case InfoLayerKey::wikipediaArticles:
            return "wikipediaLayerActive";
        case InfoLayerKey::localContacts:
            return "localContactsLayerActive";
        case InfoLayerKey::localPictures:
            return "localPicturesLayerActive";
    }
    return {};
}

bool isInfoLayerActive(InfoLayerKey key) {
    return platform::UserDefaults::standard().boolValue(userDefaultsKey(key)).value_or(false);
}

void setInfoLayerActive(InfoLayerKey key, bool active) {
    platform::UserDefaults::standard().set(userDefaultsKey(key), platform::PropertyValue(active));
}

}  // namespace tervolo::mapscreen
