// Writes the user causes on the point screens, over a data folder that
// cannot be written: each is told in an alert, and what the screen shows
// afterwards is what the files hold. Tests run as root, whom permissions do
// not stop: a plain file where the points or tags folder should be fails
// every write for anyone. Screenshots of each alert, light and dark.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "PointDetailsTestSupport.hpp"
#include "PointTableTestSupport.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/ColorPickerViewController.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "testsupport/UnwritableFolder.hpp"

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::points::QuovaPointTagStore;
using tervolo::pointscreens::PointDetailsViewController;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using tervolo::testsupport::UnwritableFolder;

std::string writeFailureFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void saveAlertShots(QWidget& window, const QString& name) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? pointscreens_test::pointDetailsDarkPalette() : QPalette());
        QCoreApplication::processEvents();
        const QString shot = QStringLiteral("write-failure-%1-%2").arg(name, dark ? QStringLiteral("dark") : QStringLiteral("light"));
        pointscreens_test::saveScreenshot(pointscreens_test::grab(window, 1), shot);
        pointscreens_test::saveScreenshot(pointscreens_test::grab(window, 2), shot + QStringLiteral("@2x"));
    }
    QApplication::setPalette(QPalette());
    QCoreApplication::processEvents();
}

// --- the point list ------------------------------------------------------------------

class ListWriteFailureTest : public pointscreens_test::PointTableScreenTest {
  protected:
    std::string pointsFolder() { return environment_.folder().path() + "/data/TervoloNG/points"; }
    std::string fileOf(const QuovaMapPoint& point) {
        return writeFailureFileText(pointsFolder() + "/" + *point.uuid() + QuovaMapPoint::kFileExtension);
    }
    // The Delete key on the row of `point`, as a user removes a row.
    void pressDeleteOn(const std::shared_ptr<QuovaMapPoint>& point) {
        auto* table = list_->tableView();
        const auto path = list_->content().indexPathOfPoint(point);
        ASSERT_TRUE(path.has_value());
        table->selectRow(*path);
        table->setFocus();
        // Delete asks first: the row's Delete menu, confirmed with Return.
        QTest::keyClick(table, Qt::Key_Delete);
        auto* confirmation = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(confirmation, nullptr);
        QTest::keyClick(confirmation, Qt::Key_Return);
        settle();
    }
};

TEST_F(ListWriteFailureTest, DeleteAndHideThatWriteNothingKeepTheRowAndSayWhy) {
    auto alpha = addPoint("Alpha");
    auto bravo = addPoint("Bravo");
    auto gone = addPoint("Gone", 60.0, 25.0, true);
    struct Case {
        const char* name;
        std::shared_ptr<QuovaMapPoint> point;
        const char* outcome;
    };
    const Case cases[] = {
        {"delete", alpha, "The location is kept."},
        {"hide", gone, "It stays among the deleted locations."},
    };
    open();
    using Rows = std::vector<std::vector<std::string>>;
    const Rows rows{{"Alpha"}, {"Bravo"}, {"Gone"}};
    ASSERT_EQ(contentRows(), rows);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string file = fileOf(*test.point);
        const auto deletedAt = test.point->deletedAt();
        platform::PresentationRecorder recorder;
        {
            UnwritableFolder unwritable(pointsFolder());
            pressDeleteOn(test.point);
            auto alert = recorder.topAlert();
            ASSERT_NE(alert, nullptr);
            EXPECT_EQ(alert->title(), "Location Not Deleted");
            EXPECT_THAT(alert->message(), HasSubstr("The locations folder cannot be written to"));
            EXPECT_THAT(alert->message(), HasSubstr(test.outcome));
            EXPECT_EQ(recorder.actionTitles(), std::vector<std::string>{"OK"});
            if (test.point == alpha) saveAlertShots(*window_, QStringLiteral("list-delete"));
            EXPECT_TRUE(recorder.chooseAction("OK"));
            settle();
        }
        // The list, the point and its file are as they were.
        EXPECT_EQ(contentRows(), rows);
        EXPECT_EQ(shownHeaders(), (std::vector<std::string>{"A", "B", "Deleted Points"}));
        EXPECT_EQ(test.point->deletedAt(), deletedAt);
        EXPECT_FALSE(test.point->hiddenAt().has_value());
        EXPECT_EQ(fileOf(*test.point), file);
    }
    (void)bravo;
}

TEST_F(ListWriteFailureTest, UndeleteThatWritesNothingKeepsThePointDeletedAndTheListOpen) {
    auto gone = addPoint("Gone", 60.0, 25.0, true);
    open();
    const std::string file = fileOf(*gone);
    const auto deletedAt = gone->deletedAt();
    platform::PresentationRecorder recorder;
    UnwritableFolder unwritable(pointsFolder());
    list_->didSelectRow(*list_->tableView(), *list_->content().indexPathOfPoint(gone));
    settle();
    ASSERT_TRUE(recorder.chooseAction("Undelete"));
    settle();
    auto alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Location Not Undeleted");
    EXPECT_THAT(alert->message(), HasSubstr("It stays among the deleted locations."));
    saveAlertShots(*window_, QStringLiteral("list-undelete"));
    EXPECT_TRUE(recorder.chooseAction("OK"));
    settle();
    EXPECT_EQ(gone->deletedAt(), deletedAt);
    EXPECT_TRUE(map_->calls.empty());
    EXPECT_EQ(presenter_->presentedViewController(), navigation_);
    EXPECT_EQ(contentRows(), (std::vector<std::vector<std::string>>{{"Gone"}}));
    EXPECT_EQ(
        writeFailureFileText(pointsFolder() + ".aside/" + *gone->uuid() + QuovaMapPoint::kFileExtension),
        file);
}

// --- the details screen ----------------------------------------------------------------

class DetailsWriteFailureTest : public pointscreens_test::PointDetailsTest {
  protected:
    std::string tagsFolder() const { return documents() + "/tags"; }
    std::shared_ptr<QuovaMapPoint> taggedPoint(const std::string& title, std::vector<std::string> tags) {
        auto point = savedPoint(title);
        point->setTags(std::move(tags));
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }
    bool screenIsShown() const { return host_->presentedViewController() != nullptr; }
    // The popup's card moves on the virtual clock.
    void finishTransitions() {
        for (int i = 0; i < 4; ++i) {
            environment_.advance(0.5);
            settle();
        }
    }
    std::string tagFile(const std::string& uuid) const {
        return writeFailureFileText(tagsFolder() + "/" + uuid + ".QuovaPointTag");
    }
};

TEST_F(DetailsWriteFailureTest, TrashThatWritesNothingKeepsThePointItsCircleAndTheScreen) {
    auto point = savedPoint("Kauppatori", "Harbour");
    point->setAlarmCircleDiameter(250.0);
    ASSERT_TRUE(point->save(QuovaMapPointStore::shared()).ok());
    QuovaMapPointStore::shared().addPoint(point);
    mainMap_->addAnnotation(point);
    auto screen = present(point);
    const std::string file = fileText(*point);
    platform::PresentationRecorder recorder;
    {
        UnwritableFolder unwritable(documents() + "/points");
        screen->trashButtonItem()->trigger();
        settle();
        auto alert = recorder.topAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "Location Not Deleted");
        EXPECT_THAT(alert->message(), HasSubstr("The location is kept."));
        saveAlertShots(*window_, QStringLiteral("details-trash"));
        EXPECT_TRUE(recorder.chooseAction("OK"));
        settle();
    }
    EXPECT_TRUE(screenIsShown());
    EXPECT_FALSE(point->deletedAt().has_value());
    EXPECT_NE(mainMap_->haloForPoint(point), nullptr);
    EXPECT_EQ(fileText(*point), file);
    EXPECT_THAT(QuovaMapPointStore::shared().validPointsWithFilter(std::nullopt), ::testing::Contains(point));
}

TEST_F(DetailsWriteFailureTest, RecolouringThatWritesNothingKeepsTheColourOnChipsPinsAndFile) {
    auto bar = storedTag("Bar", "bar-1", "0,122,255");
    auto point = taggedPoint("Kallio", {"bar-1"});
    auto screen = present(point);
    const std::string file = tagFile("bar-1");
    auto* chip = screen->tagFlowView()->allTags().at(0);
    const QColor chipColour = chip->tagBackgroundColor();
    mainMap_->added.clear();
    platform::PresentationRecorder recorder;
    {
        UnwritableFolder unwritable(tagsFolder());
        screen->tagPressed(chip->title(), chip, screen->tagFlowView());
        finishTransitions();
        auto popup = screen->colorPickerPopupController();
        ASSERT_NE(popup, nullptr);
        auto picker =
            std::dynamic_pointer_cast<platform::ColorPickerViewController>(popup->topViewController());
        ASSERT_NE(picker, nullptr);
        picker->colorDialog()->setCurrentColor(QColor(0, 255, 0));
        settle();
        picker->navigationItem().rightBarButtonItem()->trigger();
        finishTransitions();
        auto alert = recorder.topAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "Tag Colour Not Saved");
        EXPECT_THAT(alert->message(), HasSubstr("The tags folder cannot be written to"));
        EXPECT_THAT(alert->message(), HasSubstr("The tag keeps its colour."));
        saveAlertShots(*window_, QStringLiteral("details-recolour"));
        EXPECT_TRUE(recorder.chooseAction("OK"));
        settle();
    }
    EXPECT_EQ(bar->colorString(), "0,122,255");
    EXPECT_EQ(chip->tagBackgroundColor(), chipColour);
    EXPECT_THAT(mainMap_->added, IsEmpty());
    EXPECT_EQ(tagFile("bar-1"), file);
    EXPECT_EQ(screen->colorPickerPopupController(), nullptr);
}

TEST_F(DetailsWriteFailureTest, TagDeletionAndNewTagThatWriteNothingChangeNothing) {
    auto bar = storedTag("Bar", "bar-1");
    auto carrier = taggedPoint("Carrier", {"bar-1"});
    const std::string carrierFile = fileText(*carrier);
    auto screen = present(taggedPoint("Screen", {}));
    QTest::mouseClick(screen->addTagButton(), Qt::LeftButton);
    settle();
    platform::PresentationRecorder recorder;
    UnwritableFolder unwritable(tagsFolder());

    // Deleting "Bar" from its row in the tag table.
    platform::TableView* table = screen->tagTableView();
    table->layoutRows();
    auto* cell = table->cellForRow({0, 0});
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(cell->findChild<QPushButton*>("tagRowDeleteButton"), Qt::LeftButton);
    settle();
    ASSERT_TRUE(recorder.chooseAction("Delete Tag"));
    settle();
    auto alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Tag Not Deleted");
    EXPECT_THAT(alert->message(), HasSubstr("The tag stays on its locations."));
    saveAlertShots(*window_, QStringLiteral("details-tag-delete"));
    EXPECT_TRUE(recorder.chooseAction("OK"));
    settle();
    EXPECT_FALSE(bar->deletedAt().has_value());
    EXPECT_EQ(QuovaPointTagStore::shared().tagWithTitle("Bar"), bar);
    EXPECT_EQ(carrier->tags(), std::vector<std::string>{"bar-1"});
    EXPECT_EQ(fileText(*carrier), carrierFile);
    environment_.advance(0.1);
    settle();
    EXPECT_EQ(screen->tagTableView()->numberOfRows(0), 1);

    // A new tag typed and entered: no tag file, so no chip and no edit.
    platform::TextField* field = screen->editTagTextField();
    field->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(field, "Harbour");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Tag Not Saved");
    EXPECT_THAT(alert->message(), HasSubstr("The tag was not added."));
    saveAlertShots(*window_, QStringLiteral("details-new-tag"));
    EXPECT_TRUE(recorder.chooseAction("OK"));
    settle();
    EXPECT_EQ(QuovaPointTagStore::shared().tagWithTitle("Harbour"), nullptr);
    EXPECT_TRUE(screen->tagFlowView()->allTagTitles().empty());
    EXPECT_FALSE(screen->pointHasBeenEdited());
}

}  // namespace
