#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ActivityIndicator.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TextField.hpp"
#include "points/QuovaMapPoint.hpp"
#include "search/ui/BackendSearch.hpp"
#include "search/ui/QuovaLocationSearchController.hpp"
#include "search/ui/SearchMapHost.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/location/ScriptedGeocoderService.hpp"

namespace search_ui_test {

namespace search = tervolo::search;
namespace points = tervolo::points;

// The one QApplication of the test binary (made on first use, never destroyed).
void ensureApplication();
// Saves `image` as <build>/screenshots/search/<name>.png for a person to look at.
void saveScreenshot(const QImage& image, const QString& name);

// A backend search that records each start and answers when the test says.
class FakeBackendSearch : public search::BackendSearch {
  public:
    struct Start {
        std::string text;
        platform::CLLocationCoordinate2D mapCenter;
        platform::CLLocationCoordinate2D userLocation;
    };
    bool isSearching() const override { return static_cast<bool>(handler_); }
    void cancel() override {
        ++cancels;
        handler_ = nullptr;
    }
    void geocodeAddressString(std::string text, platform::CLLocationCoordinate2D mapCenter,
                              platform::CLLocationCoordinate2D userLocation,
                              search::QuovaForwardGeocoder::CompletionHandler handler) override {
        starts.push_back({std::move(text), mapCenter, userLocation});
        handler_ = std::move(handler);
    }
    // Calls the running search's handler; the search ends with `done`.
    void reply(std::optional<std::vector<points::QuovaPlacemark>> places, bool done,
               std::optional<platform::Error> error = std::nullopt) {
        auto handler = handler_;
        if (done) handler_ = nullptr;
        if (handler) handler(std::move(places), done, std::move(error));
    }

    std::vector<Start> starts;
    int cancels = 0;

  private:
    search::QuovaForwardGeocoder::CompletionHandler handler_;
};

// The map screen as the search sees it: a centre the test sets, the point
// operations recorded in order ("addPoint <title>", "zoomInOnPoint <title>",
// "selectPoint <title>", "pointNotSaved"), and a view of its own.
class FakeMapHost : public search::SearchMapHost {
  public:
    std::optional<platform::CLLocationCoordinate2D> mapCenter() const override { return center; }
    void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        calls.push_back("addPoint " + point->title().value_or(""));
    }
    void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        calls.push_back("zoomInOnPoint " + point->title().value_or(""));
    }
    void selectPoint(const std::shared_ptr<points::QuovaMapPoint>& point) override {
        calls.push_back("selectPoint " + point->title().value_or(""));
    }
    void pointNotSaved(const platform::Error&) override { calls.push_back("pointNotSaved"); }
    QWidget* view() const override { return rootView; }

    std::optional<platform::CLLocationCoordinate2D> center;
    std::vector<std::string> calls;
    QWidget* rootView = nullptr;
};

// A result place.
points::QuovaPlacemark place(const std::string& title, double latitude, double longitude,
                             const std::string& datasource = "backend",
                             std::optional<std::string> imageUrl = std::nullopt);
// A stored (saved and added) point of the shared store.
std::shared_ptr<points::QuovaMapPoint> storePoint(const std::string& title, double latitude, double longitude,
                                                  std::optional<std::string> subtitle = std::nullopt);

// A search controller over a window holding a search field, a result table,
// a spinner and the table's height constraint, as the map screen hands them
// over: a scripted platform geocoder, a fake backend and a fake map screen.
// Private folders, a virtual clock and a fresh point store.
class SearchControllerTest : public ::testing::Test {
  public:
    void SetUp() override;
    void TearDown() override;

    // Makes the controller and begins editing (the table gets its source).
    void makeController(bool withHost = true);
    // Types `text` key by key with QTest, as a person does.
    void type(const QString& text);
    // Lets virtual time pass, running due timers and the main queue.
    void advance(double seconds);
    std::vector<std::string> titles() const;

    tervolo::testsupport::TestEnvironment environment_;
    std::shared_ptr<tervolo::testsupport::ScriptedGeocoderService> geocoder_;
    std::shared_ptr<FakeBackendSearch> backend_ = std::make_shared<FakeBackendSearch>();
    // When set, the controller searches the backend through this one instead.
    std::shared_ptr<search::BackendSearch> realBackend_;
    std::shared_ptr<FakeMapHost> host_ = std::make_shared<FakeMapHost>();
    std::optional<platform::CLLocation> bestKnown_;
    std::unique_ptr<QWidget> window_;
    platform::TextField* field_ = nullptr;
    platform::TableView* table_ = nullptr;
    platform::ActivityIndicator* spinner_ = nullptr;
    std::shared_ptr<platform::LayoutConstraint> height_ =
        std::make_shared<platform::LayoutConstraint>(QStringLiteral("searchTableHeight"), 0);
    std::shared_ptr<search::QuovaLocationSearchController> controller_;
};

}  // namespace search_ui_test
