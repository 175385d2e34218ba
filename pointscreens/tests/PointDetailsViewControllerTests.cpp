// The point details screen: loading, the coordinate label, editing by
// keyboard, saving and cancelling, a save that writes nothing, and its layout
// on resize.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>

#include <filesystem>
#include <limits>

#include "PointDetailsTestSupport.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "pointscreens/PointDetailsContent.hpp"

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaPointTagStore;
using tervolo::pointscreens::PointDetailsViewController;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class DetailsScreenTest : public pointscreens_test::PointDetailsTest {
  protected:
    static std::vector<std::string> chipTitles(const PointDetailsViewController& screen) {
        std::vector<std::string> titles;
        for (const QString& title : screen.tagFlowView()->allTagTitles())
            titles.push_back(title.toStdString());
        return titles;
    }
    static std::string rightTitle(PointDetailsViewController& screen) {
        auto item = screen.navigationItem().rightBarButtonItem();
        return item ? item->title() : "";
    }
    static std::string leftTitle(PointDetailsViewController& screen) {
        auto item = screen.navigationItem().leftBarButtonItem();
        return item ? item->title() : "";
    }
    // Presses the navigation bar's right or left button.
    static void press(const std::shared_ptr<platform::BarButtonItem>& item) {
        ASSERT_NE(item, nullptr);
        item->trigger();
        settle();
    }
    bool screenIsShown() const { return host_->presentedViewController() != nullptr; }
};

TEST_F(DetailsScreenTest, LoadingFillsTheViewsInTheViewingState) {
    auto work = storedTag("Work", "aaaa-1111", "0,128,255");
    storedTag("Beach", "bbbb-2222", "FF8800");
    auto point = savedPoint("Kauppatori", "Market square by the harbour");
    point->setTags(std::vector<std::string>{"BBBB-2222", "gone-9", "aaaa-1111"});
    point->setAlarmCircleDiameter(250.0);
    point->setDataSourceName("Yelp");
    point->setDataSourceURL("https://www.yelp.com/biz/kauppatori");
    auto screen = present(point);

    EXPECT_EQ(screen->titleView()->text(), "Kauppatori");
    EXPECT_EQ(screen->subtitleView()->text(), "Market square by the harbour");
    EXPECT_EQ(screen->titleView()->returnKeyType(), platform::ReturnKeyType::Done);
    EXPECT_EQ(screen->title(), "Point Details");
    EXPECT_EQ(rightTitle(*screen), "Done");
    EXPECT_EQ(screen->navigationItem().leftBarButtonItem(), nullptr);
    EXPECT_FALSE(screen->pointHasBeenEdited());
    EXPECT_EQ(screen->radiusButton()->title(), "Radius");
    EXPECT_EQ(screen->directionsButton()->title(), "Directions");
    EXPECT_EQ(screen->copyCoordinatesButton()->text(), "Copy ...");
    EXPECT_THAT(screen->coordinateLabel()->text().toStdString(), HasSubstr("60.1675"));

    // Chips found without letter case, in the point's order, each with its identifier.
    EXPECT_THAT(chipTitles(*screen), ElementsAre("Beach", "Work"));
    EXPECT_EQ(screen->chipIdentifiers(), (std::vector<std::string>{"bbbb-2222", "aaaa-1111"}));
    EXPECT_THAT(screen->unresolvedTagIdentifiers(), ElementsAre("gone-9"));
    EXPECT_FALSE(screen->tagFlowView()->isHidden());
    EXPECT_TRUE(screen->addTagInfoLabel()->isHidden());
    EXPECT_FALSE(screen->tagListContainerHeight()->isActive());
    EXPECT_TRUE(screen->editTagStackView()->isHidden());

    // The circle on the small map, drawn red at a quarter opacity; the point
    // itself is unedited by loading its own radius.
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_EQ(screen->halo()->radius(), 250.0);
    EXPECT_EQ(screen->newRadius(), 250.0);
    EXPECT_THAT(screen->map()->overlays(), ElementsAre(screen->halo()));
    EXPECT_EQ(screen->map()->annotationCount(), 1u);
    auto renderer = std::dynamic_pointer_cast<platform::MKCircleRenderer>(
        screen->map()->rendererForOverlay(std::static_pointer_cast<platform::MKOverlay>(screen->halo())));
    ASSERT_NE(renderer, nullptr);
    ASSERT_TRUE(renderer->fillColor());
    EXPECT_DOUBLE_EQ(renderer->fillColor()->components().alpha, 0.25);
    EXPECT_DOUBLE_EQ(renderer->fillColor()->components().red, 1.0);
    EXPECT_FALSE(renderer->strokeColor());

    // The source row with its logo and page.
    EXPECT_FALSE(screen->sourceInfoView()->isHidden());
    EXPECT_EQ(screen->linkLabel()->text(), "Found on");
    EXPECT_EQ(screen->seePageButton()->text(), "Yelp ...");
    EXPECT_EQ(screen->seePageButton()->urlToOpen(), "https://www.yelp.com/biz/kauppatori");
    EXPECT_FALSE(screen->logoView()->image().isNull());
    EXPECT_THAT(screen->pointInfoTextView()->text().toStdString(), HasSubstr("Location first saved at "));
    (void)work;
}

TEST_F(DetailsScreenTest, PointsWithoutTagsOrCircleCollapseTheChipsAndDrawNothing) {
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> tags;
        std::optional<double> radius;
    };
    const Case cases[] = {
        {"no list, no radius", std::nullopt, std::nullopt},
        {"empty list, radius 0", std::vector<std::string>{}, 0.0},
        {"an identifier without tag, infinite radius", std::vector<std::string>{"gone-9"},
         std::numeric_limits<double>::infinity()},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = savedPoint("Plain");
        point->setTags(test.tags);
        point->setAlarmCircleDiameter(test.radius);
        auto screen = present(point);
        EXPECT_EQ(screen->halo(), nullptr);
        EXPECT_TRUE(screen->map()->overlays().empty());
        EXPECT_FALSE(screen->pointHasBeenEdited());
        EXPECT_EQ(screen->title(), "Point Details");
        EXPECT_TRUE(screen->sourceInfoView()->isHidden());
        if (!test.tags || test.tags->empty()) {
            EXPECT_TRUE(screen->tagFlowView()->isHidden());
            EXPECT_FALSE(screen->addTagInfoLabel()->isHidden());
            EXPECT_EQ(screen->addTagInfoLabel()->text(), "Add tags to change pin color & group pins");
            EXPECT_TRUE(screen->tagListContainerHeight()->isActive());
            EXPECT_EQ(screen->tagListContainerHeight()->constant(), 0.0);
        }
        EXPECT_TRUE(screen->tagFlowView()->allTags().empty());
    }
}

TEST_F(DetailsScreenTest, ClicksOnTheCoordinateCycleItsFormatAndStoreIt) {
    platform::UserDefaults::standard().set("coordinateFormat", platform::PropertyValue(std::string("x")));
    auto screen = present(savedPoint("Kauppatori"));
    EXPECT_EQ(screen->coordinateFormat(), 2);
    const int64_t expected[] = {3, 4, 5, 1, 2};
    int click = 0;
    for (int64_t format : expected) {
        SCOPED_TRACE(++click);
        QTest::mouseClick(screen->coordinateLabel(), Qt::LeftButton);
        settle();
        EXPECT_EQ(screen->coordinateFormat(), format);
        EXPECT_EQ(platform::UserDefaults::standard().integerValue("coordinateFormat"), format);
        const std::string text = screen->coordinateLabel()->text().toStdString();
        EXPECT_EQ(text.ends_with(" (UTM)"), click == 2);
        EXPECT_EQ(text.ends_with(" (MGRS)"), click == 3);
    }
}

TEST_F(DetailsScreenTest, TypingReturnEndsEditingAndAPastedLineFeedStays) {
    auto screen = present(savedPoint("Kauppatori"));
    platform::TextView* title = screen->titleView();
    type(title, QStringLiteral("!"));
    settle();
    EXPECT_TRUE(title->isEditing());
    EXPECT_FALSE(screen->clearTitleButton()->isHidden());
    EXPECT_TRUE(screen->pointHasBeenEdited());
    EXPECT_EQ(screen->title(), "Edit Point Details");
    EXPECT_EQ(rightTitle(*screen), "Save");
    EXPECT_EQ(leftTitle(*screen), "Cancel");

    QTest::keyClick(title, Qt::Key_Return);
    settle();
    EXPECT_EQ(title->text(), "Kauppatori!");
    EXPECT_FALSE(title->isEditing());
    EXPECT_TRUE(screen->clearTitleButton()->isHidden());

    QApplication::clipboard()->setText(QStringLiteral("Pier 3\nGate B"));
    screen->subtitleView()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(screen->subtitleView(), Qt::Key_V, Qt::ControlModifier);
    settle();
    EXPECT_EQ(screen->subtitleView()->text(), "Pier 3\nGate B");
    EXPECT_EQ(screen->subtitleHeight()->constant(),
              screen->subtitleView()->heightThatFits(
                  tervolo::pointscreens::textMeasureWidth(screen->view()->width(), false, 20.0)));
    EXPECT_EQ(screen->clearTitleButtonTopDistance()->constant(),
              (screen->titleHeight()->constant() - 20) * 0.5);
}

// A title of many kilobytes (with a pasted line feed in it) is kept whole: its view is held to a
// third of the screen and scrolls, the rows below stay on screen, it opens at the title's start, the
// user reaches its end and types there, and the save writes the whole text with the edit, to the
// point and its file.
TEST_F(DetailsScreenTest, AVeryLongTitleScrollsInItsRowAndIsSavedWhole) {
    std::string longTitle;
    const char* const words[] = {"Harbour ", "market ", "square ", "by the ", "old ", "ferry ", "gate "};
    for (size_t i = 0; longTitle.size() < 40 * 1024; ++i) longTitle += words[(i * 3) % 7];
    longTitle.insert(20 * 1024, "\n");
    auto point = savedPoint(longTitle, std::string("Harbour"));
    auto screen = present(point);
    platform::TextView* title = screen->titleView();
    ASSERT_EQ(title->text().toStdString(), longTitle);
    const auto measuredWidth = [&] {
        return tervolo::pointscreens::textMeasureWidth(screen->view()->width(), false, 20.0);
    };
    const double limit = tervolo::pointscreens::textRowHeightLimit(screen->view()->height());
    // Held to the lines that fit in the limit, far below what the whole text needs, with a bar to
    // scroll the rest by.
    ASSERT_EQ(title->width(), static_cast<int>(measuredWidth()));
    EXPECT_GT(title->heightThatFits(measuredWidth()), 10 * limit);
    const double held = screen->titleHeight()->constant();
    EXPECT_EQ(held, title->heightFitting(measuredWidth(), limit).height);
    EXPECT_LE(held, limit);
    EXPECT_GT(held, limit - 2 * QFontMetricsF(title->font()).lineSpacing());
    EXPECT_EQ(title->height(), static_cast<int>(std::ceil(held)));
    EXPECT_TRUE(title->verticalScrollBar()->isVisible());
    EXPECT_GT(title->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(screen->clearTitleButtonTopDistance()->constant(), (held - 20) * 0.5);
    // The view opens ending at a line's end, and scrolled to the end it shows the last line whole
    // (between, it scrolls by lines from a top without the text's margin, as scrolled text does).
    const auto lastLineShowsWhole = [&] {
        const QRect viewport = title->viewport()->rect();
        const QRect last = title->cursorRect(title->cursorForPosition(QPoint(4, viewport.height() - 2)));
        return last.bottom() <= viewport.bottom();
    };
    EXPECT_TRUE(lastLineShowsWhole());
    // The title's start shows, and the rows below it are on screen.
    EXPECT_EQ(title->verticalScrollBar()->value(), 0);
    EXPECT_EQ(title->cursorForPosition(QPoint(4, 4)).position(), 0);
    for (QWidget* below : std::initializer_list<QWidget*>{screen->subtitleView(), screen->coordinateLabel(),
                                                          screen->map(), screen->pointInfoTextView()}) {
        const QRect inView(below->mapTo(screen->view(), QPoint(0, 0)), below->size());
        EXPECT_TRUE(screen->view()->rect().contains(inView)) << below->objectName().toStdString();
    }

    // Clicked into and sent to its end with the keyboard: the last line shows, and typing goes there.
    QTest::mousePress(title->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(title->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    settle();
    ASSERT_TRUE(title->hasFocus());
    QTest::keyClick(title, Qt::Key_End, Qt::ControlModifier);
    settle();
    EXPECT_GT(title->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(title->viewport()->rect().contains(title->cursorRect()));
    EXPECT_TRUE(lastLineShowsWhole());
    QTest::keyClicks(title, QStringLiteral(" and the island ferry pier"));
    settle();
    const std::string edited = longTitle + " and the island ferry pier";
    ASSERT_EQ(title->text().toStdString(), edited);
    EXPECT_EQ(screen->titleHeight()->constant(), held);
    EXPECT_TRUE(title->viewport()->rect().contains(title->cursorRect()));
    const QPoint lastLine(4, title->cursorRect().center().y());
    EXPECT_GT(title->cursorForPosition(lastLine).position(), static_cast<int>(edited.size()) - 120);

    press(screen->navigationItem().rightBarButtonItem());
    EXPECT_EQ(point->title(), edited);
    EXPECT_EQ(point->subtitle(), "Harbour");
    auto reread = QuovaMapPoint::initWithFilePath(pointsFolder() + *point->uuid() + ".QuovaMapPoint");
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->title(), edited);
}

TEST_F(DetailsScreenTest, TypedTagNameReusesAStoredTagInAnotherCaseAndTouchesNoPointBeforeSave) {
    auto beach = storedTag("beach", "bbbb-2222");
    auto point = savedPoint("Hietaniemi");
    const size_t storedTags = QuovaPointTagStore::shared().tags()->size();
    auto screen = present(point);
    QTest::mouseClick(screen->addTagButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(screen->editTagStackView()->isHidden());
    EXPECT_TRUE(screen->addTagButton()->isHidden());
    EXPECT_FALSE(screen->saveNewTagButton()->isEnabled());

    type(screen->editTagTextField(), QStringLiteral("Beach"));
    EXPECT_TRUE(screen->saveNewTagButton()->isEnabled());
    QTest::keyClick(screen->editTagTextField(), Qt::Key_Return);
    settle();

    EXPECT_THAT(chipTitles(*screen), ElementsAre("beach"));
    EXPECT_EQ(screen->chipIdentifiers(), (std::vector<std::string>{"bbbb-2222"}));
    EXPECT_EQ(QuovaPointTagStore::shared().tags()->size(), storedTags);  // no second tag
    EXPECT_EQ(screen->editTagTextField()->text(), "");
    EXPECT_TRUE(screen->editTagStackView()->isHidden());
    EXPECT_TRUE(screen->pointHasBeenEdited());
    EXPECT_EQ(point->tags(), std::vector<std::string>{});  // the shared point waits for "Save"
    EXPECT_THAT(log_->texts(), Contains("tag Beach exists already, tag UUID: bbbb-2222"));

    // The same name again changes nothing.
    log_->clear();
    screen->submitNewTag("beach");
    EXPECT_THAT(log_->texts(), Contains("Tag already in tagView, nothing to do."));
    EXPECT_EQ(screen->tagFlowView()->allTags().size(), 1u);
    screen->submitNewTag("");
    EXPECT_THAT(log_->texts(), Contains("not adding tag with length zero"));

    press(screen->navigationItem().rightBarButtonItem());
    EXPECT_EQ(point->tags(), std::vector<std::string>{"bbbb-2222"});
    (void)beach;
}

TEST_F(DetailsScreenTest, SavingWritesTheEditsPutsThePointBackAndSelectsIt) {
    storedTag("work", "aaaa-1111");
    storedTag("Beach", "bbbb-2222");
    struct Case {
        const char* name;
        std::function<void(PointDetailsViewController&)> edit;
        std::optional<std::string> title;
        std::optional<std::string> subtitle;
        bool handcrafted;
        std::vector<std::string> tags;
        std::optional<double> radius;
    };
    const Case cases[] = {
        {"subtitle only keeps the flag",
         [](PointDetailsViewController& s) { type(s.subtitleView(), QStringLiteral(" east")); },
         "Kauppatori",
         "Harbour east",
         false,
         {"gone-9"},
         std::nullopt},
        {"a new title sets the flag",
         [](PointDetailsViewController& s) { type(s.titleView(), QStringLiteral("!")); },
         "Kauppatori!",
         "Harbour",
         true,
         {"gone-9"},
         std::nullopt},
        {"the same title retyped does not",
         [](PointDetailsViewController& s) {
             type(s.titleView(), QStringLiteral("x"));
             QTest::keyClick(s.titleView(), Qt::Key_Backspace);
         },
         "Kauppatori",
         "Harbour",
         false,
         {"gone-9"},
         std::nullopt},
        {"chips Work and beach save both tags in chip order",
         [](PointDetailsViewController& s) {
             // Chips made without an identifier go by their title.
             s.tagFlowView()->addTag(QStringLiteral("Work"));
             s.tagFlowView()->addTag(QStringLiteral("beach"));
             type(s.subtitleView(), QStringLiteral("."));
         },
         "Kauppatori",
         "Harbour.",
         false,
         {"aaaa-1111", "bbbb-2222", "gone-9"},
         std::nullopt},
        {"a title left empty keeps the one the point has",
         [](PointDetailsViewController& s) {
             s.titleView()->setFocus();
             QTest::mouseClick(s.clearTitleButton(), Qt::LeftButton);
             type(s.subtitleView(), QStringLiteral("!"));
         },
         "Kauppatori",
         "Harbour!",
         false,
         {"gone-9"},
         std::nullopt},
        {"a blank title too",
         [](PointDetailsViewController& s) {
             s.titleView()->setFocus();
             QTest::mouseClick(s.clearTitleButton(), Qt::LeftButton);
             type(s.titleView(), QStringLiteral("   "));
         },
         "Kauppatori",
         "Harbour",
         false,
         {"gone-9"},
         std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = savedPoint("Kauppatori", "Harbour");
        point->setTags(std::vector<std::string>{"gone-9"});
        mainMap_->added.clear();
        auto screen = present(point);
        test.edit(*screen);
        settle();
        ASSERT_TRUE(screen->pointHasBeenEdited());
        log_->clear();
        press(screen->navigationItem().rightBarButtonItem());

        EXPECT_EQ(point->title(), test.title);
        EXPECT_EQ(point->subtitle(), test.subtitle);
        EXPECT_EQ(point->hasHandcraftedTitle(), test.handcrafted);
        EXPECT_EQ(point->tags(), test.tags);
        EXPECT_EQ(point->alarmCircleDiameter(), test.radius);  // an untouched absent radius stays absent
        auto reread = QuovaMapPoint::initWithFilePath(pointsFolder() + *point->uuid() + ".QuovaMapPoint");
        ASSERT_NE(reread, nullptr);
        EXPECT_EQ(reread->title(), test.title);
        EXPECT_EQ(reread->tags(), test.tags);
        EXPECT_FALSE(reread->alarmCircleDiameter().has_value());
        EXPECT_THAT(mainMap_->added, ElementsAre(point));
        EXPECT_TRUE(mainMap_->selected(point));
        EXPECT_FALSE(screenIsShown());
        EXPECT_THAT(log_->texts(), Contains("QuovaMapPointDetailsVC dismissed"));
    }
}

TEST_F(DetailsScreenTest, SavingReplacesTheMainMapsHaloWithTheNewRadius) {
    auto point = savedPoint("Kauppatori");
    point->setAlarmCircleDiameter(250.0);
    mainMap_->addAnnotation(point);
    auto oldHalo = mainMap_->haloForPoint(point);
    ASSERT_NE(oldHalo, nullptr);
    auto screen = present(point);
    screen->updateRadius(500.0);
    EXPECT_TRUE(screen->pointHasBeenEdited());
    EXPECT_EQ(screen->halo()->radius(), 500.0);
    EXPECT_EQ(screen->map()->overlays().size(), 1u);
    press(screen->navigationItem().rightBarButtonItem());
    EXPECT_EQ(point->alarmCircleDiameter(), 500.0);
    EXPECT_FALSE(mainMap_->map().containsOverlay(oldHalo.get()));
    ASSERT_NE(mainMap_->haloForPoint(point), nullptr);
    EXPECT_EQ(mainMap_->map().overlays().size(), 1u);
    EXPECT_EQ(mainMap_->map().annotationCount(), 1u);
}

TEST_F(DetailsScreenTest, DoneWithoutEditsAndCancelAfterEditsWriteNothing) {
    storedTag("Beach", "bbbb-2222");
    struct Case {
        const char* name;
        std::function<void(PointDetailsViewController&)> edit;
        bool left;  // Cancel; else Done
        const char* record;
    };
    const Case cases[] = {
        {"unedited Done", [](PointDetailsViewController&) {}, false, "QuovaMapPointDetailsVC dismissed"},
        {"Done after only clearing the title",
         [](PointDetailsViewController& s) {
             s.titleView()->setFocus();
             settle();
             QTest::mouseClick(s.clearTitleButton(), Qt::LeftButton);
             settle();
             EXPECT_TRUE(s.titleView()->text().isEmpty());
             EXPECT_FALSE(s.pointHasBeenEdited());
             EXPECT_EQ(rightTitle(s), "Done");
         },
         false, "QuovaMapPointDetailsVC dismissed"},
        {"Cancel after adding a tag and typing",
         [](PointDetailsViewController& s) {
             s.submitNewTag("Beach");
             s.submitNewTag("Brand new");
             type(s.titleView(), QStringLiteral("!"));
             s.updateRadius(1000.0);
         },
         true, "QuovaMapPointDetailsVC canceled, changes discarded"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = savedPoint("Kauppatori");
        environment_.advance(60);
        const std::string before = fileText(*point);
        const auto savedAt = point->lastSavedAt();
        mainMap_->added.clear();
        auto screen = present(point);
        test.edit(*screen);
        settle();
        log_->clear();
        press(test.left ? screen->navigationItem().leftBarButtonItem()
                        : screen->navigationItem().rightBarButtonItem());
        EXPECT_FALSE(screenIsShown());
        EXPECT_EQ(fileText(*point), before);
        EXPECT_EQ(point->lastSavedAt(), savedAt);
        EXPECT_EQ(point->tags(), std::vector<std::string>{});
        EXPECT_EQ(point->title(), "Kauppatori");
        EXPECT_FALSE(point->alarmCircleDiameter().has_value());
        EXPECT_THAT(mainMap_->added, IsEmpty());
        EXPECT_THAT(log_->texts(), Contains(test.record));
    }
}

// A save that writes nothing keeps the screen open, names the reason and
// leaves the shared point as its file is.
TEST_F(DetailsScreenTest, SaveThatWritesNothingKeepsTheEditOnScreen) {
    struct Case {
        const char* name;
        std::function<void(PointDetailsViewController&)> edit;
        const char* reason;
    };
    const Case cases[] = {
        {"a 1.1 MB note",
         [](PointDetailsViewController& s) {
             // 1.1 MB of short lines, as a long pasted note has.
             s.subtitleView()->setText(
                 QString(QString(99, QLatin1Char('n')) + QLatin1Char('\n')).repeated(11000));
             type(s.subtitleView(), QStringLiteral("!"));
         },
         "too large to be stored"},
        {"a points folder that cannot be written",
         [this](PointDetailsViewController& s) {
             // Tests run as root, whom permissions do not stop: a plain file
             // where the folder should be fails every write for anyone.
             std::filesystem::remove_all(documents() + "/points");
             std::ofstream(documents() + "/points") << "";
             type(s.titleView(), QStringLiteral("!"));
         },
         "cannot be written to"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        platform::PresentationRecorder recorder;
        auto point = savedPoint("Kauppatori", "Harbour");
        const std::string before = fileText(*point);
        const auto savedAt = point->lastSavedAt();
        mainMap_->added.clear();
        auto screen = present(point);
        test.edit(*screen);
        settle();
        const QString shownTitle = screen->titleView()->text();
        const QString shownSubtitle = screen->subtitleView()->text();
        press(screen->navigationItem().rightBarButtonItem());

        auto alert = recorder.topAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->title(), "Location Not Saved");
        EXPECT_THAT(alert->message(), HasSubstr(test.reason));
        EXPECT_TRUE(screenIsShown());
        EXPECT_EQ(point->title(), "Kauppatori");
        EXPECT_EQ(point->subtitle(), "Harbour");
        EXPECT_EQ(point->lastSavedAt(), savedAt);
        EXPECT_THAT(mainMap_->added, IsEmpty());
        EXPECT_TRUE(recorder.chooseAction("OK"));
        settle();
        EXPECT_TRUE(screenIsShown());
        EXPECT_EQ(screen->titleView()->text(), shownTitle);
        EXPECT_EQ(screen->subtitleView()->text(), shownSubtitle);
        EXPECT_EQ(rightTitle(*screen), "Save");
        if (std::filesystem::is_directory(pointsFolder())) {
            EXPECT_EQ(fileText(*point), before);
        }
        if (std::filesystem::is_regular_file(documents() + "/points"))
            std::filesystem::remove(documents() + "/points");
    }
}

class FiveRowTagTable : public PointDetailsViewController {
  public:
    using PointDetailsViewController::PointDetailsViewController;
    int tagTableRowCount() const override { return 5; }
};

TEST_F(DetailsScreenTest, ResizingFollowsTheWindowsAspectAndMeasuresAgain) {
    auto point =
        savedPoint("Kauppatori",
                   "A long note about the market square: open every day from seven, the ferries leave "
                   "from the south side and the old market hall stands beside it");
    window_ = std::make_unique<platform::MainWindow>();
    window_->resize(1000, 560);
    host_ = std::make_shared<pointscreens_test::DetailsHost>();
    window_->setRootViewController(host_);
    window_->show();
    auto screen = std::make_shared<FiveRowTagTable>();
    screen->setPoint(point);
    host_->present(std::make_shared<platform::NavigationController>(screen), false);
    settle();

    QWidget* view = screen->view();
    ASSERT_GT(view->width(), view->height());
    EXPECT_EQ(screen->bottomStackView()->direction(), QBoxLayout::LeftToRight);
    const double beside = tervolo::pointscreens::textMeasureWidth(view->width(), true, std::nullopt);
    EXPECT_EQ(beside, (view->width() - 10) / 2.0);
    EXPECT_EQ(screen->pointInfoTextViewHeight()->constant(),
              screen->pointInfoTextView()->heightThatFits(beside));

    // The tag table's height follows 0.1 s later (the table's own loads set
    // it too: start from 0 to see the timer's).
    screen->tagTableViewHeight()->setConstant(0.0);
    environment_.advance(0.1);
    settle();
    const double mapHeight = screen->map()->height();
    EXPECT_EQ(screen->tagTableViewHeight()->constant(), mapHeight < 200 ? mapHeight * 0.9 : 200.0);

    window_->resize(520, 900);
    settle();
    ASSERT_LT(view->width(), view->height());
    EXPECT_EQ(screen->bottomStackView()->direction(), QBoxLayout::TopToBottom);
    EXPECT_EQ(screen->pointInfoTextViewHeight()->constant(),
              screen->pointInfoTextView()->heightThatFits(view->width() - 10));
    EXPECT_EQ(screen->titleHeight()->constant(),
              screen->titleView()->heightThatFits(view->width() - 10 - 20));

    // A screen gone before its timer fires is not called.
    window_.reset();
    host_.reset();
    screen.reset();
    environment_.advance(0.2);
    settle();
}

TEST_F(DetailsScreenTest, TheMapScreenOpensItAsAFormSheetOfHalfItsWidthAndTwoThirdsOfItsHeight) {
    window_ = std::make_unique<platform::MainWindow>();
    window_->resize(1200, 900);
    host_ = std::make_shared<pointscreens_test::DetailsHost>();
    window_->setRootViewController(host_);
    window_->show();
    settle();
    auto point = savedPoint("Kauppatori");
    auto screen = PointDetailsViewController::presentForPoint(*host_, point, mainMap_);
    settle();
    const QSize hostSize = host_->view()->size();
    EXPECT_EQ(screen->point(), point);
    EXPECT_EQ(screen->mainVC(), mainMap_);
    EXPECT_EQ(screen->preferredContentSize(), QSizeF(hostSize.width() / 2.0, hostSize.height() * 2.0 / 3.0));
    ASSERT_NE(screen->navigationController(), nullptr);
    EXPECT_EQ(host_->presentedViewController().get(), screen->navigationController());
    EXPECT_EQ(screen->navigationController()->modalPresentationStyle(),
              platform::ModalPresentationStyle::formSheet);
    EXPECT_EQ(screen->title(), "Point Details");
}

TEST_F(DetailsScreenTest, OtherOverlaysGetAPlainRendererAndARecord) {
    auto screen = present(savedPoint("Kauppatori"));
    class Square : public platform::MKOverlay {
      public:
        platform::MKMapRect boundingMapRect() const override { return {{0, 0}, {10, 10}}; }
    };
    log_->clear();
    auto renderer = screen->rendererForOverlay(*screen->map(), std::make_shared<Square>());
    ASSERT_NE(renderer, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<platform::MKCircleRenderer>(renderer), nullptr);
    EXPECT_THAT(log_->texts(), Contains("unknown kind of overlay - nothing to do"));
}

}  // namespace
