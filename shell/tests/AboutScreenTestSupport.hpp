#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ShellTestSupport.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "shell/InfoViewController.hpp"
#include "testsupport/FakeDesktopApplications.hpp"

namespace shell_test {

// The About screen as the map screen shows it: in a navigation controller
// presented over a window whose root is the map screen. The information
// dictionary is the test's own; the desktop's applications are the test's
// (none unless installed); console lines are captured.
class AboutScreenTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
            {"CFBundleName", "TervoloNG"},
            {"CFBundleVersion", "2.10"},
            {"QXBuildNumber", "7"},
            {"QuovaCopyright", "Copyright \xC2\xA9 2026 The TervoloNG authors"},
        });
    }
    void TearDown() override {
        navigation_.reset();
        window_.reset();
        screen_.reset();
        platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
        platform::Bundle::main().setResourcesDirectory(std::nullopt);
        platform::Sysctl::removeAllFakesForTesting();
        ShellTest::TearDown();
    }

    void installMailProgram() { apps_.installApplication("mail.desktop", {"mailto"}); }

    // Presents a new About screen (full screen over the window) and returns it.
    std::shared_ptr<tervolo::shell::InfoViewController> presentAbout(QSize size = QSize(480, 640)) {
        screen_ = std::make_shared<FakeMapScreen>();
        window_ = std::make_unique<platform::MainWindow>();
        window_->setRootViewController(screen_);
        window_->resize(size);
        window_->show();
        auto about = std::make_shared<tervolo::shell::InfoViewController>();
        navigation_ = std::make_shared<platform::NavigationController>(about);
        screen_->present(navigation_, false);
        settle();
        return about;
    }

    tervolo::testsupport::FakeDesktopApplications apps_{folder_};
    platform::LineCapture console_{platform::LineWriter::standardError()};
    std::shared_ptr<FakeMapScreen> screen_;
    std::unique_ptr<platform::MainWindow> window_;
    std::shared_ptr<platform::NavigationController> navigation_;
};

}  // namespace shell_test
