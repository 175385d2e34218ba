#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/QLLog.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/OpenURL.hpp"
#include "shell/QuovaOpenURL.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::shell {
namespace {

using logging::QLLogFlag;

class QuovaOpenURLTest : public ::testing::Test {
  protected:
    // The debug lines so far, once the completion's line has arrived.
    std::vector<testsupport::LogRecorder::Line> linesAfterCompletion() {
        EXPECT_TRUE(platform::RunLoop::runUntil([&] { return log_.lines().size() >= 2; }, 10.0));
        return log_.lines();
    }

    testsupport::TemporaryFolder folder_;
    testsupport::FakeDesktopApplications apps_{folder_};
    testsupport::SharedLogRecording log_;
};

TEST_F(QuovaOpenURLTest, UnhandledURLIsStillOpenedLogsFailedAndAnswersFalse) {
    platform::OpenURLRecorder recorder(false);
    EXPECT_FALSE(quovaOpen("waze://?ll=60.17,24.94&navigate=yes"));
    EXPECT_EQ(recorder.urls(), std::vector<std::string>{"waze://?ll=60.17,24.94&navigate=yes"});

    const auto lines = linesAfterCompletion();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].flag, QLLogFlag::debug);
    EXPECT_EQ(lines[0].text, "opening URL waze://?ll=60.17,24.94&navigate=yes ...");
    EXPECT_EQ(lines[1].flag, QLLogFlag::debug);
    EXPECT_EQ(lines[1].text, "failed");
    for (const auto& record : log_.recorder().records()) {
        EXPECT_EQ(record->fileName(), "UIApplication+quovaOpenURL");
        EXPECT_EQ(record->function(), "quovaOpen(_:)");
    }
}

TEST_F(QuovaOpenURLTest, AnswerIsWhetherAHandlerIsRegisteredNotHowTheOpenWent) {
    apps_.installApplication("waze.desktop", {"waze"});
    struct Case {
        bool openSucceeds;
        const char* logged;
    };
    for (const Case c : {Case{true, "succeeded"}, Case{false, "failed"}}) {
        SCOPED_TRACE(c.logged);
        log_.clear();
        platform::OpenURLRecorder recorder(c.openSucceeds);
        EXPECT_TRUE(quovaOpen("waze://test/")) << "a handler is registered";
        EXPECT_EQ(recorder.urls().size(), 1u);
        const auto lines = linesAfterCompletion();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].text, c.logged);
    }
    log_.clear();
    platform::OpenURLRecorder recorder(true);
    EXPECT_FALSE(quovaOpen("not a url")) << "text that is no URL is never openable";
    EXPECT_EQ(recorder.urls(), std::vector<std::string>{"not a url"}) << "the open is issued all the same";
}

}  // namespace
}  // namespace tervolo::shell
