#pragma once

// The one declaration the program and the TervoloAppKitBridge plug-in share.
// The plug-in links Qt and nothing of the program, so everything that crosses
// this interface is a Qt or standard type. Main thread only, on both sides.

#include <QAction>
#include <QObject>
#include <QString>
#include <QtPlugin>

namespace tervolo::bridge {

// The plug-in's bridge object. Qt makes the one instance (the plug-in's root
// object) when the program asks for it; the program never deletes it and
// never unloads the plug-in.
class AppKitBridgeProtocol {
  public:
    virtual ~AppKitBridgeProtocol() = default;

    // Declared by the platform's bridge for styling the main window; the
    // program never calls it.
    virtual void styleMainWindow() = 0;
    // Declared for checking that the plug-in works (a modal greeting box);
    // the program never calls it.
    virtual void sayHello() = 0;
    // A new toolbar item with `identifier` showing the plug-in's search
    // field; the caller owns it (a toolbar takes it). `target` and `action`
    // (the name of a slot of `target` taking the sender, a QObject*) are
    // kept with the field but not called: the field's events end in the
    // bridge itself.
    virtual QAction* searchFieldToolbarItem(const QString& identifier, QObject* target,
                                            const char* action) = 0;
};

}  // namespace tervolo::bridge

// The interface identifier the plug-in's metadata carries and the program
// requires; a plug-in built against another declaration has another one.
#define TervoloAppKitBridgeProtocol_iid "org.tervolo.TervoloNG.AppKitBridgeProtocol/1.0"
Q_DECLARE_INTERFACE(tervolo::bridge::AppKitBridgeProtocol, TervoloAppKitBridgeProtocol_iid)
