#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "AboutScreenTestSupport.hpp"
#include "shell/CreditsViewController.hpp"

namespace tervolo::shell {
namespace {

namespace fs = std::filesystem;
using shell_test::AboutScreenTest;

const std::string kThanks =
    "We'd like to thank our fellow developers whose great efforts have helped us making this application "
    "possible.";

class CreditsTest : public AboutScreenTest {
  protected:
    // The About screen with Credits pushed on its navigation controller.
    std::shared_ptr<CreditsViewController> showCredits(QSize size = QSize(480, 640)) {
        auto about = presentAbout(size);
        about->creditsButtonTapped();
        shell_test::settle();
        return std::dynamic_pointer_cast<CreditsViewController>(navigation_->topViewController());
    }
    // A resources folder of the test's own holding `credits` as credits.txt (none when empty).
    void useResources(const std::string& credits) {
        const std::string folder = folder_.file("resources");
        fs::create_directories(folder);
        if (!credits.empty()) std::ofstream(folder + "/credits.txt", std::ios::binary) << credits;
        platform::Bundle::main().setResourcesDirectory(folder);
    }
};

TEST_F(CreditsTest, ShownTwiceTheThanksLineStaysSingle) {
    auto credits = showCredits();
    ASSERT_NE(credits, nullptr);
    EXPECT_EQ(credits->title(), "Credits");
    const std::string shipped = CreditsViewController::creditsResource();
    ASSERT_FALSE(shipped.empty()) << "resources/credits.txt is shipped";
    for (const char* name : {"Qt 6", "libcurl", "OpenSSL", "ICU", "{fmt}", "nlohmann-json", "GeographicLib",
                             "protobuf-c", "Natural Earth", "world-atlas", "DejaVu", "WenQuanYi"}) {
        EXPECT_NE(shipped.find(name), std::string::npos) << name;
    }
    EXPECT_EQ(credits->infoView()->text().toStdString(), kThanks + "\n" + shipped);
    EXPECT_TRUE(credits->infoView()->isReadOnly());

    // Back to About and to Credits again: rebuilt from the file, not appended.
    navigation_->popViewController(false);
    navigation_->pushViewController(credits, false);
    shell_test::settle();
    EXPECT_EQ(credits->infoView()->text().toStdString(), kThanks + "\n" + shipped);
}

TEST_F(CreditsTest, WithoutItsFileOnlyTheThanksLine) {
    struct Case {
        const char* name;
        std::string file;
        std::string shown;
    } cases[] = {
        {"no file", "", kThanks + "\n"},
        {"a file that is not UTF-8", std::string("Caf\xE9 au lait\n"), kThanks + "\n"},
        {"a file of its own", "Line one\nLine two \xE2\x80\x94 \xE6\xB8\xAF\n",
         kThanks + "\nLine one\nLine two \xE2\x80\x94 \xE6\xB8\xAF\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder_.file("resources"));
        useResources(c.file);
        auto credits = showCredits();
        ASSERT_NE(credits, nullptr);
        EXPECT_EQ(credits->infoView()->text().toStdString(), c.shown);
    }
}

TEST_F(CreditsTest, DoneDismissesTheScreensPresentation) {
    auto credits = showCredits();
    ASSERT_NE(screen_->presentedViewController(), nullptr);
    credits->doneButtonTapped();
    EXPECT_EQ(screen_->presentedViewController(), nullptr);
}

}  // namespace
}  // namespace tervolo::shell
