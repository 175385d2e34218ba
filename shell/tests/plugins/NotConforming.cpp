// A class of the right name whose metadata claims the interface, but which
// does not implement it.
#include <QObject>

#include "bridge/AppKitBridgeProtocol.hpp"

class AppKitBridge : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TervoloAppKitBridgeProtocol_iid)
};

#include "NotConforming.moc"
