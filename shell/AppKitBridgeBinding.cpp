#include "shell/AppKitBridgeBinding.hpp"

#include <QJsonObject>
#include <QObject>
#include <QPluginLoader>
#include <QPointer>

#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace tervolo::shell {

namespace {

constexpr const char* kPlugInFileName = "libTervoloAppKitBridge.so";
constexpr const char* kBridgeClassName = "AppKitBridge";

// The plug-in's root object: Qt keeps it for as long as the plug-in stays
// loaded, which is the whole run (never unloaded). The guard only keeps a
// test that deletes it by accident from reading a dangling pointer.
struct Slot {
    QPointer<QObject> object;
    bridge::AppKitBridgeProtocol* bridge = nullptr;
};

Slot& slot() {
    static Slot* theSlot = new Slot;  // never destroyed: read until exit
    return *theSlot;
}

}  // namespace

// The plug-in's lines ("searchFieldToolbarItem(for:with:action:)") go to the
// log at info level under the plug-in's name, never to standard error.
class BridgeLogReceiver : public QObject {
    Q_OBJECT
  public slots:
    void logLine(const QString& text) {
        std::string line = text.toStdString();
        logging::logMessageCore([&line] { return std::move(line); }, logging::QLLogLevel::all,
                                logging::QLLogFlag::info, 0, "AppKitBridge", "logLine", 0, {},
                                logging::asyncLoggingEnabled(), logging::QLLog::sharedInstance());
    }
};

namespace {

BridgeLogReceiver& bridgeLogReceiver() {
    static auto* receiver = new BridgeLogReceiver;  // never destroyed: the plug-in stays loaded
    return *receiver;
}

}  // namespace

bridge::AppKitBridgeProtocol* appKitBridge() {
    Slot& s = slot();
    return s.object.isNull() ? nullptr : s.bridge;
}

std::string builtInPlugInsPath() {
    // The bundle knows both layouts: PlugIns beside the executable in the
    // build tree, lib/TervoloNG/PlugIns in an installed (or moved) prefix.
    return platform::Bundle::main().builtInPlugInsPath();
}

bool bindAppKitBridge() {
    return bindAppKitBridge(builtInPlugInsPath());
}

bool bindAppKitBridge(const std::string& plugInsFolder) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (appKitBridge() != nullptr) return true;
    if (plugInsFolder.empty()) return false;
    // The loader keeps the library loaded when it goes (its default hint).
    QPluginLoader loader(QString::fromStdString(plugInsFolder + "/" + kPlugInFileName));
    // Lookup by name and conformance, from the metadata alone: a plug-in of
    // another class or interface is never loaded at all.
    const QJsonObject metaData = loader.metaData();
    if (metaData.value(QStringLiteral("className")).toString() != QLatin1String(kBridgeClassName))
        return false;
    if (metaData.value(QStringLiteral("IID")).toString() != QLatin1String(TervoloAppKitBridgeProtocol_iid)) {
        return false;
    }
    QObject* instance = loader.instance();
    auto* bridge = qobject_cast<bridge::AppKitBridgeProtocol*>(instance);
    if (bridge == nullptr) return false;
    slot().object = instance;
    slot().bridge = bridge;
    // A plug-in without the signal (an older build) just stays silent.
    if (instance->metaObject()->indexOfSignal("logLine(QString)") >= 0) {
        QObject::connect(instance, SIGNAL(logLine(QString)), &bridgeLogReceiver(), SLOT(logLine(QString)),
                         Qt::UniqueConnection);
    }
    return true;
}

void resetAppKitBridgeForTesting() {
    slot().object = nullptr;
    slot().bridge = nullptr;
}

}  // namespace tervolo::shell

#include "AppKitBridgeBinding.moc"
