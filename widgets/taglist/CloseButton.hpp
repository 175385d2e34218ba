#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPointer>

namespace tervolo::widgets::taglist {

class TagView;

// The small button at a chip's right end: a cross of two round-capped
// strokes centred in the button. Main thread only; lengths in points.
class CloseButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit CloseButton(QWidget* parent = nullptr);

    double iconSize() const { return iconSize_; }
    void setIconSize(double size) { iconSize_ = size; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }
    QColor lineColor() const { return lineColor_; }
    void setLineColor(const QColor& color) { lineColor_ = color; }

    // The chip it belongs to; it goes away with its chip.
    TagView* tagView() const;
    void setTagView(TagView* tagView);

    // The square the cross fills for a drawing area of `size` (only the size counts).
    QRectF iconRect(QSizeF size) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double iconSize_ = 10;
    double lineWidth_ = 1;
    QColor lineColor_ = QColor::fromRgbF(1, 1, 1, 0.54f);
    QPointer<TagView> tagView_;
};

}  // namespace tervolo::widgets::taglist
