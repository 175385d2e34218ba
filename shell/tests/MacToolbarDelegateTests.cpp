#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

#include "ShellTestSupport.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/SegmentedControl.hpp"
#include "platform/ui/ToolbarItemGroup.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "shell/MacToolbarDelegate.hpp"
#include "shell/MapScreenActions.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"

namespace tervolo::shell {
namespace {

using logging::QLLogFlag;
using platform::Toolbar;
using platform::ToolbarItemGroup;

using shell_test::FakeMapScreen;
using shell_test::OtherScreen;

class MacToolbarDelegateTest : public shell_test::ShellTest {
  protected:
    void TearDown() override {
        resetAppKitBridgeForTesting();
        ShellTest::TearDown();
    }
};

// A main window over another screen with the delegate's toolbar, shown and settled.
struct ToolbarWindow {
    std::shared_ptr<MacToolbarDelegate> delegate = std::make_shared<MacToolbarDelegate>();
    platform::MainWindow window;

    ToolbarWindow() {
        window.setRootViewController(std::make_shared<OtherScreen>());
        window.toolbar().setDelegate(delegate);
        window.resize(1000, 140);
        window.show();
        shell_test::settle();
    }
    QLineEdit* searchField() { return window.toolbar().findChild<QLineEdit*>("QuovaNSSearchField"); }
};

TEST_F(MacToolbarDelegateTest, IdentifiersListsAndCentredItem) {
    EXPECT_EQ(MacToolbarDelegate::mapStyleToolbarItemIdentifier(), "org.tervolo.TervoloNG.mapStyle");
    EXPECT_EQ(MacToolbarDelegate::searchBarToolbarItemIdentifier(), "org.tervolo.TervoloNG.searchBar");
    EXPECT_EQ(MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), "org.tervolo.TervoloNG.zoomLevel");
    EXPECT_EQ(&MacToolbarDelegate::mapStyleToolbarItemIdentifier(),
              &MacToolbarDelegate::mapStyleToolbarItemIdentifier())
        << "made once and shared";

    MacToolbarDelegate delegate;
    const std::vector<std::string> expected = {Toolbar::kFlexibleSpaceIdentifier,
                                               MacToolbarDelegate::mapStyleToolbarItemIdentifier()};
    using ListCall = std::vector<std::string> (MacToolbarDelegate::*)(Toolbar&);
    for (ListCall call : {static_cast<ListCall>(&MacToolbarDelegate::toolbarDefaultItemIdentifiers),
                          static_cast<ListCall>(&MacToolbarDelegate::toolbarAllowedItemIdentifiers)}) {
        Toolbar toolbar;
        EXPECT_EQ(toolbar.centeredItemIdentifier(), "");
        EXPECT_EQ((delegate.*call)(toolbar), expected);
        EXPECT_EQ(toolbar.centeredItemIdentifier(), MacToolbarDelegate::searchBarToolbarItemIdentifier())
            << "each list call sets the centred item";
    }
}

TEST_F(MacToolbarDelegateTest, ItemsForEachIdentifierWithAndWithoutTheBridge) {
    auto delegate = std::make_shared<MacToolbarDelegate>();
    Toolbar toolbar;
    std::unique_ptr<QAction> style(
        delegate->toolbar(toolbar, MacToolbarDelegate::mapStyleToolbarItemIdentifier(), true));
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->text(), "Select Map Style");
    EXPECT_FALSE(style->icon().isNull()) << "the drawn map symbol";
    EXPECT_EQ(style->icon().availableSizes().size(), 2) << "sharp at 1x and 2x";

    std::unique_ptr<QAction> zoom(
        delegate->toolbar(toolbar, MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), false));
    auto* group = qobject_cast<ToolbarItemGroup*>(zoom.get());
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->itemIdentifier(), "zoomLevel");
    EXPECT_EQ(group->titles(), (QStringList{"   1x   ", "   2x   ", "   4x   "}));
    EXPECT_EQ(group->selectionMode(), ToolbarItemGroup::SelectionMode::selectOne);
    EXPECT_EQ(group->label(), "Zoom Level");
    EXPECT_EQ(group->selectedIndex(), -1) << "without a map screen nothing is selected";

    EXPECT_EQ(delegate->toolbar(toolbar, "org.tervolo.TervoloNG.other", true), nullptr);
    EXPECT_EQ(delegate->toolbar(toolbar, "mapStyle", true), nullptr);

    // Without the bridge: no search item, and the toolbar shows the space and the style item.
    EXPECT_EQ(delegate->toolbar(toolbar, MacToolbarDelegate::searchBarToolbarItemIdentifier(), true),
              nullptr);
    toolbar.setDelegate(delegate);
    EXPECT_EQ(toolbar.itemIdentifiers(),
              (std::vector<std::string>{Toolbar::kFlexibleSpaceIdentifier,
                                        MacToolbarDelegate::mapStyleToolbarItemIdentifier()}));

    // With the bridge: its search field in the middle.
    ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    toolbar.reloadItems();
    EXPECT_EQ(toolbar.itemIdentifiers(),
              (std::vector<std::string>{
                  Toolbar::kFlexibleSpaceIdentifier, MacToolbarDelegate::searchBarToolbarItemIdentifier(),
                  Toolbar::kFlexibleSpaceIdentifier, MacToolbarDelegate::mapStyleToolbarItemIdentifier()}));
    QAction* search = toolbar.item(MacToolbarDelegate::searchBarToolbarItemIdentifier());
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->parent(), &toolbar) << "the plug-in's item belongs to the program's toolbar";
    EXPECT_EQ(search->objectName().toStdString(), MacToolbarDelegate::searchBarToolbarItemIdentifier());
}

TEST_F(MacToolbarDelegateTest, ZoomGroupSelectsByTheMapScreensShift) {
    struct Case {
        int64_t shift;
        int selected;
    } cases[] = {{4, 2}, {2, 1}, {0, 0}, {1, 0}, {-3, 0}, {8, 0}};
    auto screen = std::make_shared<FakeMapScreen>();
    MacToolbarDelegate delegate;
    delegate.setMainVC(screen);
    Toolbar toolbar;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shift);
        screen->shift = c.shift;
        std::unique_ptr<QAction> item(
            delegate.toolbar(toolbar, MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), true));
        auto* group = qobject_cast<ToolbarItemGroup*>(item.get());
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->selectedIndex(), c.selected);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(group->isSelected(i), i == c.selected) << "exactly one";
    }
}

TEST_F(MacToolbarDelegateTest, TheDelegateNeverKeepsTheMapScreenAlive) {
    MacToolbarDelegate delegate;
    auto screen = std::make_shared<FakeMapScreen>();
    delegate.setMainVC(screen);
    EXPECT_EQ(delegate.mainVC().get(), screen.get());
    EXPECT_EQ(screen.use_count(), 1);
    screen.reset();
    EXPECT_EQ(delegate.mainVC(), nullptr);
    Toolbar toolbar;
    std::unique_ptr<QAction> item(
        delegate.toolbar(toolbar, MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), true));
    EXPECT_EQ(qobject_cast<ToolbarItemGroup*>(item.get())->selectedIndex(), -1);
}

TEST_F(MacToolbarDelegateTest, MapStyleActionShowsTheSheetOnlyFromAToolbarItemOverTheMapScreen) {
    auto delegate = std::make_shared<MacToolbarDelegate>();
    auto screen = std::make_shared<FakeMapScreen>();
    delegate->setMainVC(screen);
    platform::MainWindow window;
    window.setRootViewController(screen);
    window.toolbar().setDelegate(delegate);
    window.resize(800, 500);
    window.show();
    QAction* styleItem = window.toolbar().item(MacToolbarDelegate::mapStyleToolbarItemIdentifier());
    ASSERT_NE(styleItem, nullptr);
    QObject plainObject;
    QAction looseAction("not in a toolbar");

    struct Case {
        const char* name;
        QObject* sender;
        bool mapScreenIsRoot;
        bool shows;
        std::string logged;  // prefix of the debug line
    } cases[] = {
        {"the toolbar's item", styleItem, true, true, "mapStyleButton from Optional(<QAction: 0x"},
        {"another object", &plainObject, true, false, "mapStyleButton from Optional(<QObject: 0x"},
        {"no sender", nullptr, true, false, "mapStyleButton from nil"},
        {"the item, under another root", styleItem, false, false,
         "mapStyleButton from Optional(<QAction: 0x"},
        {"a loose action counts as an item", &looseAction, true, true,
         "mapStyleButton from Optional(<QAction: 0x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window.setRootViewController(c.mapScreenIsRoot
                                         ? std::static_pointer_cast<platform::ViewController>(screen)
                                         : std::make_shared<OtherScreen>());
        screen->styleSheetAnchors.clear();
        testsupport::SharedLogRecording log;
        delegate->mapStyleButton(c.sender);
        EXPECT_EQ(screen->styleSheetAnchors.size(), c.shows ? 1u : 0u);
        if (c.shows) {
            EXPECT_EQ(static_cast<QObject*>(screen->styleSheetAnchors[0]), c.sender);
        }
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].flag, QLLogFlag::debug);
        EXPECT_EQ(lines[0].text.rfind(c.logged, 0), 0u) << lines[0].text;
        const auto record = log.recorder().records().at(0);
        EXPECT_EQ(record->fileName(), "MacToolbarDelegate");
        EXPECT_EQ(record->function(), "mapStyleButton(sender:)");
    }

    // A click on the toolbar's button is the item's action.
    window.setRootViewController(screen);
    screen->styleSheetAnchors.clear();
    auto* button = qobject_cast<QToolButton*>(window.toolbar().widgetForAction(styleItem));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(screen->styleSheetAnchors, std::vector<QAction*>{styleItem});
}

TEST_F(MacToolbarDelegateTest, SelectionAndSearchActionsOnlyLog) {
    auto delegate = std::make_shared<MacToolbarDelegate>();
    auto screen = std::make_shared<FakeMapScreen>();
    screen->shift = 2;
    delegate->setMainVC(screen);
    platform::MainWindow window;
    window.setRootViewController(screen);
    auto* group = qobject_cast<ToolbarItemGroup*>(
        delegate->toolbar(window.toolbar(), MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), true));
    window.toolbar().addItem(MacToolbarDelegate::zoomLevelToolbarItemIdentifier(), group);
    window.resize(600, 200);
    window.show();

    testsupport::SharedLogRecording log;
    auto* control = window.toolbar().findChild<platform::SegmentedControl*>();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->selectedSegmentIndex(), 1);
    QTest::mouseClick(control, Qt::LeftButton, {}, control->segmentRect(2).center().toPoint());
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].flag, QLLogFlag::debug);
    EXPECT_EQ(lines[0].text.rfind("toolbarSelectionChanged from <platform::ToolbarItemGroup: 0x", 0), 0u)
        << lines[0].text;
    EXPECT_EQ(lines[1].flag, QLLogFlag::info);
    EXPECT_EQ(lines[1].text, "selected item: 2");
    EXPECT_TRUE(screen->styleSheetAnchors.empty());

    log.clear();
    QObject other;
    delegate->toolbarSelectionChanged(&other);
    delegate->searchBarEvent(&other);
    delegate->searchBarEvent(nullptr);
    lines = log.lines();
    ASSERT_EQ(lines.size(), 3u) << "no index for a sender that is no group";
    EXPECT_EQ(lines[0].text.rfind("toolbarSelectionChanged from <QObject: 0x", 0), 0u);
    EXPECT_EQ(lines[1].text.rfind("MacToolbarDelegate.searchBarEvent from <QObject: 0x", 0), 0u);
    EXPECT_EQ(lines[2].text, "MacToolbarDelegate.searchBarEvent from nil");
    for (const auto& record : log.recorder().records()) EXPECT_EQ(record->fileName(), "MacToolbarDelegate");
    EXPECT_EQ(log.recorder().records()[1]->function(), "searchBarEvent(sender:)");
}

TEST_F(MacToolbarDelegateTest, SearchFieldStartEndAndActionAreLoggedByTheBridgeAlone) {
    ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    auto delegate = std::make_shared<MacToolbarDelegate>();
    platform::MainWindow window;
    window.setRootViewController(std::make_shared<OtherScreen>());
    shell_test::StandardErrorCapture console;
    testsupport::SharedLogRecording made;
    window.toolbar().setDelegate(delegate);
    window.resize(900, 300);
    window.show();
    auto* field = window.toolbar().findChild<QLineEdit*>("QuovaNSSearchField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->width(), 300);
    EXPECT_EQ(field->property("finalAction").isValid(), false);
    // Made when the delegate was set and again when the toolbar first showed
    // (the platform makes items as the toolbar appears); only the second stays.
    EXPECT_EQ(made.texts(), (std::vector<std::string>{"searchFieldToolbarItem(for:with:action:)",
                                                      "searchFieldToolbarItem(for:with:action:)"}));
    EXPECT_EQ(console.text(), "") << "standard error stays for errors";
    EXPECT_EQ(window.toolbar().findChildren<QLineEdit*>("QuovaNSSearchField").size(), 1);

    testsupport::SharedLogRecording log;
    shell_test::StandardErrorCapture events;
    field->setFocus();
    QTest::keyClicks(field, "harbour");
    QTest::keyClick(field, Qt::Key_Return);
    field->clear();
    EXPECT_EQ(log.texts(), (std::vector<std::string>{
                               "searchFieldDidStartSearching(_:)", "AppKitBridge.searchBarEvent(sender:)",
                               "searchFieldDidEndSearching(_:)", "AppKitBridge.searchBarEvent(sender:)"}));
    EXPECT_EQ(events.text(), "");
    // Every line is the plug-in's: the field's action ends in the bridge, and
    // the delegate, which only passes the field's text and keys on to a map
    // screen (none here), logs nothing of its own.
    for (const auto& record : log.recorder().records()) EXPECT_EQ(record->fileName(), "AppKitBridge");
}

// The plug-in's empty "Search" field shows its placeholder at 4.5:1 on the field in a light palette
// and in a dark desktop theme's, which hands placeholders as half-transparent white (about 4:1),
// also when the theme changes while the window is open. Read off the toolbar drawn at ratio 2.
TEST_F(MacToolbarDelegateTest, TheSearchFieldsPlaceholderReadsInBothPalettes) {
    ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    const QPalette original = QApplication::palette();
    ToolbarWindow shown;
    platform::MainWindow& window = shown.window;
    QLineEdit* field = shown.searchField();
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->text().isEmpty());
    ASSERT_EQ(field->placeholderText(), QStringLiteral("Search"));
    for (const bool dark : {false, true, false}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QApplication::setPalette(dark ? testsupport::darkDesktopPalette() : original);
        shell_test::settle();
        const QImage image = shell_test::render(window, 2);
        shell_test::saveScreenshot(
            image, QStringLiteral("toolbar-search-placeholder-%1@2x").arg(dark ? "dark" : "light"));
        const QRect text = field->contentsRect().adjusted(6, 4, -4, -4);
        const QRect letters(text.left(), text.top(),
                            field->fontMetrics().horizontalAdvance(field->placeholderText()), text.height());
        const QRectF area(letters.translated(field->mapTo(&window, QPoint(0, 0))));
        EXPECT_GE(testsupport::strongestContrast(image, area, field->palette().color(QPalette::Base)), 4.5);
    }
    QApplication::setPalette(original);
}

// The toolbar as the map screen's window shows it, without and with the plug-in,
// in a light and a dark theme and at a device pixel ratio of 2.
TEST_F(MacToolbarDelegateTest, Screenshots) {
    for (bool withPlugIn : {false, true}) {
        if (withPlugIn) {
            ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
        }
        struct Look {
            const char* suffix;
            bool dark;
            double ratio;
        } looks[] = {{"light", false, 1}, {"dark", true, 1}, {"light@2x", false, 2}};
        for (const auto& look : looks) {
            std::optional<shell_test::DarkPaletteScope> dark;
            if (look.dark) dark.emplace();
            ToolbarWindow shown;
            platform::MainWindow& window = shown.window;
            if (withPlugIn) {
                QLineEdit* field = shown.searchField();
                ASSERT_NE(field, nullptr);
                field->setText(QString::fromUtf8("Hafen \xE6\xB8\xAF \xD7\xA0\xD7\x9E\xD7\x9C"));
                const QRect fieldRect(field->mapTo(&window, QPoint()), field->size());
                EXPECT_NEAR(fieldRect.center().x(), window.width() / 2, 80) << "about the middle";
            }
            shell_test::saveScreenshot(shell_test::render(window, look.ratio),
                                       QStringLiteral("toolbar-%1-%2")
                                           .arg(withPlugIn ? "with-plugin" : "without-plugin")
                                           .arg(look.suffix));
        }
    }
}

}  // namespace
}  // namespace tervolo::shell
