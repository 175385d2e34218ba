#pragma once

#include <QAction>

#include <string>
#include <vector>

namespace platform {

class Toolbar;

// What fills a Toolbar: which items it shows by default and which it may
// show, and the item for each identifier. The toolbar asks when the delegate
// is set (and again when reloadItems() is called or it is first shown after
// that), so a delegate may also set the toolbar's centred item identifier
// from the list calls, as the platform's delegates do. Main thread only.
class ToolbarDelegate {
  public:
    virtual ~ToolbarDelegate() = default;

    // The identifiers in order; Toolbar::kFlexibleSpaceIdentifier for a space.
    virtual std::vector<std::string> toolbarDefaultItemIdentifiers(Toolbar& toolbar) = 0;
    virtual std::vector<std::string> toolbarAllowedItemIdentifiers(Toolbar& toolbar) = 0;
    // A new item for `itemForItemIdentifier`, or null when there is none; the
    // caller owns it (a toolbar takes it as its child). `willBeInsertedIntoToolbar`
    // is the platform's flag: true when the toolbar asks in order to show it.
    virtual QAction* toolbar(Toolbar& toolbar, const std::string& itemForItemIdentifier,
                             bool willBeInsertedIntoToolbar) = 0;
};

}  // namespace platform
