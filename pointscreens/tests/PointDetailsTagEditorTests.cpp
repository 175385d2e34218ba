// The point details screen's tag section: the tag table with its filter,
// order and height, the space rule, picking a row, removing a chip and
// deleting a tag from every point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include "PointDetailsTestSupport.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::points::QuovaPointTag;
using tervolo::points::QuovaPointTagStore;
using tervolo::pointscreens::PointDetailsViewController;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class TagEditorTest : public pointscreens_test::PointDetailsTest {
  protected:
    void SetUp() override {
        PointDetailsTest::SetUp();
        // Only the tags a test stores itself.
        auto& store = QuovaPointTagStore::shared();
        if (store.tags()) {
            const auto existing = *store.tags();
            for (const auto& tag : existing) store.deleteTag(tag);
        }
    }

    // A pause in the typing long enough for the spaces notice.
    void pause() {
        environment_.advance(PointDetailsViewController::kSpacesNoticeDelay + 0.1);
        settle();
    }

    // Pastes `text` into `field` as a user does (the clipboard, then Ctrl+V).
    static void paste(platform::TextField* field, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        field->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }

    // A saved point carrying the given tag identifiers.
    std::shared_ptr<QuovaMapPoint> taggedPoint(const std::string& title, std::vector<std::string> tags) {
        auto point = savedPoint(title);
        point->setTags(std::move(tags));
        EXPECT_TRUE(point->save(QuovaMapPointStore::shared()).ok());
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }

    static std::vector<std::string> rowTitles(const PointDetailsViewController& screen) {
        std::vector<std::string> titles;
        for (const auto& tag : screen.tagsForTagTable()) titles.push_back(tag->title());
        return titles;
    }
    // The titles the table shows, asked of the table itself.
    static std::vector<std::string> shownTitles(PointDetailsViewController& screen) {
        std::vector<std::string> titles;
        platform::TableView* table = screen.tagTableView();
        table->layoutRows();
        for (int row = 0; row < table->numberOfRows(0); ++row) {
            table->scrollToRow({0, row}, platform::TableView::ScrollPosition::None);
            auto* cell = table->cellForRow({0, row});
            titles.push_back(cell ? cell->textLabel()->text().toStdString() : "<no cell>");
        }
        return titles;
    }
    static void openEditor(PointDetailsViewController& screen) {
        QTest::mouseClick(screen.addTagButton(), Qt::LeftButton);
        settle();
    }
    static QPushButton* trashButton(PointDetailsViewController& screen, int row) {
        platform::TableView* table = screen.tagTableView();
        table->layoutRows();
        auto* cell = table->cellForRow({0, row});
        return cell ? cell->findChild<QPushButton*>("tagRowDeleteButton") : nullptr;
    }
    static size_t alertsTitled(const platform::PresentationRecorder& recorder, const std::string& title) {
        size_t count = 0;
        for (const auto& entry : recorder.entries()) {
            auto alert = std::dynamic_pointer_cast<platform::AlertController>(entry.controller);
            if (alert && alert->title() == title) ++count;
        }
        return count;
    }
};

TEST_F(TagEditorTest, TableListsStoredTagsThatAreNoChipFilteredByPrefixInCodePointOrder) {
    auto bar = storedTag("Bar", "bar-1");
    storedTag("MustSee", "must-2");
    storedTag("Cinema", "cine-3");
    storedTag("apple", "appl-4");
    storedTag("\u00C9clair", "ecla-5");  // precomposed É
    storedTag("Zoo", "zoo-6");
    auto screen = present(taggedPoint("Kallio", {"bar-1"}));
    openEditor(*screen);

    struct Case {
        const char* typed;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        // Upper case before lower case; the chip Bar is not offered.
        {"", {"Cinema", "MustSee", "Zoo", "apple", "\u00C9clair"}},
        {"m", {"MustSee"}},
        {"MU", {"MustSee"}},
        {"mustseeX", {}},
        {"ba", {}},                    // only the chip starts so
        {"e\u0301", {"\u00C9clair"}},  // decomposed prefix of a precomposed title
        {"e", {}},                     // a base letter is no prefix of É
        {"\u00C9CL", {"\u00C9clair"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        screen->editTagTextField()->setText(QString::fromUtf8(c.typed));
        screen->tagTableView()->reloadData();
        EXPECT_EQ(rowTitles(*screen), c.rows);
        EXPECT_EQ(shownTitles(*screen), c.rows);
        EXPECT_EQ(screen->tagTableViewHeight()->constant(), c.rows.size() * 40.0);
    }
    (void)bar;
}

TEST_F(TagEditorTest, TableHeightIsFortyPerRowCappedByTheSmallMap) {
    for (const char* title : {"A", "B", "C", "D", "E"}) storedTag(title, std::string("id-") + title);
    auto screen = present(taggedPoint("Kallio", {}), QSize(700, 1100));
    openEditor(*screen);
    ASSERT_EQ(screen->tagTableRowCount(), 5);
    ASSERT_GE(screen->map()->height(), 200);
    EXPECT_EQ(screen->tagTableViewHeight()->constant(), 200.0);
    EXPECT_EQ(screen->tagTableView()->height(), 200);

    screen->map()->setFixedHeight(150);
    settle();
    screen->updateTagTableHeight();
    EXPECT_EQ(screen->tagTableViewHeight()->constant(), 135.0);

    screen->editTagTextField()->setText("nothing");
    screen->tagTableView()->reloadData();
    EXPECT_EQ(screen->tagTableViewHeight()->constant(), 0.0);
}

TEST_F(TagEditorTest, SpacesRaiseOneNoticeAndAreRemovedWhileOtherWhiteSpaceStays) {
    storedTag("DiveBar", "dive-1");
    auto screen = present(taggedPoint("Kallio", {}));
    openEditor(*screen);
    platform::TextField* field = screen->editTagTextField();

    struct Case {
        const char* name;
        std::function<void()> edit;
        size_t notices;
        QString left;
    };
    const std::vector<Case> cases = {
        {"typed", [&] { type(field, "Dive "); }, 1, "Dive"},
        {"pasted with several spaces", [&] { paste(field, "a b c"); }, 1, "abc"},
        {"a tab passes", [&] { paste(field, "a\tb"); }, 0, "a\tb"},
        {"only a space", [&] { paste(field, " "); }, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PresentationRecorder recorder;
        field->setText(QString());
        c.edit();
        settle();
        // Spaces go at once; the notice waits for a pause in the typing.
        EXPECT_EQ(field->text(), c.left);
        EXPECT_EQ(alertsTitled(recorder, "Notice"), 0u);
        pause();
        EXPECT_EQ(alertsTitled(recorder, "Notice"), c.notices);
        EXPECT_EQ(field->text(), c.left);
        EXPECT_EQ(screen->saveNewTagButton()->isEnabled(), !c.left.isEmpty());
        if (c.notices > 0) {
            auto alert = recorder.topAlert();
            ASSERT_NE(alert, nullptr);
            EXPECT_EQ(alert->message(),
                      "Tags may not contain spaces. Please use underscores _ or CamelCase as in DiveBar.");
            EXPECT_EQ(recorder.actionTitles(), std::vector<std::string>{"OK"});
            log_->clear();
            EXPECT_TRUE(recorder.chooseAction("OK"));
            settle();
            EXPECT_THAT(log_->texts(), Contains("OK Button"));
        }
    }

    // Typing on after the notice: the table filters by the joined text.
    field->setText(QString());
    {
        platform::PresentationRecorder recorder;
        type(field, "Dive ");
        pause();
        ASSERT_TRUE(recorder.chooseAction("OK"));
        settle();
        type(field, "Bar");
        settle();
        EXPECT_EQ(alertsTitled(recorder, "Notice"), 1u);
    }
    EXPECT_EQ(field->text(), "DiveBar");
    EXPECT_EQ(rowTitles(*screen), std::vector<std::string>{"DiveBar"});
}

// Keys typed on through a space reach the field, not an alert: each key goes
// to whatever has the keyboard, as a user's keys do.
TEST_F(TagEditorTest, TypingOnThroughASpaceKeepsEveryKey) {
    storedTag("DiveBar", "dive-1");
    auto screen = present(taggedPoint("Kallio", {}));
    openEditor(*screen);
    platform::TextField* field = screen->editTagTextField();
    field->activateWindow();
    field->setFocus(Qt::OtherFocusReason);
    platform::PresentationRecorder recorder;
    for (const QChar letter : QStringLiteral("Dive Bar")) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, letter.toLatin1());
        settle();
    }
    EXPECT_EQ(field->text(), "DiveBar");
    EXPECT_EQ(field, QApplication::focusWidget());
    EXPECT_EQ(alertsTitled(recorder, "Notice"), 0u);
    pause();
    EXPECT_EQ(alertsTitled(recorder, "Notice"), 1u);
    EXPECT_EQ(field->text(), "DiveBar");
    EXPECT_EQ(rowTitles(*screen), std::vector<std::string>{"DiveBar"});
}

TEST_F(TagEditorTest, PickingARowAddsItsChipClosesTheEditorAndKeepsTheText) {
    storedTag("Cinema", "cine-1");
    storedTag("MustSee", "must-2");
    auto point = taggedPoint("Kallio", {});
    auto screen = present(point);
    openEditor(*screen);
    type(screen->editTagTextField(), "m");
    settle();
    ASSERT_EQ(shownTitles(*screen), std::vector<std::string>{"MustSee"});

    platform::TableView* table = screen->tagTableView();
    const QPoint middle = table->rectForRow({0, 0}).center().toPoint();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(20, middle.y()));
    settle();

    EXPECT_EQ(screen->tagFlowView()->allTagTitles(), std::vector<QString>{"MustSee"});
    EXPECT_EQ(screen->chipIdentifiers(), std::vector<std::string>{"must-2"});
    EXPECT_TRUE(screen->editTagStackView()->isHidden());
    EXPECT_TRUE(screen->tagTableView()->isHidden());
    EXPECT_EQ(screen->editTagTextField()->text(), "m");
    EXPECT_TRUE(screen->pointHasBeenEdited());
    EXPECT_EQ(point->tags(), std::vector<std::string>{});  // written only on "Save"

    // Opened again, the kept text filters at once and can be saved; the new
    // chip is no longer offered.
    openEditor(*screen);
    EXPECT_TRUE(screen->saveNewTagButton()->isEnabled());
    EXPECT_THAT(rowTitles(*screen), IsEmpty());

    // A row index beyond a fresh list only closes the editor.
    screen->tagTableDidSelectRow({0, 7});
    EXPECT_TRUE(screen->editTagStackView()->isHidden());
    EXPECT_EQ(screen->tagFlowView()->allTags().size(), 1u);
}

TEST_F(TagEditorTest, RemovingTheLastChipShowsTheNoTagsStateAndOffersTheTagAgain) {
    storedTag("Bar", "bar-1");
    storedTag("Cinema", "cine-2");
    auto point = taggedPoint("Kallio", {"bar-1", "cine-2"});
    const std::string before = fileText(*point);
    auto screen = present(point);
    auto* chips = screen->tagFlowView();
    ASSERT_EQ(chips->allTags().size(), 2u);

    screen->tagRemoveButtonPressed("Bar", chips->allTags()[0], chips);
    settle();
    EXPECT_EQ(chips->allTagTitles(), std::vector<QString>{"Cinema"});
    EXPECT_TRUE(screen->pointHasBeenEdited());
    EXPECT_EQ(screen->title(), "Edit Point Details");
    EXPECT_FALSE(chips->isHidden());

    screen->tagRemoveButtonPressed("Cinema", chips->allTags()[0], chips);
    settle();
    EXPECT_TRUE(chips->allTags().empty());
    EXPECT_TRUE(chips->isHidden());
    EXPECT_FALSE(screen->addTagInfoLabel()->isHidden());
    EXPECT_EQ(rowTitles(*screen), (std::vector<std::string>{"Bar", "Cinema"}));
    // Nothing is written before "Save".
    EXPECT_EQ(point->tags(), (std::vector<std::string>{"bar-1", "cine-2"}));
    EXPECT_EQ(fileText(*point), before);
}

TEST_F(TagEditorTest, DeletingATagRewritesExactlyItsCarriersAndPutsOnlyValidOnesBackOnTheMap) {
    auto doomed = storedTag("Bar", "abcd-0001");
    storedTag("Cinema", "cine-0002");
    auto& points = QuovaMapPointStore::shared();
    auto valid = taggedPoint("Valid", {"abcd-0001", "cine-0002"});
    auto upper = taggedPoint("Upper", {"ABCD-0001"});  // the same tag in other letters
    auto twice = taggedPoint("Twice", {"abcd-0001", "cine-0002", "abcd-0001"});
    auto deleted = taggedPoint("Deleted", {"abcd-0001"});
    points.deletePoint(deleted);
    auto hidden = taggedPoint("Hidden", {"cine-0002", "abcd-0001"});
    points.hidePoint(hidden);
    auto other = taggedPoint("Other", {"cine-0002"});
    valid->setAlarmCircleDiameter(300);
    ASSERT_TRUE(valid->save(points).ok());
    mainMap_->addAnnotation(valid);
    mainMap_->added.clear();

    auto screen = present(taggedPoint("Screen", {}));
    openEditor(*screen);
    ASSERT_EQ(shownTitles(*screen), (std::vector<std::string>{"Bar", "Cinema"}));
    const std::string otherBefore = fileText(*other);
    const auto otherSavedAt = other->lastSavedAt();
    environment_.advance(60);
    const platform::Date now = platform::Date::now();

    platform::PresentationRecorder recorder;
    QPushButton* trash = trashButton(*screen, 0);
    ASSERT_NE(trash, nullptr);
    QTest::mouseClick(trash, Qt::LeftButton);
    settle();
    auto alert = recorder.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Delete Tag \"Bar\"?");
    EXPECT_EQ(alert->message(),
              "If you delete this tag, it will be removed from all places. This can't be undone.");
    EXPECT_EQ(recorder.actionTitles(), (std::vector<std::string>{"Delete Tag", "Cancel"}));
    ASSERT_TRUE(recorder.chooseAction("Delete Tag"));
    settle();

    struct Expect {
        std::shared_ptr<QuovaMapPoint> point;
        std::vector<std::string> tags;
    };
    for (const Expect& e : std::vector<Expect>{{valid, {"cine-0002"}},
                                               {upper, {}},
                                               {twice, {"cine-0002"}},
                                               {deleted, {}},
                                               {hidden, {"cine-0002"}}}) {
        SCOPED_TRACE(*e.point->title());
        EXPECT_EQ(e.point->tags(), e.tags);
        EXPECT_EQ(e.point->lastSavedAt(), now);
        EXPECT_EQ(e.point->lastSavedByAppVersion(), "77");
        EXPECT_THAT(fileText(*e.point), Not(testing::HasSubstr("abcd-0001")));
        EXPECT_THAT(fileText(*e.point), Not(testing::HasSubstr("ABCD-0001")));
    }
    // Untouched: not written at all.
    EXPECT_EQ(fileText(*other), otherBefore);
    EXPECT_EQ(other->lastSavedAt(), otherSavedAt);
    // Only the valid carriers reach the map; the halo was replaced, not doubled.
    EXPECT_THAT(mainMap_->added, ElementsAre(valid, upper, twice));
    EXPECT_EQ(mainMap_->map().overlays().size(), 1u);
    EXPECT_EQ(QuovaPointTagStore::shared().tagWithTitle("Bar"), nullptr);
    EXPECT_TRUE(doomed->deletedAt().has_value());

    // The table follows 0.1 s later.
    EXPECT_EQ(screen->tagTableView()->numberOfRows(0), 2);
    environment_.advance(0.1);
    settle();
    EXPECT_EQ(screen->tagTableView()->numberOfRows(0), 1);
    EXPECT_EQ(shownTitles(*screen), std::vector<std::string>{"Cinema"});
}

TEST_F(TagEditorTest, DeleteConfirmationCancelledOrForAChipsNamesakeDeletesTheRowsOwnTag) {
    auto chipTag = storedTag("Bar", "bar-upper");
    auto rowTag = storedTag("bar", "bar-lower");
    auto carrier = taggedPoint("Carrier", {"bar-upper", "bar-lower"});
    auto screen = present(taggedPoint("Screen", {"bar-upper"}));
    openEditor(*screen);
    ASSERT_EQ(shownTitles(*screen), std::vector<std::string>{"bar"});

    {
        platform::PresentationRecorder recorder;
        QTest::mouseClick(trashButton(*screen, 0), Qt::LeftButton);
        settle();
        log_->clear();
        ASSERT_TRUE(recorder.chooseAction("Cancel"));
        settle();
        EXPECT_THAT(log_->texts(), Contains("DO NOT Delete Tag Button"));
        EXPECT_EQ(carrier->tags(), (std::vector<std::string>{"bar-upper", "bar-lower"}));
    }
    {
        platform::PresentationRecorder recorder;
        QTest::mouseClick(trashButton(*screen, 0), Qt::LeftButton);
        settle();
        ASSERT_NE(recorder.topAlert(), nullptr);
        EXPECT_EQ(recorder.topAlert()->title(), "Delete Tag \"bar\"?");
        ASSERT_TRUE(recorder.chooseAction("Delete Tag"));
        settle();
    }
    // The row's "bar" went; the chip's "Bar" stays, on the point and in the store.
    EXPECT_EQ(carrier->tags(), std::vector<std::string>{"bar-upper"});
    EXPECT_TRUE(rowTag->deletedAt().has_value());
    EXPECT_FALSE(chipTag->deletedAt().has_value());
    EXPECT_EQ(QuovaPointTagStore::shared().tagWithTitle("BAR"), chipTag);

    // A view outside any cell names no tag.
    log_->clear();
    EXPECT_EQ(screen->tagFromButton(screen->addTagButton()), nullptr);
    EXPECT_THAT(log_->texts(), Contains("Delete tag button: can't find concerned cell."));
}

}  // namespace
