// A plug-in with the right interface whose class has another name.
#include <QObject>

#include "bridge/AppKitBridgeProtocol.hpp"

class OtherBridge : public QObject, public tervolo::bridge::AppKitBridgeProtocol {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TervoloAppKitBridgeProtocol_iid)
    Q_INTERFACES(tervolo::bridge::AppKitBridgeProtocol)

  public:
    void styleMainWindow() override {}
    void sayHello() override {}
    QAction* searchFieldToolbarItem(const QString&, QObject*, const char*) override { return new QAction(); }
};

#include "WrongClassName.moc"
