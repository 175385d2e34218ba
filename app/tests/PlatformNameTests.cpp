// Every text that names the platform names the same one: About, the PDF's
// creator field and the share mail.
#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/PlatformName.hpp"
#include "points/ShareItemText.hpp"
#include "pointscreens/PDFCreator.hpp"
#include "shell/InfoViewController.hpp"

namespace {

TEST(PlatformName, EveryTextNamesThisPlatform) {
    const std::string expected = std::string("Tervolo for ") + platform::kPlatformName;
    ASSERT_EQ(expected, "Tervolo for Linux");
    struct Case {
        const char* where;
        std::string text;
    } cases[] = {
        {"About on the desktop", tervolo::shell::InfoViewController::appNameText("Tervolo", 3)},
        {"PDF creator", tervolo::pointscreens::PDFCreator::documentInfo().creator},
        {"share mail", tervolo::points::shareMailBody(std::string("Harbour"), "https://s.example/x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        EXPECT_NE(c.text.find(expected), std::string::npos) << c.text;
        EXPECT_EQ(c.text.find("for Mac"), std::string::npos) << c.text;
    }
}

}  // namespace
