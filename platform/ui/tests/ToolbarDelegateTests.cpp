#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

#include "WidgetKitTestSupport.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/SegmentedControl.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ToolbarDelegate.hpp"
#include "platform/ui/ToolbarItemGroup.hpp"

using platform::Toolbar;
using platform::ToolbarItemGroup;

namespace {

constexpr const char* kSpace = Toolbar::kFlexibleSpaceIdentifier;

// Answers from tables and notes every question the toolbar asks.
class ScriptedToolbarDelegate : public platform::ToolbarDelegate {
  public:
    std::vector<std::string> defaults;
    std::vector<std::string> allowed;
    std::string centred;               // set from the list calls, as the platform's delegates do
    std::vector<std::string> missing;  // identifiers answered with null
    std::vector<std::string> asked;

    std::vector<std::string> toolbarDefaultItemIdentifiers(Toolbar& toolbar) override {
        asked.push_back("defaults");
        if (!centred.empty()) toolbar.setCenteredItemIdentifier(centred);
        return defaults;
    }
    std::vector<std::string> toolbarAllowedItemIdentifiers(Toolbar&) override {
        asked.push_back("allowed");
        return allowed;
    }
    QAction* toolbar(Toolbar&, const std::string& identifier, bool willBeInserted) override {
        asked.push_back(identifier + (willBeInserted ? "+" : "-"));
        if (std::find(missing.begin(), missing.end(), identifier) != missing.end()) return nullptr;
        auto* item = new QAction(QString::fromStdString(identifier));
        return item;
    }
};

class ToolbarDelegateTest : public widgetkit_test::WidgetTest {};

}  // namespace

TEST_F(ToolbarDelegateTest, FillsFromTheDelegateWithTheCentredItemInTheMiddle) {
    struct Case {
        const char* name;
        std::vector<std::string> defaults;
        std::vector<std::string> allowed;
        std::string centred;
        std::vector<std::string> missing;
        std::vector<std::string> shown;
    } cases[] = {
        {"space then item, centred after the space",
         {kSpace, "style"},
         {kSpace, "style"},
         "search",
         {},
         {kSpace, "search", kSpace, "style"}},
        {"no space: the centred item between two new ones",
         {"a", "b"},
         {"a", "b"},
         "search",
         {},
         {"a", "b", kSpace, "search", kSpace}},
        {"items not allowed are left out", {"a", kSpace, "b"}, {"b"}, "", {}, {kSpace, "b"}},
        {"a null item is left out, its neighbours stay",
         {"a", "b", "c"},
         {"a", "b", "c"},
         "",
         {"b"},
         {"a", "c"}},
        {"a centred item without an item leaves the spaces as they are",
         {kSpace, "style"},
         {kSpace, "style"},
         "search",
         {"search"},
         {kSpace, "style"}},
        {"a centred item named in the list shows once, in the middle",
         {"search", kSpace, "style"},
         {"search", kSpace, "style"},
         "search",
         {},
         {kSpace, "search", kSpace, "style"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Toolbar toolbar;
        auto delegate = std::make_shared<ScriptedToolbarDelegate>();
        delegate->defaults = c.defaults;
        delegate->allowed = c.allowed;
        delegate->centred = c.centred;
        delegate->missing = c.missing;
        toolbar.setDelegate(delegate);
        EXPECT_EQ(toolbar.itemIdentifiers(), c.shown);
        EXPECT_EQ(toolbar.allowedItemIdentifiers(), c.allowed);
        EXPECT_EQ(toolbar.centeredItemIdentifier(), c.centred);
        ASSERT_GE(delegate->asked.size(), 2u);
        EXPECT_EQ(delegate->asked[0], "defaults") << "the lists come before any item";
        EXPECT_EQ(delegate->asked[1], "allowed");
        for (size_t i = 2; i < delegate->asked.size(); ++i) {
            EXPECT_EQ(delegate->asked[i].back(), '+') << "items are asked for insertion";
        }
        if (!c.centred.empty() && c.missing.empty()) {
            EXPECT_EQ(Toolbar::identifierOf(toolbar.item(c.centred)), c.centred);
        }
    }
}

TEST_F(ToolbarDelegateTest, ReloadReplacesTheItemsAndFirstShowAsksAgain) {
    platform::MainWindow window;
    Toolbar& toolbar = window.toolbar();
    toolbar.addItem("manual", QIcon(), "Manual", nullptr);
    auto delegate = std::make_shared<ScriptedToolbarDelegate>();
    delegate->defaults = {kSpace, "style"};
    delegate->allowed = {kSpace, "style"};
    delegate->centred = "search";
    delegate->missing = {"search"};  // not available yet (a plug-in binds later)
    toolbar.setDelegate(delegate);
    EXPECT_EQ(toolbar.itemIdentifiers(), (std::vector<std::string>{kSpace, "style"}))
        << "the delegate's items replace what was there";
    QPointer<QAction> firstStyle = toolbar.item("style");

    // Between setting the delegate and showing, the centred item became available.
    delegate->missing.clear();
    delegate->asked.clear();
    window.show();
    EXPECT_EQ(toolbar.itemIdentifiers(), (std::vector<std::string>{kSpace, "search", kSpace, "style"}));
    EXPECT_TRUE(firstStyle.isNull()) << "the old items are gone with the reload";
    EXPECT_EQ(delegate->asked.front(), "defaults");

    // Only the first show asks again.
    delegate->asked.clear();
    window.hide();
    window.show();
    EXPECT_TRUE(delegate->asked.empty());
    toolbar.reloadItems();
    EXPECT_FALSE(delegate->asked.empty());

    // A toolbar whose delegate has gone keeps its items and asks nobody.
    delegate.reset();
    toolbar.reloadItems();
    EXPECT_EQ(toolbar.itemIdentifiers().size(), 4u);
}

TEST_F(ToolbarDelegateTest, ItemGroupSelectsOneAndRunsItsActionOnlyForTheUser) {
    platform::MainWindow window;
    auto* group =
        new ToolbarItemGroup("zoomLevel", {"1x", "2x", "4x"}, ToolbarItemGroup::SelectionMode::selectOne);
    group->setLabel("Zoom Level");
    std::vector<int> chosen;
    group->setAction([&](ToolbarItemGroup& sender) { chosen.push_back(sender.selectedIndex()); });
    window.toolbar().addItem("zoom", group);
    window.resize(500, 120);
    window.show();

    EXPECT_EQ(group->itemIdentifier(), "zoomLevel");
    EXPECT_EQ(group->label(), "Zoom Level");
    EXPECT_EQ(group->selectedIndex(), -1);
    group->setSelectedIndex(2);
    EXPECT_TRUE(chosen.empty()) << "a selection in code runs nothing";
    auto* control = window.toolbar().findChild<platform::SegmentedControl*>();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->selectedSegmentIndex(), 2);

    // A click on the first segment selects it and runs the action with the group.
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(0).center().toPoint());
    EXPECT_EQ(chosen, std::vector<int>{0});
    EXPECT_EQ(group->selectedIndex(), 0);
    EXPECT_TRUE(group->isSelected(0));
    EXPECT_FALSE(group->isSelected(2));
    group->setSelectedIndex(7);
    EXPECT_EQ(group->selectedIndex(), -1) << "out of range selects none";
}
