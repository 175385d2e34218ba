#pragma once

#include <QRect>
#include <QRectF>
#include <QWidget>

#include <optional>
#include <string>

#include "platform/ui/ImageView.hpp"

namespace platform {
class Label;
}

namespace tervolo::widgets::hud {

class HUDImageView;
class MultilineLabel;

// The square HUD panel, 156 × 156 points: a title row on top (a quarter of the height), the picture
// in the middle half and a subtitle row below (a quarter). The rows move right by the shared HUD's
// leading + trailing margin and narrow by twice that sum. Title: bold 17 pt, black at 0.85, one line,
// shrinking to a quarter of its size to fit; subtitle: 14 pt, black at 0.7, two lines, the same.
// Absent texts leave a row empty; an empty image shows no picture. Main thread only; points.
class HUDSquareBaseView : public QWidget {
    Q_OBJECT

  public:
    // The panel with its picture and texts.
    HUDSquareBaseView(const platform::NamedImage& image, const std::optional<std::string>& title,
                      const std::optional<std::string>& subtitle, QWidget* parent = nullptr);
    // A bare panel at `frame`: its picture and labels exist (and are laid out) but are not shown.
    explicit HUDSquareBaseView(const QRect& frame, QWidget* parent = nullptr);

    static QRect defaultSquareFrame() { return QRect(0, 0, 156, 156); }

    HUDImageView* imageView() const { return imageView_; }
    platform::Label* titleLabel() const { return titleLabel_; }
    MultilineLabel* subtitleLabel() const { return subtitleLabel_; }

    // Where the rows go in a panel of `bounds` with `margin` (the HUD's leading + trailing margin);
    // row heights are rounded up to whole points.
    struct Rows {
        QRectF title;
        QRectF image;
        QRectF subtitle;
    };
    static Rows rows(QSizeF bounds, double margin);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    virtual void layoutSubviews();

  private:
    void makeParts();
    // Widens the panel (never past twice its width) until the subtitle fits at its full size.
    void widenForSubtitle();

    HUDImageView* imageView_ = nullptr;
    platform::Label* titleLabel_ = nullptr;
    MultilineLabel* subtitleLabel_ = nullptr;
};

}  // namespace tervolo::widgets::hud
