#pragma once

#include <string>

namespace tervolo::app {

// Ties the running program to its desktop entry and icon. Main thread, after
// the application object exists.
//
// The desktop file name is the bundle identifier ("org.tervolo.TervoloNG",
// the name of the installed org.tervolo.TervoloNG.desktop): on Wayland it is
// the window's application id, on X11 it goes into the window's properties,
// so the desktop shows the entry's name and icon for the running window and
// groups it with the launcher. The window icon is the bundle's own SVG
// (resources/icons/org.tervolo.TervoloNG.svg), sharp at every size.
void applyDesktopIdentity();

// The desktop file name applyDesktopIdentity() sets.
std::string desktopFileName();

}  // namespace tervolo::app
