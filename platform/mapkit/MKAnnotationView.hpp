#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapkit/MKAnnotation.hpp"
#include "platform/mapkit/MKGraphicsContext.hpp"
#include "platform/text/Color.hpp"

namespace platform {

class MKAnnotationView;

// Drag states with the platform's raw values.
enum class MKAnnotationViewDragState { None = 0, Starting = 1, Dragging = 2, Canceling = 3, Ending = 4 };

// A view shown beside the callout's texts (a button, a small panel). The widget layer wraps its own
// widgets in it; the model only keeps it.
class MKCalloutAccessoryView {
  public:
    using Point = MKGraphicsContext::Point;
    using Rect = MKGraphicsContext::Rect;

    virtual ~MKCalloutAccessoryView() = default;
    // Controls (buttons) report their clicks through calloutAccessoryControlTapped.
    virtual bool isControl() const = 0;
    // Where the accessory is shown, in the map view's points; none while it is not shown (the
    // default: the model alone shows nothing).
    virtual std::optional<Rect> frameInMapView() const { return std::nullopt; }
    // Whether a click at `point` (the accessory's own points, origin top-left) lands on it: it is
    // shown, takes clicks and contains the point.
    virtual bool hitTest(Point point) const {
        const auto frame = frameInMapView();
        return frame && point.x >= 0 && point.y >= 0 && point.x < frame->width && point.y < frame->height;
    }
};

// What a click meets among an annotation view and its callout accessories: the view itself, one
// of the accessories, or nothing (both empty).
struct MKHitTestResult {
    const MKAnnotationView* view = nullptr;
    std::shared_ptr<MKCalloutAccessoryView> accessory;

    bool isEmpty() const { return view == nullptr && !accessory; }
};

// A click handler attached to an annotation view. Clicks on the view and on its callout both reach it
// (the callout is part of the view). Polymorphic, so that a screen can give its own recognisers a class
// of their own and find them again among a view's recognisers by that class.
class MKGestureRecognizer {
  public:
    explicit MKGestureRecognizer(std::function<void(MKAnnotationView&)> action)
        : action_(std::move(action)) {}
    virtual ~MKGestureRecognizer() = default;
    MKGestureRecognizer(const MKGestureRecognizer&) = delete;
    MKGestureRecognizer& operator=(const MKGestureRecognizer&) = delete;
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    void recognize(MKAnnotationView& view) const {
        if (enabled_ && action_) action_(view);
    }

  private:
    std::function<void(MKAnnotationView&)> action_;
    bool enabled_ = true;
};

// How the map shows one annotation: a pin or an image, with a callout. Views are made by the map's
// delegate when an annotation comes into view (or is selected) and go back to a queue per reuse
// identifier when it leaves the view or the map, from where MKMapViewModel::dequeueReusableAnnotationView
// hands them out again. Main thread only.
class MKAnnotationView {
  public:
    MKAnnotationView(std::shared_ptr<MKAnnotation> annotation, std::string reuseIdentifier);
    virtual ~MKAnnotationView() = default;
    MKAnnotationView(const MKAnnotationView&) = delete;
    MKAnnotationView& operator=(const MKAnnotationView&) = delete;

    const std::shared_ptr<MKAnnotation>& annotation() const { return annotation_; }
    void setAnnotation(std::shared_ptr<MKAnnotation> annotation) { annotation_ = std::move(annotation); }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    // Called when the view goes back to its reuse queue: drops the annotation and the selection.
    virtual void prepareForReuse();

    bool isSelected() const { return selected_; }
    bool canShowCallout() const { return canShowCallout_; }
    void setCanShowCallout(bool value) { canShowCallout_ = value; }
    bool isDraggable() const { return draggable_; }
    void setDraggable(bool value) { draggable_ = value; }
    MKAnnotationViewDragState dragState() const { return dragState_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool value) { enabled_ = value; }

    // The image drawn centred on the coordinate (moved by centerOffset); none: the default marker.
    const std::shared_ptr<MKBitmap>& image() const { return image_; }
    void setImage(std::shared_ptr<MKBitmap> image) {
        image_ = std::move(image);
        ++appearanceGeneration_;
    }
    // View points; positive x right, positive y down.
    MKGraphicsContext::Point centerOffset() const { return centerOffset_; }
    void setCenterOffset(MKGraphicsContext::Point offset) {
        centerOffset_ = offset;
        ++appearanceGeneration_;
    }
    // Counts every change of any view's marker (its image, its offset, a pin's tint) in the process:
    // while it stands, a map that read its views' markers before can use what it read.
    static uint64_t appearanceGeneration() { return appearanceGeneration_; }
    // Where the callout points, relative to the view's centre (view points).
    MKGraphicsContext::Point calloutOffset() const { return calloutOffset_; }
    void setCalloutOffset(MKGraphicsContext::Point offset) { calloutOffset_ = offset; }

    const std::shared_ptr<MKCalloutAccessoryView>& leftCalloutAccessoryView() const { return left_; }
    void setLeftCalloutAccessoryView(std::shared_ptr<MKCalloutAccessoryView> view) {
        left_ = std::move(view);
    }
    const std::shared_ptr<MKCalloutAccessoryView>& rightCalloutAccessoryView() const { return right_; }
    void setRightCalloutAccessoryView(std::shared_ptr<MKCalloutAccessoryView> view) {
        right_ = std::move(view);
    }
    const std::shared_ptr<MKCalloutAccessoryView>& detailCalloutAccessoryView() const { return detail_; }
    void setDetailCalloutAccessoryView(std::shared_ptr<MKCalloutAccessoryView> view) {
        detail_ = std::move(view);
    }

    // ---- Hit testing. The map view asks the selected annotation's view first about every click that
    // reaches the map itself (clicks on the callout's own widgets go to them directly): an accessory
    // found here gets the click, the view itself counts as a click on the annotation, and nothing lets
    // the map go on with the other annotations.
    using Point = MKGraphicsContext::Point;
    using Rect = MKGraphicsContext::Rect;
    // Where the map shows the view, in the map view's points; the map view sets it before it asks
    // hitTest. Empty until then.
    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame) { frame_ = frame; }
    // Whether `point` (the view's own points, origin top-left) lies in the view's bounds.
    virtual bool pointInside(Point point) const;
    // The default: the view itself when pointInside, else nothing; callout accessories lie outside
    // the bounds and are not found. Subclasses widen it.
    virtual MKHitTestResult hitTest(Point point) const;
    // `point` (the view's own points) in the accessory's own points; none while the accessory is not
    // shown.
    std::optional<Point> convertPoint(Point point, const MKCalloutAccessoryView& accessory) const;

    void addGestureRecognizer(std::shared_ptr<MKGestureRecognizer> recognizer);
    void removeGestureRecognizer(const std::shared_ptr<MKGestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<MKGestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

  protected:
    static inline uint64_t appearanceGeneration_ = 0;

  private:
    friend class MKMapViewModel;
    std::shared_ptr<MKAnnotation> annotation_;
    std::string reuseIdentifier_;
    bool selected_ = false;
    bool canShowCallout_ = false;
    bool draggable_ = false;
    bool enabled_ = true;
    MKAnnotationViewDragState dragState_ = MKAnnotationViewDragState::None;
    std::shared_ptr<MKBitmap> image_;
    MKGraphicsContext::Point centerOffset_;
    MKGraphicsContext::Point calloutOffset_;
    Rect frame_;
    std::shared_ptr<MKCalloutAccessoryView> left_;
    std::shared_ptr<MKCalloutAccessoryView> right_;
    std::shared_ptr<MKCalloutAccessoryView> detail_;
    std::vector<std::shared_ptr<MKGestureRecognizer>> recognizers_;
};

// The standard marker: a pin of a tint colour, with a shadow.
class MKPinAnnotationView : public MKAnnotationView {
  public:
    using MKAnnotationView::MKAnnotationView;
    const Color& pinTintColor() const { return pinTintColor_; }
    void setPinTintColor(const Color& color) {
        pinTintColor_ = color;
        ++appearanceGeneration_;
    }

  private:
    Color pinTintColor_ = Color::standardRed();
};

// The view of the user-location annotation: a dot with an accuracy halo.
class MKUserLocationView : public MKAnnotationView {
  public:
    using MKAnnotationView::MKAnnotationView;
};

}  // namespace platform
