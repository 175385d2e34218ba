#pragma once

#include "platform/ui/IndexPath.hpp"

namespace platform {

class TableView;

// What a table tells its owner, and the row heights it asks for. Held weakly.
class TableViewDelegate {
  public:
    virtual ~TableViewDelegate() = default;
    // Height of a row in pixels; a negative value leaves it to the table's rowHeight.
    virtual double heightForRow(TableView&, IndexPath) { return -1; }
    virtual void didSelectRow(TableView&, IndexPath) {}
    virtual void didDeselectRow(TableView&, IndexPath) {}
};

}  // namespace platform
