#pragma once

#include <QColor>
#include <QWidget>

#include "mapscreen/ButtonLayer.hpp"

namespace tervolo::mapscreen {

// The my-location control: a plain view (not a button; the map screen attaches its tap and long
// press) that shows the stored tracking mode. At every paint it reads the integer user default
// "mainViewUserTrackingMode": 1 draws the filled arrow, 2 the white arrow with the bearing arrow,
// anything else (0, absent, another number or type) the outlined arrow. The screen calls update()
// after changing the mode. It paints its layer like the map buttons, and takes the keyboard focus
// from Tab like them: Space, Return and Enter then report activated(), which the screen treats as a
// tap. What a long press does has the desktop's keys for "more on this control": the menu key and
// Shift+F10 on the focused control, and a right click, report alternateActivated(), which the
// screen treats as a long press. Main thread only; lengths in points.
class CenterButton : public QWidget {
    Q_OBJECT

  public:
    // The user default holding the tracking mode.
    static constexpr const char* kTrackingModeKey = "mainViewUserTrackingMode";

    explicit CenterButton(QWidget* parent = nullptr);

    // Kept for the platform's tint; the icons use the kit's blue.
    QColor tintColor() const { return tintColor_; }
    void setTintColor(const QColor& color);
    const ButtonLayer& layer() const { return layer_; }
    void setLayer(const ButtonLayer& layer);

  signals:
    void activated();
    void alternateActivated();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    QColor tintColor_;
    ButtonLayer layer_;
};

}  // namespace tervolo::mapscreen
