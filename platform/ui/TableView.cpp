#include "platform/ui/TableView.hpp"

#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "platform/ui/Animator.hpp"
#include "platform/ui/TableViewSectionIndexBar.hpp"

namespace platform {

namespace {

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
    // A keyboard user keeps their place across a reload (a list re-sorted by every position fix):
    // the highlight goes with its row's name, never stays on whatever row now fills its old place.
    const std::optional<IndexPath> highlighted = selected_;
    const std::optional<std::string> highlightedName = selectedName_;
    const bool highlightInView = highlighted && visible_.count(*highlighted) > 0;
    ++rowsGeneration_;
    Animator::remove(this, "contentOffset");
    clearVisible();
    selected_.reset();
    selectedName_.reset();
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
    if (highlighted && highlightedName) {
        if (const auto now = rowNamed(*highlightedName, *highlighted)) {
            selectRow(*now);
            if (highlightInView) scrollToRow(*now, ScrollPosition::None);
        }
    }
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

}  // namespace platform
