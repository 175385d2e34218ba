#pragma once

#include <mutex>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {

// Something placed on the map at a coordinate. The map keeps annotations by identity (the object, not
// its values). Title and subtitle feed the callout; after changing them, or the coordinate, call
// MKMapViewModel::annotationChanged so the map re-reads them.
class MKAnnotation {
  public:
    virtual ~MKAnnotation() = default;
    virtual CLLocationCoordinate2D coordinate() const = 0;
    virtual std::string title() const { return {}; }
    virtual std::string subtitle() const { return {}; }
    // Annotations that can be dragged take their new coordinate here; the default ignores it.
    virtual void setCoordinate(CLLocationCoordinate2D) {}
    // A text that names this object for as long as it lives, as the platform describes objects:
    // "<MKUserLocation: 0x5581c3a4b2f0>" (the class without namespace and the object's address).
    // Tables keyed by annotation (the user-location views) use it.
    virtual std::string description() const;
};

// A plain annotation with settable values. Thread-safe: a coordinate may be written while the map reads.
class MKPointAnnotation : public MKAnnotation {
  public:
    MKPointAnnotation() = default;
    explicit MKPointAnnotation(CLLocationCoordinate2D coordinate, std::string title = {},
                               std::string subtitle = {})
        : coordinate_(coordinate), title_(std::move(title)), subtitle_(std::move(subtitle)) {}

    CLLocationCoordinate2D coordinate() const override {
        std::lock_guard lock(mutex_);
        return coordinate_;
    }
    void setCoordinate(CLLocationCoordinate2D coordinate) override {
        std::lock_guard lock(mutex_);
        coordinate_ = coordinate;
    }
    std::string title() const override {
        std::lock_guard lock(mutex_);
        return title_;
    }
    void setTitle(std::string title) {
        std::lock_guard lock(mutex_);
        title_ = std::move(title);
    }
    std::string subtitle() const override {
        std::lock_guard lock(mutex_);
        return subtitle_;
    }
    void setSubtitle(std::string subtitle) {
        std::lock_guard lock(mutex_);
        subtitle_ = std::move(subtitle);
    }

  private:
    mutable std::mutex mutex_;
    CLLocationCoordinate2D coordinate_;
    std::string title_;
    std::string subtitle_;
};

}  // namespace platform
