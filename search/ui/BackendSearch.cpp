#include "search/ui/BackendSearch.hpp"

namespace tervolo::search {

namespace {

class ForwardGeocoderSearch : public BackendSearch {
  public:
    explicit ForwardGeocoderSearch(std::shared_ptr<QuovaForwardGeocoder> geocoder)
        : geocoder_(std::move(geocoder)) {}
    bool isSearching() const override { return geocoder_->isSearching(); }
    void cancel() override { geocoder_->cancel(); }
    void geocodeAddressString(std::string text, platform::CLLocationCoordinate2D mapCenter,
                              platform::CLLocationCoordinate2D userLocation,
                              QuovaForwardGeocoder::CompletionHandler handler) override {
        geocoder_->geocodeAddressString(std::move(text), mapCenter, userLocation, std::move(handler));
    }

  private:
    std::shared_ptr<QuovaForwardGeocoder> geocoder_;
};

}  // namespace

std::shared_ptr<BackendSearch> forwardGeocoderSearch(std::shared_ptr<QuovaForwardGeocoder> geocoder) {
    return std::make_shared<ForwardGeocoderSearch>(std::move(geocoder));
}

}  // namespace tervolo::search
