#include "testsupport/location/ScriptedGeocoderService.hpp"

#include <atomic>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::testsupport {

std::shared_ptr<ScriptedGeocoderService> ScriptedGeocoderService::install() {
    auto service = std::make_shared<ScriptedGeocoderService>();
    platform::GeocoderService::setCurrentForTesting(service);
    return service;
}

void ScriptedGeocoderService::uninstall() { platform::GeocoderService::setCurrentForTesting(nullptr); }

std::string ScriptedGeocoderService::coordinateKey(platform::CLLocationCoordinate2D coordinate) {
    return platform::text::describe(coordinate.latitude) + "," + platform::text::describe(coordinate.longitude);
}

void ScriptedGeocoderService::answerText(const std::string& text, Answer answer) {
    std::lock_guard lock(mutex_);
    byText_[text] = std::move(answer);
}

void ScriptedGeocoderService::answerCoordinate(platform::CLLocationCoordinate2D coordinate, Answer answer) {
    std::lock_guard lock(mutex_);
    byCoordinate_[coordinateKey(coordinate)] = std::move(answer);
}

platform::GeocoderService::Cancel ScriptedGeocoderService::start(Request request, Completion completion) {
    Answer answer;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        const auto& table = request.kind == Request::Kind::forward ? byText_ : byCoordinate_;
        const auto key = request.kind == Request::Kind::forward ? request.text : coordinateKey(request.coordinate);
        if (auto it = table.find(key); it != table.end()) answer = it->second;
    }
    static auto queue = platform::DispatchQueue::serial("testsupport.geocoder");
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    queue->asyncAfter(answer.delay, [answer, completion, cancelled] {
        if (cancelled->load()) return;
        if (answer.error) {
            completion(std::nullopt, answer.error);
        } else {
            completion(answer.placemarks, std::nullopt);
        }
    });
    std::weak_ptr<ScriptedGeocoderService> weak = weak_from_this();
    return [weak, cancelled] {
        cancelled->store(true);
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->mutex_);
            ++self->cancels_;
        }
    };
}

std::vector<platform::GeocoderService::Request> ScriptedGeocoderService::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int ScriptedGeocoderService::cancelCount() const {
    std::lock_guard lock(mutex_);
    return cancels_;
}

platform::CLPlacemark makePlacemark(const std::string& name, double latitude, double longitude,
                                    const std::string& street, const std::string& city, const std::string& country) {
    platform::CLPlacemark placemark;
    placemark.name = name;
    placemark.location = platform::CLLocation(latitude, longitude);
    if (!street.empty()) placemark.thoroughfare = street;
    if (!city.empty()) placemark.locality = city;
    if (!country.empty()) placemark.country = country;
    return placemark;
}

}  // namespace tervolo::testsupport
