#pragma once

class QWidget;

namespace tervolo::widgets::hud {
class MultilineLabel;
}

namespace tervolo::mapscreen {

class QuovaMKMapView;
class QuovaScaleView;

// What the map view asks of the screen that shows it (the map screen). The two
// compass calls go to the map's own delegate when it also implements this
// interface; the scale bar and the credit label are reached through the map
// view's quovaDelegate. Either view may be absent (null): the map view then
// skips what it would have done with it. Main thread only.
class QuovaMKMapViewDelegate {
  public:
    virtual ~QuovaMKMapViewDelegate() = default;

    // The map added its compass (the map is turned away from north).
    virtual void quovaMapViewDidAddCompassView(QuovaMKMapView& mapView, QWidget* compassView) = 0;
    // The map is about to remove its compass (the map points north again).
    virtual void quovaMapViewWillRemoveCompassView(QuovaMKMapView& mapView, QWidget* compassView) = 0;

    // The screen's scale bar, whose light mode follows the map style.
    virtual QuovaScaleView* scaleView() const = 0;
    // The screen's credit line, crediting what the map shows while a tile
    // style is shown (QuovaMKMapView::creditLines) and hidden with an empty
    // text otherwise.
    virtual widgets::hud::MultilineLabel* osmCreditLabel() const = 0;
    // The credit line's text changed: the screen places it anew (its height
    // follows the lines it needs).
    virtual void creditLabelDidChange() {}
};

}  // namespace tervolo::mapscreen
