#pragma once

#include <QStringList>
#include <QWidget>

#include <vector>

#include "platform/ui/ImageView.hpp"

namespace platform {

// A row of equal-width segments of which at most one is selected. valueChanged is emitted when the
// user picks another segment (click, or Left/Right with focus), never for a programmatic change.
// Main thread only.
class SegmentedControl : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kNoSegment = -1;

    explicit SegmentedControl(const QStringList& titles = {}, QWidget* parent = nullptr);

    int numberOfSegments() const { return static_cast<int>(titles_.size()); }
    QString titleForSegment(int index) const;
    void setTitleForSegment(int index, const QString& title);
    // A segment with an image shows it (tinted like a title) in place of its title.
    void setImageForSegment(int index, const NamedImage& image);
    NamedImage imageForSegment(int index) const;
    void insertSegment(int index, const QString& title);
    void removeAllSegments();
    int selectedSegmentIndex() const { return selected_; }
    void setSelectedSegmentIndex(int index);  // out of range: none
    void setSegmentEnabled(int index, bool enabled);
    bool isSegmentEnabled(int index) const;
    // The segment under a point in the control's coordinates, kNoSegment outside.
    int segmentAt(QPointF point) const;
    QRectF segmentRect(int index) const;

    QSize sizeHint() const override;

  signals:
    void valueChanged(int selectedSegmentIndex);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void userSelect(int index);

    QStringList titles_;
    std::vector<NamedImage> images_;  // one per segment; null: the title shows
    std::vector<bool> enabled_;
    int selected_ = kNoSegment;
};

}  // namespace platform
