#pragma once

#include <QAbstractScrollArea>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/IndexPath.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "platform/ui/TableViewDataSource.hpp"
#include "platform/ui/TableViewDelegate.hpp"
#include "platform/ui/TableViewSectionRows.hpp"

class QMenu;

namespace platform {

class TableViewSectionIndexBar;

// A vertical list of rows in sections over a scroll area, built from reusable row widgets (not Qt's
// item views, so which cell shows which row, and when cells are reused, is ours to decide). Only the
// rows in view have cells: a cell that scrolls out goes back to its identifier's pool and is handed
// out again by dequeueReusableCell, so memory follows the viewport, not the row count.
//
// Heights: a fixed rowHeight, or kAutomatic, where a row is first counted at estimatedRowHeight and
// measured from its cell (heightForWidth or sizeHint) when it comes into view. The delegate may give
// a height per row instead.
//
// Batch updates (deleting and inserting rows and sections between beginUpdates and endUpdates, or in
// performBatchUpdates) are checked against the data source the way the platform checks them: every
// section must end with its old count minus deletions plus insertions. When they do not add up the
// table logs the mismatch ("tableview" category) and reloads everything instead of failing.
// Main thread only.
class TableView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    static constexpr double kAutomatic = -1;
    enum class ScrollPosition { None, Top, Middle, Bottom };
    using CellFactory = std::function<TableViewCell*()>;

    explicit TableView(QWidget* parent = nullptr);
    ~TableView() override;

    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) { delegate_ = std::move(delegate); }

    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height);  // pixels, or kAutomatic
    double estimatedRowHeight() const { return estimatedRowHeight_; }
    void setEstimatedRowHeight(double height) { estimatedRowHeight_ = height; }
    double sectionHeaderHeight() const { return headerHeight_; }
    void setSectionHeaderHeight(double height);

    void registerCell(const QString& reuseIdentifier, CellFactory factory);
    // A cell from the identifier's pool (after its prepareForReuse) or a new one from its factory;
    // null for an identifier never registered.
    TableViewCell* dequeueReusableCell(const QString& reuseIdentifier, IndexPath indexPath);

    // Asks the data source for everything again. The highlight (selection) stays with the row it was
    // on when the data source names its rows (TableViewDataSource::identifierForRow): it moves to the
    // row of that name, wherever the new rows put it, and is kept in view when it was in view; it is
    // dropped when no row has the name any more, or when the rows have no names (a place alone says
    // nothing about what the reloaded rows show there).
    void reloadData();

    void beginUpdates();
    void endUpdates();
    void performBatchUpdates(const std::function<void()>& updates);
    // Deleted rows and sections are given as they were before the batch, inserted ones as they are after.
    void deleteRows(const std::vector<IndexPath>& indexPaths);
    void insertRows(const std::vector<IndexPath>& indexPaths);
    void deleteSections(const std::vector<int>& sections);
    void insertSections(const std::vector<int>& sections);
    // Asks for new cells for these rows (they keep their place).
    void reloadRows(const std::vector<IndexPath>& indexPaths);

    int numberOfSections() const { return static_cast<int>(sections_.size()); }
    int numberOfRows(int section) const;

    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    // Selects without telling the delegate (as a program does), scrolling it into view as asked.
    void selectRow(std::optional<IndexPath> indexPath, ScrollPosition position = ScrollPosition::None);
    void deselectRow(IndexPath indexPath);

    // Content coordinates: y from the top of the first section.
    QRectF rectForRow(IndexPath indexPath) const;
    QRectF rectForHeader(int section) const;
    double contentHeight() const { return contentHeight_; }
    double contentOffset() const;
    void setContentOffset(double y);  // clamped to the content
    void scrollToRow(IndexPath indexPath, ScrollPosition position, bool animated = false);
    // Scrolls so that the section's header (or its first row) is at the top.
    void scrollToSection(int section, bool animated = false);

    // The cell showing `indexPath`, null when it is not in view.
    TableViewCell* cellForRow(IndexPath indexPath) const;
    std::vector<IndexPath> indexPathsForVisibleRows() const;
    std::optional<IndexPath> indexPathForRow(QPointF viewportPoint) const;

    // Keys: Up and Down move the highlight (the selection, the delegate is not told), Return and
    // Enter choose the highlighted row as a click does, Delete and Backspace pop up its Delete menu.
    // The "Delete" menu for a row the data source lets edit (null otherwise); the caller pops it up.
    // Its answer deletes what the row showed when the menu was made, wherever that row is then
    // (TableViewDataSource::identifierForRow), or nothing once it is gone.
    QMenu* contextMenuForRow(IndexPath indexPath);
    TableViewSectionIndexBar* sectionIndexBar() const { return indexBar_; }
    // Cells made by factories so far, in view or pooled (tests and the benchmark).
    int cellsCreated() const { return cellsCreated_; }

    // Lays out the rows in view now (normally on scrolling and resizing).
    void layoutRows();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct Section {
        QString title;
        double top = 0;
        double header = 0;
        TableViewSectionRows rows;
    };
    // A row asked about, to be found again when the answer comes.
    struct AskedRow {
        IndexPath indexPath;
        std::optional<std::string> identifier;
        uint64_t rowsGeneration = 0;
    };
    struct PendingUpdates {
        std::vector<IndexPath> deletedRows, insertedRows, reloadedRows;
        std::vector<int> deletedSections, insertedSections;
        bool empty() const;
    };

    Section makeSection(int section, int rows);
    double initialHeight(IndexPath indexPath);
    void recomputeOffsets();
    // Measures rows of automatic height around `indexPath` before they show: upwards until `above`
    // points of rows lie above it, downwards until `below` lie below it. True when a height changed.
    bool measureRowsAround(IndexPath indexPath, double above, double below);
    void updateScrollRange();
    void enqueue(TableViewCell* cell);
    void clearVisible();
    void applyUpdates(const PendingUpdates& updates);
    std::optional<std::string> checkUpdates(const PendingUpdates& updates) const;
    void commitDelete(IndexPath indexPath);
    // Where the asked row is now: the row of the same identifier, or (without one) the same place
    // while the rows have not changed since; none when it is gone.
    std::optional<IndexPath> rowNow(const AskedRow& asked);
    // The row of that name, tried first at `hint`; none when no row has it.
    std::optional<IndexPath> rowNamed(const std::string& identifier, IndexPath hint);
    // The name of the row at `indexPath` now, none outside the rows or for rows without names.
    std::optional<std::string> nameOfRow(IndexPath indexPath);
    // Pops up the row's Delete menu below it, its action ready for Return.
    void confirmDelete(IndexPath indexPath);
    void userSelect(IndexPath indexPath);
    QWidget* headerWidget(int section);

    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> delegate_;
    double rowHeight_ = 44;
    double estimatedRowHeight_ = 85;
    double headerHeight_ = 28;
    std::vector<Section> sections_;
    double contentHeight_ = 0;
    std::map<QString, CellFactory> factories_;
    std::unordered_map<QString, std::vector<TableViewCell*>> pool_;
    std::map<IndexPath, TableViewCell*> visible_;
    std::map<int, QWidget*> headers_;
    std::vector<QWidget*> headerPool_;
    std::optional<IndexPath> selected_;
    // The highlighted row's name, taken when it was highlighted: by the time reloadData runs the data
    // source already answers for the new rows.
    std::optional<std::string> selectedName_;
    int updateDepth_ = 0;
    // Counts the changes of the rows (reloads, applied batches): a place asked about before a change
    // may hold another row after it.
    uint64_t rowsGeneration_ = 0;
    PendingUpdates pending_;
    TableViewSectionIndexBar* indexBar_;
    int cellsCreated_ = 0;
    bool laying_ = false;
};

}  // namespace platform
