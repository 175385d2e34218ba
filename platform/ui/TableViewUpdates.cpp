// The table's batch updates: rows and sections deleted, inserted and
// reloaded between beginUpdates and endUpdates, checked against the data
// source's counts and applied to the rows on screen.

#include <algorithm>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewSectionIndexBar.hpp"

namespace platform {

namespace {

std::shared_ptr<OSLog> tableLog() {
    static auto log = OSLog::make("org.tervolo.TervoloNG", "tableview");
    return log;
}

template <typename T>
std::vector<T> sortedUnique(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

}  // namespace

void TableView::beginUpdates() {
    ++updateDepth_;
}

void TableView::endUpdates() {
    if (updateDepth_ == 0 || --updateDepth_ > 0) return;
    PendingUpdates updates = std::move(pending_);
    pending_ = {};
    if (updates.empty()) return;
    if (auto problem = checkUpdates(updates)) {
        tableLog()->write(OSLogType::Error, "Invalid batch update, reloading the table instead: " + *problem);
        reloadData();
        return;
    }
    applyUpdates(updates);
}

void TableView::performBatchUpdates(const std::function<void()>& updates) {
    beginUpdates();
    if (updates) updates();
    endUpdates();
}

void TableView::deleteRows(const std::vector<IndexPath>& indexPaths) {
    beginUpdates();
    pending_.deletedRows.insert(pending_.deletedRows.end(), indexPaths.begin(), indexPaths.end());
    endUpdates();
}

void TableView::insertRows(const std::vector<IndexPath>& indexPaths) {
    beginUpdates();
    pending_.insertedRows.insert(pending_.insertedRows.end(), indexPaths.begin(), indexPaths.end());
    endUpdates();
}

void TableView::deleteSections(const std::vector<int>& sections) {
    beginUpdates();
    pending_.deletedSections.insert(pending_.deletedSections.end(), sections.begin(), sections.end());
    endUpdates();
}

void TableView::insertSections(const std::vector<int>& sections) {
    beginUpdates();
    pending_.insertedSections.insert(pending_.insertedSections.end(), sections.begin(), sections.end());
    endUpdates();
}

void TableView::reloadRows(const std::vector<IndexPath>& indexPaths) {
    beginUpdates();
    pending_.reloadedRows.insert(pending_.reloadedRows.end(), indexPaths.begin(), indexPaths.end());
    endUpdates();
}

namespace {

// Where old section `s` goes: deletions counted with old indices, insertions with new ones.
int mapIndex(int old, const std::vector<int>& deleted, const std::vector<int>& inserted) {
    if (std::binary_search(deleted.begin(), deleted.end(), old)) return -1;
    int index =
        old - static_cast<int>(std::lower_bound(deleted.begin(), deleted.end(), old) - deleted.begin());
    for (int added : inserted) {
        if (added <= index) ++index;
    }
    return index;
}

std::vector<int> rowsIn(const std::vector<IndexPath>& paths, int section) {
    std::vector<int> rows;
    for (const auto& path : paths) {
        if (path.section == section) rows.push_back(path.row);
    }
    return sortedUnique(rows);
}

}  // namespace

std::optional<std::string> TableView::checkUpdates(const PendingUpdates& u) const {
    auto dataSource = dataSource_.lock();
    if (!dataSource) return "no data source";
    auto& self = const_cast<TableView&>(*this);
    const int oldSections = numberOfSections();
    const int newSections = dataSource->numberOfSections(self);
    const auto deleted = sortedUnique(u.deletedSections);
    const auto inserted = sortedUnique(u.insertedSections);
    for (int s : deleted) {
        if (s < 0 || s >= oldSections) return "deleted section " + std::to_string(s) + " does not exist";
    }
    for (int s : inserted) {
        if (s < 0 || s >= newSections) return "inserted section " + std::to_string(s) + " is past the end";
    }
    const int expectedSections =
        oldSections - static_cast<int>(deleted.size()) + static_cast<int>(inserted.size());
    if (newSections != expectedSections) {
        return "the data source has " + std::to_string(newSections) + " sections, the update leaves " +
               std::to_string(expectedSections);
    }
    for (const auto& path : u.deletedRows) {
        // A row may be named with its section when both go (the last row of a section deleted
        // with it): it goes with the section, but it must have been there.
        if (std::binary_search(deleted.begin(), deleted.end(), path.section) &&
            (path.row < 0 || path.row >= numberOfRows(path.section))) {
            return "row " + std::to_string(path.row) + " deleted from section " +
                   std::to_string(path.section) + ", which has " +
                   std::to_string(numberOfRows(path.section)) + " rows";
        }
    }
    for (const auto& path : u.insertedRows) {
        if (path.section < 0 || path.section >= newSections) {
            return "row inserted into section " + std::to_string(path.section) + ", which does not exist";
        }
    }
    for (int s = 0; s < oldSections; ++s) {
        const int target = mapIndex(s, deleted, inserted);
        if (target < 0) continue;
        const int oldRows = numberOfRows(s);
        const int newRows = dataSource->numberOfRows(self, target);
        const auto removed = rowsIn(u.deletedRows, s);
        const auto added = rowsIn(u.insertedRows, target);
        if (!removed.empty() && (removed.front() < 0 || removed.back() >= oldRows)) {
            return "deleted row out of range in section " + std::to_string(s);
        }
        if (!added.empty() && (added.front() < 0 || added.back() >= newRows)) {
            return "inserted row out of range in section " + std::to_string(target);
        }
        for (const auto& path : u.reloadedRows) {
            if (path.section == s && (path.row < 0 || path.row >= oldRows)) {
                return "reloaded row out of range in section " + std::to_string(s);
            }
        }
        const int expected = oldRows - static_cast<int>(removed.size()) + static_cast<int>(added.size());
        if (expected != newRows) {
            return "section " + std::to_string(target) + " has " + std::to_string(newRows) +
                   " rows in the data source, but " + std::to_string(oldRows) + " before the update, " +
                   std::to_string(added.size()) + " inserted and " + std::to_string(removed.size()) +
                   " deleted make " + std::to_string(expected);
        }
    }
    return std::nullopt;
}

void TableView::applyUpdates(const PendingUpdates& u) {
    ++rowsGeneration_;
    auto dataSource = dataSource_.lock();
    const auto deleted = sortedUnique(u.deletedSections);
    const auto inserted = sortedUnique(u.insertedSections);
    const int newSections = dataSource->numberOfSections(*this);

    auto mapRow = [&](IndexPath old) -> std::optional<IndexPath> {
        const int section = mapIndex(old.section, deleted, inserted);
        if (section < 0) return std::nullopt;
        const auto removed = rowsIn(u.deletedRows, old.section);
        const auto added = rowsIn(u.insertedRows, section);
        const int row = mapIndex(old.row, removed, added);
        if (row < 0) return std::nullopt;
        return IndexPath{section, row};
    };

    std::vector<Section> next(static_cast<size_t>(newSections));
    std::vector<bool> filled(static_cast<size_t>(newSections), false);
    for (int s = 0; s < numberOfSections(); ++s) {
        const int target = mapIndex(s, deleted, inserted);
        if (target < 0) continue;
        Section section = std::move(sections_[static_cast<size_t>(s)]);
        const auto removed = rowsIn(u.deletedRows, s);
        for (auto it = removed.rbegin(); it != removed.rend(); ++it) section.rows.erase(*it);
        for (int row : rowsIn(u.insertedRows, target)) section.rows.insert(row, initialHeight({target, row}));
        next[static_cast<size_t>(target)] = std::move(section);
        filled[static_cast<size_t>(target)] = true;
    }
    for (int s = 0; s < newSections; ++s) {
        if (!filled[static_cast<size_t>(s)])
            next[static_cast<size_t>(s)] = makeSection(s, dataSource->numberOfRows(*this, s));
        next[static_cast<size_t>(s)].title = dataSource->titleForHeader(*this, s);
    }
    sections_ = std::move(next);

    std::map<IndexPath, TableViewCell*> kept;
    for (auto& [old, cell] : visible_) {
        const auto moved = mapRow(old);
        const bool reloaded =
            std::find(u.reloadedRows.begin(), u.reloadedRows.end(), old) != u.reloadedRows.end();
        if (moved && !reloaded) {
            kept[*moved] = cell;
        } else {
            enqueue(cell);
        }
    }
    visible_ = std::move(kept);
    for (auto& [section, header] : headers_) {
        header->hide();
        headerPool_.push_back(header);
    }
    headers_.clear();
    if (selected_) {
        selected_ = mapRow(*selected_);
        // The data source answers for the new rows now; a row that moved keeps its name, one that
        // changed in place (a point deleted into another section) takes its new one.
        selectedName_ = selected_ ? nameOfRow(*selected_) : std::nullopt;
        for (auto& [path, cell] : visible_) cell->setSelected(selected_ == path);
    }
    const QStringList titles = dataSource->sectionIndexTitles(*this);
    indexBar_->setTitles(titles);
    setViewportMargins(0, 0, titles.isEmpty() ? 0 : TableViewSectionIndexBar::kWidth, 0);
    recomputeOffsets();
    updateScrollRange();
    layoutRows();
}

}  // namespace platform
