#pragma once

#include <QString>
#include <QStringList>

#include "platform/ui/IndexPath.hpp"

namespace platform {

class TableView;
class TableViewCell;

// Where a table's rows come from. Held weakly; every call is on the main thread.
class TableViewDataSource {
  public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSections(TableView&) { return 1; }
    virtual int numberOfRows(TableView&, int section) = 0;
    // A configured cell, normally from TableView::dequeueReusableCell.
    virtual TableViewCell* cellForRow(TableView&, IndexPath indexPath) = 0;
    // A section without a title has no header.
    virtual QString titleForHeader(TableView&, int /*section*/) { return {}; }
    // Titles of the index bar beside the rows; none hides it.
    virtual QStringList sectionIndexTitles(TableView&) { return {}; }
    virtual int sectionForSectionIndexTitle(TableView&, const QString& /*title*/, int index) { return index; }
    // Rows that offer "Delete" (context menu, Delete or Backspace key).
    virtual bool canEditRow(TableView&, IndexPath) { return false; }
    virtual void commitDelete(TableView&, IndexPath) {}
};

}  // namespace platform
