#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <filesystem>
#include <string>

#include "ShellTestSupport.hpp"
#include "shell/AppKitBridgeBinding.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::shell {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPlugInFile = "libTervoloAppKitBridge.so";

class AppKitBridgeBindingTest : public shell_test::ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        resetAppKitBridgeForTesting();
    }
    void TearDown() override {
        resetAppKitBridgeForTesting();
        ShellTest::TearDown();
    }

    // A plug-ins folder of its own holding `builtFile` under the plug-in's
    // file name (nothing for an empty name); none at all without `withFolder`.
    std::string plugInsFolder(const std::string& name, const std::string& builtFile, bool withFolder = true) {
        const std::string folder = folder_.file(name + "/PlugIns");
        if (!withFolder) return folder;
        fs::create_directories(folder);
        if (!builtFile.empty()) fs::copy_file(builtFile, folder + "/" + kPlugInFile);
        return folder;
    }
    static std::string variant(const char* name) {
        return std::string(TERVOLO_PLUGIN_VARIANTS_DIR) + "/" + name + "/" + kPlugInFile;
    }
    static std::string builtBridge() { return std::string(TERVOLO_BUILT_PLUGINS_DIR) + "/" + kPlugInFile; }
};

TEST_F(AppKitBridgeBindingTest, OnlyTheBridgeOfTheRightClassAndInterfaceFillsTheSlotAndTheRestIsSilent) {
    struct Case {
        const char* name;
        std::string file;
        bool withFolder;
        bool binds;
    } cases[] = {
        {"another interface identifier", variant("WrongInterface"), true, false},
        {"another class name", variant("WrongClassName"), true, false},
        {"the right names on a class without the interface", variant("NotConforming"), true, false},
        {"a library that is no plug-in", variant("NotAPlugIn"), true, false},
        {"no plug-in file", "", true, false},
        {"no plug-ins folder", "", false, false},
        // Last: once bound, the slot stays filled.
        {"the bridge", builtBridge(), true, true},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.file.empty() || fs::exists(c.file)) << c.file;
        const std::string folder = plugInsFolder("case" + std::to_string(index++), c.file, c.withFolder);
        testsupport::SharedLogRecording log;
        shell_test::StandardErrorCapture console;
        shell_test::qtMessages().clear();
        EXPECT_EQ(bindAppKitBridge(folder), c.binds);
        EXPECT_TRUE(shell_test::qtMessages().empty()) << shell_test::qtMessages().front();
        EXPECT_EQ(appKitBridge() != nullptr, c.binds);
        EXPECT_EQ(console.text(), "") << "binding writes nothing, whatever it finds";
        EXPECT_TRUE(log.texts().empty());
    }
}

TEST_F(AppKitBridgeBindingTest, TheSlotIsFilledOnceAndTheBuiltLayoutIsFound) {
    // The test binary has no plug-ins folder beside it: silently nothing.
    {
        shell_test::StandardErrorCapture console;
        EXPECT_FALSE(bindAppKitBridge());
        EXPECT_EQ(console.text(), "");
    }
    EXPECT_EQ(appKitBridge(), nullptr);
    EXPECT_EQ(builtInPlugInsPath(), "") << "no plug-ins folder in either layout";

    // The build lays the plug-in out beside the program's executable.
    ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    bridge::AppKitBridgeProtocol* first = appKitBridge();
    ASSERT_NE(first, nullptr);
    // A second binding, even from another copy, keeps the first object.
    EXPECT_TRUE(bindAppKitBridge(plugInsFolder("copy", builtBridge())));
    EXPECT_EQ(appKitBridge(), first);
    EXPECT_TRUE(bindAppKitBridge(plugInsFolder("none", "", false)));
    EXPECT_EQ(appKitBridge(), first);
}

TEST_F(AppKitBridgeBindingTest, UncalledOperationsLogTheirLinesAndGreetModally) {
    ASSERT_TRUE(bindAppKitBridge(TERVOLO_BUILT_PLUGINS_DIR));
    testsupport::SharedLogRecording log;
    shell_test::StandardErrorCapture console;
    // No main window to style: the line only.
    appKitBridge()->styleMainWindow();
    EXPECT_EQ(log.texts(), std::vector<std::string>{"styleMainWindow()"});

    // The greeting runs modally until closed; close it from inside.
    std::string text, informative;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text().toStdString();
        informative = box->informativeText().toStdString();
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        for (QAbstractButton* button : box->buttons()) buttons << button->text();
        box->accept();
    });
    appKitBridge()->sayHello();
    EXPECT_EQ(text, "Hello from AppKit!");
    EXPECT_EQ(informative, "It Works!");
    EXPECT_EQ(buttons, QStringList{"OK"});
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"styleMainWindow()", "sayHello()"}));
    for (const auto& record : log.recorder().records()) EXPECT_EQ(record->fileName(), "AppKitBridge");
    EXPECT_EQ(console.text(), "") << "standard error stays for errors";
}

}  // namespace
}  // namespace tervolo::shell
