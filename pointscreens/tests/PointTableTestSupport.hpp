#pragma once

#include <QApplication>
#include <QCoreApplication>

#include <memory>
#include <string>
#include <vector>

#include "mapscreen/MainMapPort.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"
#include "pointscreens/tests/PointScreensTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"

namespace pointscreens_test {

// The map screen as the point list sees it: a map model, and a record of what
// the list asked of it.
class RecordingListMap : public tervolo::mapscreen::MainMapPort {
  public:
    platform::MKMapViewModel* mainMapView() const override { return &map_; }
    std::shared_ptr<platform::MKOverlay> haloForPoint(
        const std::shared_ptr<tervolo::points::QuovaMapPoint>&) const override {
        return nullptr;
    }
    void addAnnotation(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        calls.push_back("addAnnotation " + point->title().value_or(""));
    }
    void addPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        calls.push_back("addPoint " + point->title().value_or(""));
    }
    void zoomInOnPoint(const std::shared_ptr<tervolo::points::QuovaMapPoint>& point) override {
        calls.push_back("zoomInOnPoint " + point->title().value_or(""));
    }
    std::vector<std::string> calls;

  private:
    mutable platform::MKMapViewModel map_;
};

class Presenter : public platform::ViewController {};

// A window whose root presents the point list in a navigation controller, as
// the map screen does, over private documents and preferences and a virtual
// clock; animations are immediate.
class PointTableScreenTest : public ApplicationTest {
  protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        platform::UserDefaults::standard().reload();
        tervolo::points::QuovaMapPointStore::resetSharedForTesting();
        tervolo::points::QuovaPointTagStore::resetSharedForTesting();
        tervolo::points::setBestKnownLocationProvider([this] { return location_; });
        tervolo::points::QuovaPointTagStore::shared().replaceTagsForTesting(
            std::vector<std::shared_ptr<tervolo::points::QuovaPointTag>>{});
    }
    void TearDown() override {
        tervolo::points::setBestKnownLocationProvider(nullptr);
        list_.reset();
        navigation_.reset();
        window_.reset();
        presenter_.reset();
        ApplicationTest::TearDown();
    }

    std::shared_ptr<tervolo::points::QuovaMapPoint> addPoint(const std::string& title, double latitude = 60.0,
                                                             double longitude = 25.0, bool deleted = false) {
        auto point = tervolo::points::QuovaMapPoint::make(title);
        point->setSubtitle("Street " + title);
        point->setCoordinate({latitude, longitude});
        tervolo::points::QuovaMapPointStore::shared().addPoint(point);
        if (deleted) tervolo::points::QuovaMapPointStore::shared().deletePoint(point);
        return point;
    }

    void open(QSize size = QSize(420, 640)) {
        window_ = std::make_unique<platform::MainWindow>();
        window_->resize(size);
        presenter_ = std::make_shared<Presenter>();
        window_->setRootViewController(presenter_);
        window_->show();
        list_ = std::make_shared<tervolo::pointscreens::PointTableViewController>();
        list_->setMainViewController(map_);
        navigation_ = std::make_shared<platform::NavigationController>(list_);
        presenter_->present(navigation_, true);
        settle();
    }

    void settle() {
        for (int i = 0; i < 3; ++i) {
            environment_.advance(1.0);
            platform::RunLoop::runUntilIdle();
            QCoreApplication::processEvents();
        }
        if (list_ && list_->tableView()) list_->tableView()->layoutRows();
    }

    void postFix(double latitude, double longitude) {
        location_ = platform::CLLocation(latitude, longitude);
        platform::NotificationCenter::defaultCenter().post(
            "QuovaLocationUpdate", nullptr,
            platform::NotificationCenter::UserInfo{{"CLLocation", *location_}});
        settle();
    }

    // Section titles as the table shows them, and each section's row titles.
    std::vector<std::string> shownHeaders() {
        std::vector<std::string> out;
        auto* table = list_->tableView();
        for (int s = 0; s < table->numberOfSections(); ++s)
            out.push_back(list_->titleForHeader(*table, s).toStdString());
        return out;
    }
    // The titles the table's cells show, section by section (every row scrolled into view in turn).
    std::vector<std::vector<std::string>> shownRows() {
        std::vector<std::vector<std::string>> out;
        auto* table = list_->tableView();
        for (int s = 0; s < table->numberOfSections(); ++s) {
            out.emplace_back();
            for (int r = 0; r < table->numberOfRows(s); ++r) {
                table->scrollToRow({s, r}, platform::TableView::ScrollPosition::None);
                table->layoutRows();
                auto* cell =
                    static_cast<tervolo::pointscreens::QuovaMapPointCell*>(table->cellForRow({s, r}));
                out.back().push_back(cell && cell->quovaPoint() ? cell->quovaPoint()->title().value_or("")
                                                                : std::string("(no cell)"));
            }
        }
        return out;
    }
    std::vector<std::vector<std::string>> contentRows() const {
        std::vector<std::vector<std::string>> out;
        for (const auto& header : list_->content().sectionsHeaders()) {
            out.emplace_back();
            for (const auto& point : list_->content().sectionValues().at(header))
                out.back().push_back(point->title().value_or(""));
        }
        return out;
    }

    tervolo::testsupport::TestEnvironment environment_;
    platform::ImmediateAnimationsScope immediate_;
    std::optional<platform::CLLocation> location_;
    std::shared_ptr<RecordingListMap> map_ = std::make_shared<RecordingListMap>();
    std::unique_ptr<platform::MainWindow> window_;
    std::shared_ptr<Presenter> presenter_;
    std::shared_ptr<platform::NavigationController> navigation_;
    std::shared_ptr<tervolo::pointscreens::PointTableViewController> list_;
};

}  // namespace pointscreens_test
