#include "platform/ui/TableView.hpp"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/TableViewSectionIndexBar.hpp"

namespace platform {

namespace {

std::shared_ptr<OSLog> tableLog() {
    static auto log = OSLog::make("org.tervolo.TervoloNG", "tableview");
    return log;
}

// A plain section header: the title on a light band.
class SectionHeader final : public QWidget {
  public:
    explicit SectionHeader(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
    }
    QString title;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // A band of the window colour between the rows' base colour, with the window's text.
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect().adjusted(15, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
    }
};

bool acceptsTabFocus(const QWidget* cell) {
    if (cell->focusPolicy() & Qt::TabFocus) return true;
    const auto children = cell->findChildren<QWidget*>();
    return std::any_of(children.begin(), children.end(),
                       [](const QWidget* child) { return (child->focusPolicy() & Qt::TabFocus) != 0; });
}

template <typename T>
std::vector<T> sortedUnique(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

}  // namespace

bool TableView::PendingUpdates::empty() const {
    return deletedRows.empty() && insertedRows.empty() && reloadedRows.empty() && deletedSections.empty() &&
           insertedSections.empty();
}

TableView::TableView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(20);
    indexBar_ = new TableViewSectionIndexBar(this);
    indexBar_->hide();
    indexBar_->setOnSelect([this](int index, const QString& title) {
        auto dataSource = dataSource_.lock();
        if (!dataSource) return;
        scrollToSection(dataSource->sectionForSectionIndexTitle(*this, title, index));
    });
}

TableView::~TableView() = default;

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
    dataSource_ = std::move(dataSource);
    reloadData();
}

void TableView::setRowHeight(double height) {
    rowHeight_ = height;
    reloadData();
}

void TableView::setSectionHeaderHeight(double height) {
    headerHeight_ = height;
    recomputeOffsets();
    updateScrollRange();
    layoutRows();
}

void TableView::registerCell(const QString& reuseIdentifier, CellFactory factory) {
    factories_[reuseIdentifier] = std::move(factory);
}

TableViewCell* TableView::dequeueReusableCell(const QString& reuseIdentifier, IndexPath) {
    TableViewCell* cell = nullptr;
    auto& pooled = pool_[reuseIdentifier];
    if (!pooled.empty()) {
        cell = pooled.back();
        pooled.pop_back();
        cell->prepareForReuse();
    } else {
        auto factory = factories_.find(reuseIdentifier);
        if (factory == factories_.end() || !factory->second) return nullptr;
        cell = factory->second();
        if (!cell) return nullptr;
        ++cellsCreated_;
        cell->setParent(viewport());
    }
    ++cell->useCount_;
    return cell;
}

int TableView::numberOfRows(int section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    return sections_[static_cast<size_t>(section)].rows.count();
}

double TableView::initialHeight(IndexPath indexPath) {
    if (auto delegate = delegate_.lock()) {
        const double height = delegate->heightForRow(*this, indexPath);
        if (height >= 0) return height;
    }
    return rowHeight_ >= 0 ? rowHeight_ : -estimatedRowHeight_;  // negative: an estimate
}

TableView::Section TableView::makeSection(int section, int rows) {
    Section made;
    made.rows.assign(rows, [&](int row) { return initialHeight({section, row}); });
    return made;
}

void TableView::recomputeOffsets() {
    auto dataSource = dataSource_.lock();
    double y = 0;
    for (size_t s = 0; s < sections_.size(); ++s) {
        auto& section = sections_[s];
        section.top = y;
        section.header = section.title.isEmpty() ? 0 : headerHeight_;
        section.rows.recompute();
        y += section.header + section.rows.total();
    }
    contentHeight_ = y;
}

void TableView::updateScrollRange() {
    const int visible = viewport()->height();
    verticalScrollBar()->setPageStep(std::max(1, visible));
    verticalScrollBar()->setRange(0, std::max(0, static_cast<int>(std::ceil(contentHeight_)) - visible));
}

void TableView::enqueue(TableViewCell* cell) {
    // Hidden only if no row takes it back in the same layout pass: hiding and showing again costs
    // more than the rest of a row's layout.
    if (!laying_) cell->hide();
    pool_[cell->reuseIdentifier()].push_back(cell);
}

void TableView::clearVisible() {
    for (auto& [indexPath, cell] : visible_) enqueue(cell);
    visible_.clear();
    for (auto& [section, header] : headers_) {
        header->hide();
        headerPool_.push_back(header);
    }
    headers_.clear();
}

void TableView::reloadData() {
    Animator::remove(this, "contentOffset");
    clearVisible();
    selected_.reset();
    sections_.clear();
    QStringList indexTitles;
    if (auto dataSource = dataSource_.lock()) {
        const int count = std::max(0, dataSource->numberOfSections(*this));
        sections_.reserve(static_cast<size_t>(count));
        for (int s = 0; s < count; ++s) {
            sections_.push_back(makeSection(s, dataSource->numberOfRows(*this, s)));
            sections_.back().title = dataSource->titleForHeader(*this, s);
        }
        indexTitles = dataSource->sectionIndexTitles(*this);
    }
    indexBar_->setTitles(indexTitles);
    setViewportMargins(0, 0, indexTitles.isEmpty() ? 0 : TableViewSectionIndexBar::kWidth, 0);
    recomputeOffsets();
    updateScrollRange();
    layoutRows();
}

QWidget* TableView::headerWidget(int section) {
    SectionHeader* header;
    if (!headerPool_.empty()) {
        header = static_cast<SectionHeader*>(headerPool_.back());
        headerPool_.pop_back();
    } else {
        header = new SectionHeader(viewport());
    }
    header->title = sections_[static_cast<size_t>(section)].title;
    header->update();
    return header;
}

void TableView::layoutRows() {
    if (laying_) return;
    laying_ = true;
    auto dataSource = dataSource_.lock();
    for (int pass = 0; pass < 4; ++pass) {
        const double top = contentOffset();
        const double bottom = top + viewport()->height();
        const int width = viewport()->width();

        std::vector<IndexPath> wanted;
        std::vector<int> wantedHeaders;
        // The first section that reaches into view, then the rows of each section in view.
        auto first = std::upper_bound(sections_.begin(), sections_.end(), top,
                                      [](double y, const Section& s) { return y < s.top; });
        size_t s = first == sections_.begin() ? 0 : static_cast<size_t>(first - sections_.begin()) - 1;
        for (; s < sections_.size() && sections_[s].top < bottom; ++s) {
            const Section& section = sections_[s];
            // A header stays in view while any of its section is (pinned to the top, pushed up by the
            // next section's header).
            if (section.header > 0 && section.top + section.header + section.rows.total() > top)
                wantedHeaders.push_back(static_cast<int>(s));
            const double rowsTop = section.top + section.header;
            const int count = section.rows.count();
            for (int r = std::max(0, section.rows.rowAt(top - rowsTop)); r < count; ++r) {
                const double rowTop = rowsTop + section.rows.offset(r);
                if (rowTop >= bottom) break;
                if (rowTop + section.rows.height(r) <= top) continue;
                wanted.push_back({static_cast<int>(s), r});
            }
        }

        for (auto it = visible_.begin(); it != visible_.end();) {
            if (std::binary_search(wanted.begin(), wanted.end(), it->first)) {
                ++it;
            } else {
                enqueue(it->second);
                it = visible_.erase(it);
            }
        }
        for (auto it = headers_.begin(); it != headers_.end();) {
            if (std::binary_search(wantedHeaders.begin(), wantedHeaders.end(), it->first)) {
                ++it;
            } else {
                it->second->hide();
                headerPool_.push_back(it->second);
                it = headers_.erase(it);
            }
        }

        bool remeasured = false;
        for (const IndexPath& indexPath : wanted) {
            auto found = visible_.find(indexPath);
            TableViewCell* cell = found == visible_.end() ? nullptr : found->second;
            if (!cell) {
                if (!dataSource) break;
                cell = dataSource->cellForRow(*this, indexPath);
                if (!cell) continue;
                if (cell->parentWidget() != viewport()) cell->setParent(viewport());
                visible_[indexPath] = cell;
                cell->setSelected(selected_ == indexPath);
            }
            Section& section = sections_[static_cast<size_t>(indexPath.section)];
            const int r = indexPath.row;
            if (!section.rows.isMeasured(r)) {
                const int height = std::max(
                    1, cell->hasHeightForWidth() ? cell->heightForWidth(width) : cell->sizeHint().height());
                remeasured = section.rows.setMeasured(r, height) || remeasured;
            }
            const double y = section.top + section.header + section.rows.offset(r) - top;
            const QRect geometry(
                0, static_cast<int>(std::lround(y)), width,
                static_cast<int>(std::lround(y + section.rows.height(r))) - static_cast<int>(std::lround(y)));
            if (cell->geometry() != geometry) cell->setGeometry(geometry);
            // A cell made or reparented while an ancestor had its updates off may keep them off
            // after the ancestor turns them on again. Being opaque, it is then never drawn at all,
            // and the window goes on showing what lay there before (the map under a sheet).
            if (!cell->updatesEnabled() && viewport()->updatesEnabled()) cell->setUpdatesEnabled(true);
            if (cell->isHidden()) cell->show();
        }
        for (int s : wantedHeaders) {
            QWidget*& header = headers_[s];
            if (!header) header = headerWidget(s);
            const Section& section = sections_[static_cast<size_t>(s)];
            const double end = section.top + section.header + section.rows.total();
            const double y = std::clamp(top, section.top, std::max(section.top, end - section.header));
            header->setGeometry(0, static_cast<int>(std::lround(y - top)), width,
                                static_cast<int>(std::lround(section.header)));
            header->show();
            header->raise();
        }
        if (!remeasured) break;
        recomputeOffsets();
        updateScrollRange();
    }
    // Spare cells are parked just above the viewport rather than hidden: when rows in view alternate
    // between n and n+1, hiding and showing one cell per screen would cost more than the screen's
    // other rows together. A cell that could take keyboard focus is hidden, so Tab never lands in it.
    for (auto& [identifier, cells] : pool_) {
        for (auto* cell : cells) {
            if (cell->isHidden()) continue;
            if (acceptsTabFocus(cell)) {
                cell->hide();
            } else if (cell->y() + cell->height() > 0) {
                cell->move(0, -cell->height() - 1);
            }
        }
    }
    laying_ = false;
}

double TableView::contentOffset() const {
    return verticalScrollBar()->value();
}

void TableView::setContentOffset(double y) {
    const int value =
        static_cast<int>(std::lround(std::clamp(y, 0.0, double(verticalScrollBar()->maximum()))));
    if (value == verticalScrollBar()->value()) {
        layoutRows();
        return;
    }
    verticalScrollBar()->setValue(value);  // lays out through scrollContentsBy
}

void TableView::scrollContentsBy(int, int) {
    layoutRows();
}

void TableView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QRect area = viewport()->geometry();
    indexBar_->setGeometry(area.right() + 1, area.top(), TableViewSectionIndexBar::kWidth, area.height());
    if (rowHeight_ < 0 && event->size().width() != event->oldSize().width()) {
        // Automatic heights depend on the width: rows in view are measured again as they show.
        for (size_t s = 0; s < sections_.size(); ++s) {
            sections_[s].rows.forgetMeasurements([&](int row) {
                return initialHeight({static_cast<int>(s), row});
            });
        }
    }
    updateScrollRange();
    layoutRows();
}

QRectF TableView::rectForRow(IndexPath indexPath) const {
    if (indexPath.section < 0 || indexPath.section >= numberOfSections()) return {};
    const Section& section = sections_[static_cast<size_t>(indexPath.section)];
    if (indexPath.row < 0 || indexPath.row >= section.rows.count()) return {};
    return QRectF(0, section.top + section.header + section.rows.offset(indexPath.row), viewport()->width(),
                  section.rows.height(indexPath.row));
}

QRectF TableView::rectForHeader(int section) const {
    if (section < 0 || section >= numberOfSections()) return {};
    const Section& s = sections_[static_cast<size_t>(section)];
    return QRectF(0, s.top, viewport()->width(), s.header);
}

void TableView::scrollToRow(IndexPath indexPath, ScrollPosition position, bool animated) {
    if (rectForRow(indexPath).isNull()) return;
    const double visible = viewport()->height();
    const double current = contentOffset();
    auto offsetFor = [this, position, visible, current](const QRectF& rect) {
        double target = current;
        switch (position) {
            case ScrollPosition::Top:
                target = rect.top();
                break;
            case ScrollPosition::Middle:
                target = rect.center().y() - visible / 2;
                break;
            case ScrollPosition::Bottom:
                target = rect.bottom() - visible;
                break;
            case ScrollPosition::None:
                if (rect.top() < current)
                    target = rect.top();
                else if (rect.bottom() > current + visible)
                    target = rect.bottom() - visible;
                break;
        }
        return std::clamp(target, 0.0, double(verticalScrollBar()->maximum()));
    };
    // Automatic heights: rows are measured as they come into view, and measuring the rows above the
    // row asked for moves it away from where the estimates put it. So measure a screenful of rows on
    // either side first, then aim: the rows the scroll brings into view above it are measured already.
    measureRowsAround(indexPath, visible, visible);
    if (!animated) {
        Animator::remove(this, "contentOffset");
        setContentOffset(offsetFor(rectForRow(indexPath)));
        return;
    }
    // The animation runs a progress from 0 to 1 and aims at the row anew on every frame: rows measured
    // on the way (automatic heights) move it, and the scroll ends on it all the same.
    auto animation = Animation::basic(0.0, 1.0, 0.3);
    animation.curve = TimingCurve::easeInOut();
    QPointer<TableView> self(this);
    animation.apply = [self, offsetFor, indexPath, current](const AnimatableValue& value) {
        if (!self) return;
        const QRectF rect = self->rectForRow(indexPath);
        const double aim = rect.isNull() ? current : offsetFor(rect);
        self->setContentOffset(current + (aim - current) * std::get<double>(value));
    };
    animation.restingValue = 1.0;
    Animator::add(this, "contentOffset", std::move(animation));
}

bool TableView::measureRowsAround(IndexPath indexPath, double above, double below) {
    auto dataSource = dataSource_.lock();
    if (!dataSource || rowHeight_ >= 0) return false;
    const int width = viewport()->width();
    bool changed = false;
    auto measure = [&](IndexPath ip) {
        Section& section = sections_[static_cast<size_t>(ip.section)];
        if (!section.rows.isMeasured(ip.row)) {
            const auto shown = visible_.find(ip);
            TableViewCell* cell = shown != visible_.end() ? shown->second : dataSource->cellForRow(*this, ip);
            if (cell != nullptr) {
                const int height = std::max(
                    1, cell->hasHeightForWidth() ? cell->heightForWidth(width) : cell->sizeHint().height());
                changed = section.rows.setMeasured(ip.row, height) || changed;
                if (shown == visible_.end()) {
                    // Borrowed for its height only: back to the pool for the rows that show.
                    if (cell->parentWidget() != viewport()) cell->setParent(viewport());
                    enqueue(cell);
                }
            }
        }
        return section.rows.height(ip.row);
    };
    measure(indexPath);
    // Upwards through the rows (and headers) above, across sections.
    double total = 0;
    IndexPath ip = indexPath;
    while (total < above) {
        if (ip.row > 0) {
            --ip.row;
        } else {
            total += sections_[static_cast<size_t>(ip.section)].header;
            int s = ip.section - 1;
            while (s >= 0 && sections_[static_cast<size_t>(s)].rows.count() == 0) --s;
            if (s < 0) break;
            ip = {s, sections_[static_cast<size_t>(s)].rows.count() - 1};
        }
        total += measure(ip);
    }
    total = 0;
    ip = indexPath;
    while (total < below) {
        if (ip.row + 1 < sections_[static_cast<size_t>(ip.section)].rows.count()) {
            ++ip.row;
        } else {
            int s = ip.section + 1;
            while (s < numberOfSections() && sections_[static_cast<size_t>(s)].rows.count() == 0) ++s;
            if (s >= numberOfSections()) break;
            total += sections_[static_cast<size_t>(s)].header;
            ip = {s, 0};
        }
        total += measure(ip);
    }
    if (changed) {
        recomputeOffsets();
        updateScrollRange();
    }
    return changed;
}

void TableView::scrollToSection(int section, bool animated) {
    if (section < 0 || section >= numberOfSections()) return;
    const Section& s = sections_[static_cast<size_t>(section)];
    if (s.rows.count() > 0 && s.header <= 0) {
        scrollToRow({section, 0}, ScrollPosition::Top, animated);
        return;
    }
    Animator::remove(this, "contentOffset");
    setContentOffset(s.top);
}

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
    connect(remove, &QAction::triggered, this, [self, indexPath] {
        if (self) self->commitDelete(indexPath);
    });
    return menu;
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

// ---- Batch updates ------------------------------------------------------------------------------

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
        if (std::binary_search(deleted.begin(), deleted.end(), path.section)) {
            return "row " + std::to_string(path.row) + " deleted from section " +
                   std::to_string(path.section) + ", which is deleted as a whole";
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
