// The search field of a navigation item: activation, edits, the Done key and
// its place in the navigation bar.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QTest>

#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/SearchController.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

namespace {

class Recorder : public platform::SearchResultsUpdating, public platform::SearchControllerDelegate {
  public:
    void updateSearchResults(platform::SearchController& controller) override {
        calls.push_back("update " + controller.text());
    }
    void didPresentSearchController(platform::SearchController&) override { calls.push_back("present"); }
    std::vector<std::string> calls;
};

class SearchControllerTest : public widgetkit_test::WidgetTest {};

TEST_F(SearchControllerTest, ActivationEditsAndDone) {
    auto recorder = std::make_shared<Recorder>();
    platform::SearchController search;
    search.setSearchResultsUpdater(recorder);
    search.setDelegate(recorder);
    search.setPlaceholder("Filter ...");
    EXPECT_EQ(search.searchBar()->placeholderText(), QStringLiteral("Filter ..."));

    search.setText("#bar");  // a program's change tells nobody
    EXPECT_TRUE(recorder->calls.empty());
    search.setActive(true);
    search.setActive(true);  // once only
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"present", "update #bar"}));

    recorder->calls.clear();
    search.searchBar()->show();
    search.searchBar()->activateWindow();
    search.becomeFirstResponder();
    QTest::keyClicks(search.searchBar(), "x");
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"update #barx"}));
    QTest::keyClick(search.searchBar(), Qt::Key_Return);  // Done: editing ends, the search stays
    EXPECT_FALSE(search.searchBar()->hasFocus());
    EXPECT_TRUE(search.isActive());

    // The clear action shows with text, empties the field and tells the updater.
    auto* clear = search.searchBar()->findChild<QAction*>("clearSearchText");
    ASSERT_NE(clear, nullptr);
    EXPECT_TRUE(clear->isVisible());
    recorder->calls.clear();
    clear->trigger();
    EXPECT_EQ(search.text(), "");
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"update "}));
    EXPECT_FALSE(clear->isVisible());
}

TEST_F(SearchControllerTest, FocusActivatesAndTheBarShowsTheFieldUnderTheTitle) {
    auto recorder = std::make_shared<Recorder>();
    auto item = std::make_shared<platform::NavigationItem>();
    item->setTitle("Locations");
    platform::NavigationBar bar;
    bar.resize(320, platform::NavigationBar::kDefaultHeight);
    bar.setItems({item});
    EXPECT_EQ(bar.height(), platform::NavigationBar::kDefaultHeight);

    auto search = std::make_shared<platform::SearchController>();
    search->setSearchResultsUpdater(recorder);
    search->setDelegate(recorder);
    item->setSearchController(search);
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar.isAncestorOf(search->searchBar()));
    EXPECT_GT(bar.height(), platform::NavigationBar::kDefaultHeight);
    bar.show();
    bar.activateWindow();
    search->becomeFirstResponder();
    QCoreApplication::processEvents();
    EXPECT_TRUE(search->isActive());
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"present", "update "}));

    // A new controller replaces the old field; the old one goes with its controller.
    QPointer<QLineEdit> oldField = search->searchBar();
    auto replacement = std::make_shared<platform::SearchController>();
    item->setSearchController(replacement);
    search.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(oldField.isNull());
    EXPECT_TRUE(bar.isAncestorOf(replacement->searchBar()));
    item->setSearchController(nullptr);
    EXPECT_EQ(bar.height(), platform::NavigationBar::kDefaultHeight);
}

}  // namespace
