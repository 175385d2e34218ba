#pragma once

#include <functional>
#include <vector>

namespace platform {

// The row heights of one table section and the rows' offsets from the section's first row. While
// every row has the same known height nothing per row is stored, so a long list of fixed-height rows
// costs the same memory as a short one; the first differing or estimated row switches to per-row
// arrays. A height given negative is an estimate of its magnitude, to be measured when the row shows.
class TableViewSectionRows {
  public:
    void assign(int count, const std::function<double(int row)>& heightOf);
    int count() const { return count_; }
    double height(int row) const;
    double offset(int row) const;
    double total() const;
    bool isMeasured(int row) const;
    // Records a measured height; true when it differs from what was counted.
    bool setMeasured(int row, double height);
    // Marks the rows for which `estimate(row)` gives a negative height as unmeasured again.
    void forgetMeasurements(const std::function<double(int row)>& estimate);
    void erase(int row);
    void insert(int row, double height);
    // The row whose extent contains `y` (from the section's first row), clamped to the rows; -1 when empty.
    int rowAt(double y) const;
    // Brings the offsets up to date after changes (cheap when nothing per row is stored).
    void recompute();

  private:
    void expand();

    int count_ = 0;
    double uniform_ = 0;
    std::vector<double> heights_;  // empty while every row is uniform_ high and measured
    std::vector<double> offsets_;
    std::vector<bool> measured_;
};

}  // namespace platform
