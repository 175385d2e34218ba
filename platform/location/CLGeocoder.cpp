#include "platform/location/CLGeocoder.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/location/CLError.hpp"
#include "platform/location/GeocoderService.hpp"

namespace platform {

// Shared with the service's completion, which may outlive the geocoder.
struct CLGeocoder::State {
    uint64_t nextID = 1;
    uint64_t pendingID = 0;  // 0: idle
    Completion pending;
    GeocoderService::Cancel cancel;
};

namespace {

void deliverLater(CLGeocoder::Completion completion, std::optional<std::vector<CLPlacemark>> placemarks,
                  std::optional<Error> error) {
    DispatchQueue::main()->async([completion = std::move(completion), placemarks = std::move(placemarks),
                                  error = std::move(error)] { completion(placemarks, error); });
}

}  // namespace

CLGeocoder::CLGeocoder() : state_(std::make_shared<State>()) {}

CLGeocoder::~CLGeocoder() { cancelGeocode(); }

bool CLGeocoder::isGeocoding() const { return state_->pendingID != 0; }

void CLGeocoder::cancelGeocode() {
    if (state_->pendingID == 0) return;
    auto completion = std::move(state_->pending);
    auto cancel = std::move(state_->cancel);
    state_->pendingID = 0;
    if (cancel) cancel();
    deliverLater(std::move(completion), std::nullopt,
                 CLError::make(CLError::geocodeCanceled, "The geocoding request was cancelled"));
}

void CLGeocoder::geocodeAddressString(const std::string& text, std::optional<CLCircularRegion> region,
                                      Completion completion) {
    GeocoderService::Request request;
    request.kind = GeocoderService::Request::Kind::forward;
    request.text = text;
    request.region = std::move(region);
    begin(std::move(request), std::move(completion));
}

void CLGeocoder::reverseGeocodeLocation(const CLLocation& location, Completion completion) {
    GeocoderService::Request request;
    request.kind = GeocoderService::Request::Kind::reverse;
    request.coordinate = location.coordinate();
    begin(std::move(request), std::move(completion));
}

void CLGeocoder::begin(GeocoderService::Request request, Completion completion) {
    request.language = preferredGeocoderLanguage();
    if (state_->pendingID != 0) {
        deliverLater(std::move(completion), std::nullopt,
                     CLError::make(CLError::network, "The geocoder is busy with another request"));
        return;
    }
    const uint64_t id = state_->nextID++;
    state_->pendingID = id;
    state_->pending = std::move(completion);
    std::weak_ptr<State> weak = state_;
    auto cancel = GeocoderService::current()->start(
        std::move(request), [weak, id](std::optional<std::vector<CLPlacemark>> placemarks, std::optional<Error> error) {
            DispatchQueue::main()->async([weak, id, placemarks = std::move(placemarks), error = std::move(error)] {
                auto state = weak.lock();
                if (!state || state->pendingID != id) return;  // cancelled meanwhile
                auto done = std::move(state->pending);
                state->pendingID = 0;
                state->cancel = nullptr;
                if (error) {
                    done(std::nullopt, error);
                } else if (!placemarks || placemarks->empty()) {
                    done(std::nullopt, CLError::make(CLError::geocodeFoundNoResult, "The geocoder found no result"));
                } else {
                    done(placemarks, std::nullopt);
                }
            });
        });
    // The service may have finished already; the completion then waits on the main queue.
    if (state_->pendingID == id) state_->cancel = std::move(cancel);
}

}  // namespace platform
