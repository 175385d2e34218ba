// The table's scrolling to a row or a section: the row's offset found by
// measuring the rows around it, then an animated or immediate move.

#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "platform/ui/Animator.hpp"
#include "platform/ui/TableView.hpp"

namespace platform {

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

}  // namespace platform
