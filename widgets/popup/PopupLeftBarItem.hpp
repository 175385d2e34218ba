#pragma once

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "platform/ui/BarButtonItem.hpp"

namespace tervolo::widgets::popup {

// The close/back item at the left of a popup's bar: two 1.5 pt strokes that
// form a cross (close) or a left arrow (back) and morph from one to the other.
// The item's view is an 18 × 44 control; a click on it runs the action.
// Main thread only.
class PopupLeftBarItem : public platform::BarButtonItem {
  public:
    enum class Type : std::uint64_t { cross = 0, arrow = 1 };

    // One stroke: its frame before rotation (in the view) and its rotation
    // about the frame's centre, in radians.
    struct Stroke {
        QRectF frame;
        double rotation = 0;
    };

    static constexpr double kStrokeThickness = 1.5;
    static constexpr double kMorphDuration = 0.5;

    explicit PopupLeftBarItem(std::function<void()> action);

    Type type() const { return type_; }
    // Without animation the strokes jump; with it they morph with a spring.
    void setType(Type type, bool animated = false);

    QColor tintColor() const { return tintColor_; }
    // Both strokes take the colour.
    void setTintColor(QColor color);

    // Where the strokes are (their frames are empty before the first setType).
    Stroke bar1() const { return bar1_; }
    Stroke bar2() const { return bar2_; }
    // The stroke frames on screen now, while a morph runs.
    QRectF presentedBar1Frame() const;
    QRectF presentedBar2Frame() const;

    // Places the strokes for the current type.
    void updateLayout();

  private:
    QPointer<QWidget> customView_;  // the item's control, drawing the strokes
    Stroke bar1_;
    Stroke bar2_;
    Type type_ = Type::cross;
    QColor tintColor_ = QColor::fromRgbF(0.4f, 0.4f, 0.4f);
};

}  // namespace tervolo::widgets::popup
