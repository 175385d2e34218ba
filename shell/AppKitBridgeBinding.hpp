#pragma once

#include <string>

#include "bridge/AppKitBridgeProtocol.hpp"

namespace tervolo::shell {

// The process-wide slot for the plug-in's bridge object, and the binding
// that fills it. The map screen binds when its view loads; the toolbar
// delegate reads the slot to make the search field. Main thread only.
//
// Binding looks for the Qt plug-in "TervoloAppKitBridge" (the file
// libTervoloAppKitBridge.so) in the plug-ins folder, reads its metadata
// without loading it, and uses it only when the metadata names the class
// "AppKitBridge" and the interface TervoloAppKitBridgeProtocol_iid, and the
// object Qt makes from it implements AppKitBridgeProtocol. Anything missing
// (folder, file, a file that is no plug-in, another class or interface) is
// silent: no log line, no alert, the slot stays empty and the toolbar has no
// search field. The slot is filled once and kept for the rest of the run;
// the plug-in is never unloaded.

// The bridge object, or null while none is bound.
bridge::AppKitBridgeProtocol* appKitBridge();

// The folder the program loads its plug-ins from (the bundle's: beside the
// executable in the build tree, lib/TervoloNG/PlugIns in an installed
// prefix); empty when there is none.
std::string builtInPlugInsPath();

// Binds from builtInPlugInsPath(). True when the slot holds a bridge
// afterwards (bound now or before).
bool bindAppKitBridge();
// Binds from `plugInsFolder` (tests lay plug-ins out in a folder of their own).
bool bindAppKitBridge(const std::string& plugInsFolder);

// Empties the slot (the plug-in stays loaded), so a test can bind again.
void resetAppKitBridgeForTesting();

}  // namespace tervolo::shell
