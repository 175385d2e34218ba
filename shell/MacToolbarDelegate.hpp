#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ToolbarDelegate.hpp"
#include "shell/MapScreenActions.hpp"

namespace tervolo::shell {

// The delegate of the main window's toolbar ("main"): it names the items,
// makes them and receives their actions. The toolbar shows a flexible space
// and the map-style item, with the plug-in's search field in the middle when
// the bridge is bound (appKitBridge()); the zoom-level group is made when
// asked for, but no list names it, so a toolbar never asks. What is typed
// into the search field, and its Up, Down, Return and Escape keys, go to the
// map screen's search (mainVC).
//
// The map screen owns it (through a shared pointer, as the toolbar holds its
// delegate weakly) and sets `mainVC` to itself when its view loads; the
// delegate only points back (never owning the screen, so the two never keep
// each other alive). Log records carry the file name "MacToolbarDelegate".
// Main thread only.
class MacToolbarDelegate : public QObject, public platform::ToolbarDelegate {
    Q_OBJECT

  public:
    MacToolbarDelegate();

    // The application's bundle identifier "org.tervolo.TervoloNG" (built in,
    // not read at run time) followed by ".mapStyle", ".searchBar", ".zoomLevel".
    static const std::string& mapStyleToolbarItemIdentifier();
    static const std::string& searchBarToolbarItemIdentifier();
    static const std::string& zoomLevelToolbarItemIdentifier();

    std::shared_ptr<MapScreenActions> mainVC() const { return mainVC_.lock(); }
    void setMainVC(std::weak_ptr<MapScreenActions> mainVC) { mainVC_ = std::move(mainVC); }

    // Both: [flexible space, map style]; both set the toolbar's centred item
    // to the search bar.
    std::vector<std::string> toolbarDefaultItemIdentifiers(platform::Toolbar& toolbar) override;
    std::vector<std::string> toolbarAllowedItemIdentifiers(platform::Toolbar& toolbar) override;
    // The item for an identifier (the caller owns it), null for the search
    // bar without a bridge and for identifiers of no item.
    QAction* toolbar(platform::Toolbar& toolbar, const std::string& itemForItemIdentifier,
                     bool willBeInsertedIntoToolbar) override;

    // The zoom group's segment titles, in order.
    static const QStringList& zoomLevelTitles();

  public slots:
    // Shows the map-style sheet from `sender` when it is a toolbar item and
    // the first window's root is the map screen; logs in every case.
    void mapStyleButton(QObject* sender);
    // Only logs: the search field's events never reach here.
    void searchBarEvent(QObject* sender);
    // Logs, and the selected index when the sender is the zoom group.
    void toolbarSelectionChanged(QObject* sender);

  protected:
    // The toolbar search field's Up, Down, Return and Escape keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connectSearchField(QAction* item);

    std::weak_ptr<MapScreenActions> mainVC_;
};

// How an object reads in the delegate's log lines ("<QAction: 0x…>").
std::string senderDebugDescription(const QObject* sender);

}  // namespace tervolo::shell
