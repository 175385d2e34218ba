#pragma once

#include <QRect>
#include <QWidget>

namespace tervolo::widgets::hud {

// The wide HUD panel, 265 × 90 points by default, for text. Main thread only; points.
class HUDWideBaseView : public QWidget {
    Q_OBJECT

  public:
    explicit HUDWideBaseView(QWidget* parent = nullptr);
    explicit HUDWideBaseView(const QRect& frame, QWidget* parent = nullptr);

    static QRect defaultWideFrame() { return QRect(0, 0, 265, 90); }
};

}  // namespace tervolo::widgets::hud
