// Tag names that differ only in their Unicode form ("Café" precomposed, and
// "Cafe" with a combining accent, as another device may have typed it) are
// one tag on the point screens: adding, filtering and deleting. The files
// keep the bytes they were written with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include "PointDetailsTestSupport.hpp"
#include "PointTableTestSupport.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/SearchController.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewCell.hpp"

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::points::QuovaPointTag;
using tervolo::points::QuovaPointTagStore;
using ::testing::UnorderedElementsAre;

namespace {

const std::string kComposed = "Caf\u00E9";
const std::string kDecomposed = "Cafe\u0301";

struct TagForm {
    const char* name;
    std::string typed;
};
const TagForm kTypedForms[] = {
    {"precomposed", kComposed},
    {"decomposed", kDecomposed},
    {"upper-case precomposed", "CAF\u00C9"},
};

// Pastes `text` where the focus is, as a user brings in a text the keyboard
// does not type (the clipboard, then Ctrl+V).
void pasteText(QWidget* widget, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(widget, Qt::Key_V, Qt::ControlModifier);
}

class ListTagFormsTest : public pointscreens_test::PointTableScreenTest {};

// "#Café" lists the points of both records, in whichever form it is typed.
TEST_F(ListTagFormsTest, AFilterFindsThePointsOfEveryFormOfTheName) {
    for (const auto& [title, uuid] : {std::pair{kComposed, "c-1"}, std::pair{kDecomposed, "d-1"}}) {
        auto tag = QuovaPointTag::make(title);
        tag->setUuid(uuid);
        tag->setColorString("0,0,0");
        ASSERT_FALSE(QuovaPointTagStore::shared().addTag(tag).has_value());
    }
    auto composed = addPoint("Composed");
    composed->setTags(std::vector<std::string>{"c-1"});
    auto decomposed = addPoint("Decomposed");
    decomposed->setTags(std::vector<std::string>{"d-1"});
    addPoint("Neither");
    open();
    for (const TagForm& form : kTypedForms) {
        SCOPED_TRACE(form.name);
        auto* search = list_->searchController()->searchBar();
        search->setFocus();
        search->selectAll();
        pasteText(search, QString::fromStdString("#" + form.typed));
        settle();
        std::vector<std::string> listed;
        for (const auto& row : contentRows()) listed.insert(listed.end(), row.begin(), row.end());
        EXPECT_THAT(listed, UnorderedElementsAre("Composed", "Decomposed"));
    }
}

class DetailsTagFormsTest : public pointscreens_test::PointDetailsTest {
  protected:
    std::shared_ptr<QuovaMapPoint> taggedPoint(const std::string& title, std::vector<std::string> tags) {
        auto point = savedPoint(title);
        point->setTags(std::move(tags));
        QuovaMapPointStore::shared().addPoint(point);
        return point;
    }
    std::string tagFile(const std::string& uuid) const {
        std::ifstream in(documents() + "/tags/" + uuid + ".QuovaPointTag", std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }
    static std::vector<std::string> chips(const tervolo::pointscreens::PointDetailsViewController& screen) {
        std::vector<std::string> titles;
        for (const QString& title : screen.tagFlowView()->allTagTitles())
            titles.push_back(title.toStdString());
        return titles;
    }
    static void enterTag(tervolo::pointscreens::PointDetailsViewController& screen, const std::string& name) {
        QTest::mouseClick(screen.addTagButton(), Qt::LeftButton);
        settle();
        platform::TextField* field = screen.editTagTextField();
        field->setFocus(Qt::OtherFocusReason);
        pasteText(field, QString::fromStdString(name));
        QTest::keyClick(field, Qt::Key_Return);
        settle();
    }
};

// Entering another form of a chip's name adds no chip and changes nothing;
// the table offers the name once, or not at all while it is a chip.
TEST_F(DetailsTagFormsTest, AnotherFormOfAChipsNameIsThatChip) {
    storedTag(kComposed, "c-1");
    storedTag(kDecomposed, "d-1");
    struct Case {
        const char* name;
        const char* chipUuid;
        std::string typed;
    };
    const Case cases[] = {
        {"decomposed chip, precomposed typed", "d-1", kComposed},
        {"precomposed chip, decomposed typed", "c-1", kDecomposed},
        {"decomposed chip, upper-case typed", "d-1", "CAF\u00C9"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = taggedPoint("Kahvila", {test.chipUuid});
        auto screen = present(point);
        ASSERT_EQ(chips(*screen).size(), 1u);
        const std::string chip = chips(*screen).front();
        EXPECT_TRUE(screen->tagsForTagTable().empty());
        enterTag(*screen, test.typed);
        EXPECT_EQ(chips(*screen), std::vector<std::string>{chip});
        EXPECT_FALSE(screen->pointHasBeenEdited());
        EXPECT_EQ(point->tags(), std::vector<std::string>{test.chipUuid});
    }
    auto bare = present(taggedPoint("Bare", {}));
    QTest::mouseClick(bare->addTagButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(bare->tagTableView()->numberOfRows(0), 1);
}

// Deleting the name from the tag table deletes every record of it and takes
// both identifiers off the points; each tag file keeps its own title bytes.
TEST_F(DetailsTagFormsTest, DeletingTheNameDeletesEveryForm) {
    auto composed = storedTag(kComposed, "c-1");
    auto decomposed = storedTag(kDecomposed, "d-1");
    storedTag("Bar", "bar-1");
    auto both = taggedPoint("Both", {"c-1", "bar-1", "d-1"});
    auto one = taggedPoint("One", {"d-1"});
    auto screen = present(taggedPoint("Screen", {}));
    QTest::mouseClick(screen->addTagButton(), Qt::LeftButton);
    settle();
    platform::TableView* table = screen->tagTableView();
    table->layoutRows();
    ASSERT_EQ(table->numberOfRows(0), 2);  // Bar, Café
    auto* cell = table->cellForRow({0, 1});
    ASSERT_NE(cell, nullptr);
    platform::PresentationRecorder recorder;
    QTest::mouseClick(cell->findChild<QPushButton*>("tagRowDeleteButton"), Qt::LeftButton);
    settle();
    ASSERT_TRUE(recorder.chooseAction("Delete Tag"));
    settle();

    EXPECT_TRUE(composed->deletedAt().has_value());
    EXPECT_TRUE(decomposed->deletedAt().has_value());
    EXPECT_EQ(QuovaPointTagStore::shared().tagWithTitle(kComposed), nullptr);
    EXPECT_EQ(both->tags(), std::vector<std::string>{"bar-1"});
    EXPECT_EQ(one->tags(), std::vector<std::string>{});
    EXPECT_NE(tagFile("c-1").find("\"title\":\"Caf\u00E9\""), std::string::npos) << tagFile("c-1");
    EXPECT_NE(tagFile("d-1").find("\"title\":\"Cafe\u0301\""), std::string::npos) << tagFile("d-1");
}

}  // namespace
