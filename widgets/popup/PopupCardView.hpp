#pragma once

#include <QWidget>

namespace tervolo::widgets::popup {

// The popup's card: the sheet its bar and content sit on. It paints itself in the palette's base
// colour (white in a light palette, dark in a dark one) and hands its children the matching text
// colour, so labels, the bar's title and fields read on it in either palette. Rounded corners are
// painted antialiased (a mask would cut them on whole pixels, jagged at every pixel ratio). Main
// thread only; the radius is in points.
class PopupCardView : public QWidget {
  public:
    explicit PopupCardView(QWidget* parent = nullptr);

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void adoptPalette();

    double cornerRadius_ = 0;
    bool adopting_ = false;
};

}  // namespace tervolo::widgets::popup
