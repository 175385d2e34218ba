#include "mapscreen/PointAnnotationCalloutDetailView.hpp"

namespace tervolo::mapscreen {

PointAnnotationCalloutDetailView::PointAnnotationCalloutDetailView(QWidget* parent) : QWidget(parent) {}

}  // namespace tervolo::mapscreen
