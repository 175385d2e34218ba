#pragma once

#include <memory>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"
#include "search/QuovaForwardGeocoder.hpp"

namespace tervolo::search {

// The backend search as the search controller uses it: one search at a time,
// cancel drops the handler without calling it, the handler runs on the main
// queue, possibly several times per search. The program's is the forward
// geocoder (forwardGeocoderSearch); tests script one. Main thread only.
class BackendSearch {
  public:
    virtual ~BackendSearch() = default;
    virtual bool isSearching() const = 0;
    virtual void cancel() = 0;
    virtual void geocodeAddressString(std::string text, platform::CLLocationCoordinate2D mapCenter,
                                      platform::CLLocationCoordinate2D userLocation,
                                      QuovaForwardGeocoder::CompletionHandler handler) = 0;
};

// The backend search over `geocoder`: searching from a start until the search
// ends, also while a failed start waits for its retry.
std::shared_ptr<BackendSearch> forwardGeocoderSearch(std::shared_ptr<QuovaForwardGeocoder> geocoder);

}  // namespace tervolo::search
