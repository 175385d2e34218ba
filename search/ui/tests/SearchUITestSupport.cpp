#include "SearchUITestSupport.hpp"

#include <QApplication>
#include <QDir>
#include <QTest>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/location/CLLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace search_ui_test {

void ensureApplication() {
    tervolo::testsupport::sharedTestApplication("tervolo_search_ui_tests");
}

void saveScreenshot(const QImage& image, const QString& name) {
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

points::QuovaPlacemark place(const std::string& title, double latitude, double longitude,
                             const std::string& datasource, std::optional<std::string> imageUrl) {
    points::QuovaPlacemark result;
    result.title = title;
    result.address = title + " street 1, Town";
    result.datasource = datasource;
    result.latitude = latitude;
    result.longitude = longitude;
    result.uniqueID = "id-" + title;
    result.imageUrl = std::move(imageUrl);
    return result;
}

std::shared_ptr<points::QuovaMapPoint> storePoint(const std::string& title, double latitude, double longitude,
                                                  std::optional<std::string> subtitle) {
    auto& store = points::QuovaMapPointStore::shared();
    auto point = points::QuovaMapPoint::make(title);
    point->setCoordinate({latitude, longitude});
    point->setSubtitle(std::move(subtitle));
    point->save(store);
    store.addPoint(point);
    return point;
}

void SearchControllerTest::SetUp() {
    ensureApplication();
    points::QuovaMapPointStore::resetSharedForTesting();
    geocoder_ = tervolo::testsupport::ScriptedGeocoderService::install();
    window_ = std::make_unique<QWidget>();
    window_->resize(800, 800);
    field_ = new platform::TextField(window_.get());
    field_->setGeometry(20, 20, 600, 60);
    table_ = new platform::TableView(window_.get());
    table_->setGeometry(20, 100, 600, 0);
    spinner_ = new platform::ActivityIndicator(platform::ActivityIndicator::Style::Medium, window_.get());
    spinner_->move(590, 40);  // inside the field's right end, as the map screen places it
    height_->setOnChange([this] { table_->resize(table_->width(), static_cast<int>(height_->constant())); });
}

void SearchControllerTest::TearDown() {
    platform::RunLoop::runUntilIdle();
    controller_.reset();
    window_.reset();
    tervolo::testsupport::ScriptedGeocoderService::uninstall();
    platform::RunLoop::runUntilIdle();
}

void SearchControllerTest::makeController(bool withHost) {
    search::QuovaLocationSearchController::Dependencies dependencies;
    dependencies.makeBackendSearch = [this]() -> std::shared_ptr<search::BackendSearch> {
        if (realBackend_) return realBackend_;
        return backend_;
    };
    dependencies.bestKnownLocation = [this] { return bestKnown_; };
    controller_ = search::QuovaLocationSearchController::make(dependencies);
    field_->setDelegate(controller_);
    controller_->setSearchBar(field_);
    controller_->setTableView(table_);
    controller_->setSpinner(spinner_);
    controller_->setSearchTableHeight(height_);
    if (withHost) {
        host_->rootView = window_.get();
        controller_->setParent(host_);
    }
    window_->show();
    controller_->textFieldDidBeginEditing(*field_);
}

void SearchControllerTest::type(const QString& text) {
    for (QChar c : text) {
        if (c == QLatin1Char('\b')) {
            QTest::keyClick(field_, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(field_, QString(c));
        }
    }
}

void SearchControllerTest::advance(double seconds) {
    environment_.advance(seconds);
    platform::RunLoop::runUntilIdle();
}

std::vector<std::string> SearchControllerTest::titles() const {
    std::vector<std::string> result;
    for (const auto& p : controller_->allResults()) result.push_back(p.title);
    return result;
}

}  // namespace search_ui_test
