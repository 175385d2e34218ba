#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

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
    // Called with the row's place at the moment the user answers.
    virtual void commitDelete(TableView&, IndexPath) {}
    // A name for what the row shows (a stored record's identifier, and its
    // state where that decides what a row action does). A row's Delete menu
    // stays open while the rows change (a re-sort, a filter, a reload); its
    // answer goes to the row that has the asked row's name by then, and to
    // none when no row has it. None: the row is known by its place only, and
    // an answer given after the rows changed goes nowhere.
    virtual std::optional<std::string> identifierForRow(TableView&, IndexPath) { return std::nullopt; }
};

}  // namespace platform
