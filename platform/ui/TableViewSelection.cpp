// The table's selection and the user's input on its rows: clicks, the
// keyboard's moves, and the Delete menu and its confirmation.

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

#include "platform/ui/TableView.hpp"

namespace platform {

TableViewCell* TableView::cellForRow(IndexPath indexPath) const {
    auto found = visible_.find(indexPath);
    return found == visible_.end() ? nullptr : found->second;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() const {
    std::vector<IndexPath> paths;
    paths.reserve(visible_.size());
    for (const auto& [indexPath, cell] : visible_) paths.push_back(indexPath);
    return paths;
}

std::optional<IndexPath> TableView::indexPathForRow(QPointF viewportPoint) const {
    for (const auto& [indexPath, cell] : visible_) {
        if (cell->geometry().contains(viewportPoint.toPoint())) return indexPath;
    }
    return std::nullopt;
}

void TableView::selectRow(std::optional<IndexPath> indexPath, ScrollPosition position) {
    if (selected_) {
        if (auto* cell = cellForRow(*selected_)) cell->setSelected(false);
    }
    selected_ = indexPath;
    selectedName_ = indexPath ? nameOfRow(*indexPath) : std::nullopt;
    if (!indexPath) return;
    if (auto* cell = cellForRow(*indexPath)) cell->setSelected(true);
    if (position != ScrollPosition::None) scrollToRow(*indexPath, position);
}

void TableView::deselectRow(IndexPath indexPath) {
    if (selected_ == indexPath) selectRow(std::nullopt);
}

void TableView::userSelect(IndexPath indexPath) {
    auto delegate = delegate_.lock();
    if (selected_ && *selected_ != indexPath) {
        const IndexPath previous = *selected_;
        selectRow(std::nullopt);
        if (delegate) delegate->didDeselectRow(*this, previous);
    }
    selectRow(indexPath);
    if (delegate) delegate->didSelectRow(*this, indexPath);
}

void TableView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton) {
        if (auto indexPath = indexPathForRow(event->position())) userSelect(*indexPath);
    }
    event->accept();
}

void TableView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void TableView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            // As the swipe shows a row's Delete button before anything is deleted: the row's Delete
            // menu, which Return (or a click) confirms and Escape leaves.
            if (selected_) confirmDelete(*selected_);
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Choosing the highlighted row, as a click on it does.
            if (selected_ && selected_->section < numberOfSections() &&
                selected_->row < numberOfRows(selected_->section)) {
                userSelect(*selected_);
            }
            event->accept();
            return;
        case Qt::Key_Up:
        case Qt::Key_Down: {
            // The highlight moves to the next or previous row across sections; only Return (or a
            // click) chooses it, so moving through the list never acts on a row.
            IndexPath next = selected_.value_or(IndexPath{0, -1});
            const bool down = event->key() == Qt::Key_Down;
            int s = next.section, r = next.row + (down ? 1 : -1);
            while (s >= 0 && s < numberOfSections() && (r < 0 || r >= numberOfRows(s))) {
                s += down ? 1 : -1;
                r = down ? 0 : numberOfRows(s) - 1;
            }
            if (s >= 0 && s < numberOfSections()) {
                selectRow(IndexPath{s, r});
                scrollToRow({s, r}, ScrollPosition::None);
            }
            event->accept();
            return;
        }
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

QMenu* TableView::contextMenuForRow(IndexPath indexPath) {
    auto dataSource = dataSource_.lock();
    if (!dataSource || !dataSource->canEditRow(*this, indexPath)) return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto* remove = menu->addAction(QCoreApplication::translate("TableView", "Delete"));
    QPointer<TableView> self(this);
    // The menu waits for the user while the rows may move under it (a list re-sorted by a position
    // fix, a filter, a reload): the answer is for the row asked about, not for its old place.
    AskedRow asked{indexPath, dataSource->identifierForRow(*this, indexPath), rowsGeneration_};
    connect(remove, &QAction::triggered, this, [self, asked] {
        if (!self) return;
        if (const auto now = self->rowNow(asked)) self->commitDelete(*now);
    });
    return menu;
}

std::optional<IndexPath> TableView::rowNow(const AskedRow& asked) {
    if (!asked.identifier) {
        if (asked.rowsGeneration == rowsGeneration_) return asked.indexPath;
        return std::nullopt;
    }
    return rowNamed(*asked.identifier, asked.indexPath);
}

std::optional<std::string> TableView::nameOfRow(IndexPath indexPath) {
    auto dataSource = dataSource_.lock();
    if (!dataSource || indexPath.section < 0 || indexPath.section >= numberOfSections() ||
        indexPath.row < 0 || indexPath.row >= numberOfRows(indexPath.section)) {
        return std::nullopt;
    }
    return dataSource->identifierForRow(*this, indexPath);
}

std::optional<IndexPath> TableView::rowNamed(const std::string& identifier, IndexPath hint) {
    if (nameOfRow(hint) == identifier) return hint;
    for (int s = 0; s < numberOfSections(); ++s) {
        for (int r = 0; r < numberOfRows(s); ++r) {
            if (nameOfRow({s, r}) == identifier) return IndexPath{s, r};
        }
    }
    return std::nullopt;
}

void TableView::confirmDelete(IndexPath indexPath) {
    if (indexPath.section >= numberOfSections() || indexPath.row >= numberOfRows(indexPath.section)) return;
    QMenu* menu = contextMenuForRow(indexPath);
    if (menu == nullptr) return;
    scrollToRow(indexPath, ScrollPosition::None);
    const QRectF row = rectForRow(indexPath).translated(0, -contentOffset());
    menu->setActiveAction(menu->actions().value(0));
    menu->popup(viewport()->mapToGlobal(QPoint(viewport()->width() / 2, qRound(row.bottom()))));
}

void TableView::contextMenuEvent(QContextMenuEvent* event) {
    const auto indexPath = indexPathForRow(event->pos());
    if (!indexPath) return;
    if (QMenu* menu = contextMenuForRow(*indexPath)) menu->popup(event->globalPos());
}

void TableView::commitDelete(IndexPath indexPath) {
    auto dataSource = dataSource_.lock();
    if (!dataSource || indexPath.section >= numberOfSections() ||
        indexPath.row >= numberOfRows(indexPath.section) || !dataSource->canEditRow(*this, indexPath)) {
        return;
    }
    dataSource->commitDelete(*this, indexPath);
}

}  // namespace platform
