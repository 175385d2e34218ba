#pragma once

#include <QObject>

#include "bridge/AppKitBridgeProtocol.hpp"

namespace tervolo::bridge {

// The plug-in's bridge object: it makes the toolbar's search field and
// receives that field's events itself, reporting each call as one line
// through logLine, which the program routes into its log (the plug-in links
// none of the program's writers; standard error stays for errors). It keeps
// no state. Main thread only.
class AppKitBridge : public QObject, public AppKitBridgeProtocol {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TervoloAppKitBridgeProtocol_iid FILE "AppKitBridge.json")
    Q_INTERFACES(tervolo::bridge::AppKitBridgeProtocol)

  public:
    AppKitBridge() = default;

    // There is no window border thickness to set in Qt: only the line.
    void styleMainWindow() override;
    // Runs an informational box "Hello from AppKit!" / "It Works!" with "OK",
    // modally, until it is closed.
    void sayHello() override;
    QAction* searchFieldToolbarItem(const QString& identifier, QObject* target, const char* action) override;

  public slots:
    // Where every search the field sends ends.
    void searchBarEvent(QObject* sender);
    // The field got its first letter, and lost its last one.
    void searchFieldDidStartSearching(QObject* sender);
    void searchFieldDidEndSearching(QObject* sender);

  signals:
    // One line per call ("searchFieldToolbarItem(for:with:action:)"); nothing
    // is written anywhere when no one listens.
    void logLine(const QString& text);

  private:
    void report(const char* text);
};

}  // namespace tervolo::bridge
