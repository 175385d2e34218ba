#pragma once

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
    virtual ~MKCalloutAccessoryView() = default;
    // Controls (buttons) report their clicks through calloutAccessoryControlTapped.
    virtual bool isControl() const = 0;
};

// A click handler attached to an annotation view. Clicks on the view and on its callout both reach it
// (the callout is part of the view).
class MKGestureRecognizer {
  public:
    explicit MKGestureRecognizer(std::function<void(MKAnnotationView&)> action)
        : action_(std::move(action)) {}
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
    void setImage(std::shared_ptr<MKBitmap> image) { image_ = std::move(image); }
    // View points; positive x right, positive y down.
    MKGraphicsContext::Point centerOffset() const { return centerOffset_; }
    void setCenterOffset(MKGraphicsContext::Point offset) { centerOffset_ = offset; }
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

    void addGestureRecognizer(std::shared_ptr<MKGestureRecognizer> recognizer);
    void removeGestureRecognizer(const std::shared_ptr<MKGestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<MKGestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

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
    void setPinTintColor(const Color& color) { pinTintColor_ = color; }

  private:
    Color pinTintColor_ = Color::standardRed();
};

// The view of the user-location annotation: a dot with an accuracy halo.
class MKUserLocationView : public MKAnnotationView {
  public:
    using MKAnnotationView::MKAnnotationView;
};

}  // namespace platform
