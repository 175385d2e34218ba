#include "platform/ui/TableViewSectionRows.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

void TableViewSectionRows::assign(int count, const std::function<double(int)>& heightOf) {
    count_ = std::max(count, 0);
    heights_.clear();
    offsets_.clear();
    measured_.clear();
    uniform_ = 0;
    if (count_ == 0) return;
    uniform_ = heightOf(0);
    bool same = uniform_ >= 0;
    for (int row = 1; row < count_ && same; ++row) same = heightOf(row) == uniform_;
    if (same) return;
    heights_.resize(static_cast<size_t>(count_));
    measured_.resize(static_cast<size_t>(count_));
    for (int row = 0; row < count_; ++row) {
        const double h = heightOf(row);
        heights_[static_cast<size_t>(row)] = std::abs(h);
        measured_[static_cast<size_t>(row)] = h >= 0;
    }
    recompute();
}

void TableViewSectionRows::expand() {
    if (!heights_.empty() || count_ == 0) return;
    heights_.assign(static_cast<size_t>(count_), uniform_);
    measured_.assign(static_cast<size_t>(count_), true);
    recompute();
}

double TableViewSectionRows::height(int row) const {
    return heights_.empty() ? uniform_ : heights_[static_cast<size_t>(row)];
}

double TableViewSectionRows::offset(int row) const {
    return heights_.empty() ? row * uniform_ : offsets_[static_cast<size_t>(row)];
}

double TableViewSectionRows::total() const {
    if (count_ == 0) return 0;
    return offset(count_ - 1) + height(count_ - 1);
}

bool TableViewSectionRows::isMeasured(int row) const {
    return heights_.empty() || measured_[static_cast<size_t>(row)];
}

bool TableViewSectionRows::setMeasured(int row, double height) {
    if (heights_.empty() && height == uniform_) return false;
    expand();
    measured_[static_cast<size_t>(row)] = true;
    if (std::abs(heights_[static_cast<size_t>(row)] - height) <= 0.5) return false;
    heights_[static_cast<size_t>(row)] = height;
    return true;
}

void TableViewSectionRows::forgetMeasurements(const std::function<double(int)>& estimate) {
    for (int row = 0; row < count_; ++row) {
        if (estimate(row) >= 0) continue;
        expand();
        measured_[static_cast<size_t>(row)] = false;
    }
}

void TableViewSectionRows::erase(int row) {
    if (row < 0 || row >= count_) return;
    --count_;
    if (heights_.empty()) return;
    heights_.erase(heights_.begin() + row);
    measured_.erase(measured_.begin() + row);
    offsets_.resize(heights_.size());
}

void TableViewSectionRows::insert(int row, double height) {
    row = std::clamp(row, 0, count_);
    if (heights_.empty() && (count_ == 0 || height == uniform_) && height >= 0) {
        uniform_ = height;
        ++count_;
        return;
    }
    expand();
    ++count_;
    heights_.insert(heights_.begin() + row, std::abs(height));
    measured_.insert(measured_.begin() + row, height >= 0);
    offsets_.resize(heights_.size());
}

int TableViewSectionRows::rowAt(double y) const {
    if (count_ == 0) return -1;
    if (heights_.empty()) {
        if (uniform_ <= 0) return 0;
        return std::clamp(static_cast<int>(std::floor(y / uniform_)), 0, count_ - 1);
    }
    auto found = std::upper_bound(offsets_.begin(), offsets_.end(), y);
    if (found == offsets_.begin()) return 0;
    return static_cast<int>(found - offsets_.begin()) - 1;
}

void TableViewSectionRows::recompute() {
    if (heights_.empty()) return;
    offsets_.resize(heights_.size());
    double y = 0;
    for (size_t row = 0; row < heights_.size(); ++row) {
        offsets_[row] = y;
        y += heights_[row];
    }
}

}  // namespace platform
