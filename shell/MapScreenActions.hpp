#pragma once

#include <QAction>

#include <cstdint>

namespace tervolo::shell {

// What the shell asks of the map screen (MainViewController, in mapscreen/,
// which lies above the shell and implements this). The toolbar delegate and
// the About screen's debug menu call it; they never own the map screen.
// Main thread only.
class MapScreenActions {
  public:
    virtual ~MapScreenActions() = default;

    // Presents the map-style sheet anchored at `anchor`, a toolbar item (its
    // button is the item's associated widget in the toolbar); the style
    // chosen becomes the map's base map.
    virtual void showMapStyleActionSheetFrom(QAction* anchor) = 0;
    // The map's tile zoom shift: 4 and 2 for the doubled zoom levels, other
    // values for none.
    virtual int64_t retinaShiftLevel() const = 0;
    // Clears the tile cache of every map style's overlay and of the sea-mark
    // overlay, if one is set.
    virtual void clearAllOSMCaches() = 0;
    // The toolbar's search field: what the user typed there, searched for as
    // on the map screen; and a key (Qt::Key) pressed there, true when the
    // search took it.
    virtual void toolbarSearchTextEdited(const QString& text) { (void)text; }
    virtual bool toolbarSearchKeyPressed(int key) {
        (void)key;
        return false;
    }
};

// The map screen when it is the root view controller of the application's
// first window (platform::MainWindow::windows()); null otherwise.
MapScreenActions* firstWindowMapScreen();

}  // namespace tervolo::shell
