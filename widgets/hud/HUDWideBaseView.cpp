#include "widgets/hud/HUDWideBaseView.hpp"

namespace tervolo::widgets::hud {

HUDWideBaseView::HUDWideBaseView(QWidget* parent) : HUDWideBaseView(defaultWideFrame(), parent) {}

HUDWideBaseView::HUDWideBaseView(const QRect& frame, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setGeometry(frame);
}

}  // namespace tervolo::widgets::hud
