// A bridge built against another declaration of the interface: its metadata
// names another interface identifier.
#include <QObject>

#include "bridge/AppKitBridgeProtocol.hpp"

class AppKitBridge : public QObject, public tervolo::bridge::AppKitBridgeProtocol {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.tervolo.TervoloNG.AppKitBridgeProtocol/0.9")
    Q_INTERFACES(tervolo::bridge::AppKitBridgeProtocol)

  public:
    void styleMainWindow() override {}
    void sayHello() override {}
    QAction* searchFieldToolbarItem(const QString&, QObject*, const char*) override { return new QAction(); }
};

#include "WrongInterface.moc"
