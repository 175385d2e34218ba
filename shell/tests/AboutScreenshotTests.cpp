#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "AboutScreenTestSupport.hpp"
#include "shell/CreditsViewController.hpp"

namespace tervolo::shell {
namespace {

using Idiom = appinfo::UIDevice_QuovaAdditions::Idiom;

struct Look {
    const char* suffix;
    bool dark;
    double ratio;
};
constexpr Look kLooks[] = {{"light", false, 1}, {"dark", true, 1}, {"light@2x", false, 2}};

class AboutScreenshotTest : public shell_test::AboutScreenTest {};

// The About screen on the desktop (large type, "for Linux", with a mail
// program), on a phone without one, and with a long name in Chinese and
// Hebrew; then Credits.
TEST_F(AboutScreenshotTest, AboutAndCredits) {
    struct Variant {
        const char* name;
        Idiom idiom;
        bool mail;
        std::optional<std::string> bundleName;
        std::optional<std::string> copyright;
    } variants[] = {
        {"about-phone-without-mail", Idiom::phone, false, std::nullopt, std::nullopt},
        {"about-desktop", Idiom::mac, true, std::nullopt, std::nullopt},
        {"about-long-cjk-rtl", Idiom::mac, true,
         std::string(
             "\xE9\x80\x94\xE6\xB8\xB8\xE5\x9C\xB0\xE5\x9B\xBE TervoloNG \xD7\x9E\xD7\xA4\xD7\x95\xD7\xAA "
             "Kartenanwendung mit sehr langem Namen"),
         std::string("Copyright \xC2\xA9 2026 The TervoloNG authors and many friends around the world, "
                     "\xE7\x89\x88\xE6\x9D\x83\xE6\x89\x80\xE6\x9C\x89, \xD7\x9B\xD7\x9C "
                     "\xD7\x94\xD7\x96\xD7\x9B\xD7\x95\xD7\x99\xD7\x95\xD7\xAA "
                     "\xD7\xA9\xD7\x9E\xD7\x95\xD7\xA8\xD7\x95\xD7\xAA")},
    };
    bool mailInstalled = false;
    for (const auto& v : variants) {
        if (v.mail && !mailInstalled) {
            installMailProgram();
            mailInstalled = true;
        }
        ASSERT_EQ(v.mail, mailInstalled) << "variants without mail come before those with it";
        platform::PropertyValue::Dictionary info{
            {"CFBundleName", v.bundleName.value_or("TervoloNG")},
            {"CFBundleVersion", "1.0.0"},
            {"QXBuildNumber", "42"},
            {"QuovaCopyright", v.copyright.value_or("Copyright \xC2\xA9 2026 The TervoloNG authors")}};
        platform::Bundle::main().setInfoDictionaryForTesting(info);
        shell_test::IdiomScope idiom(v.idiom);
        for (const auto& look : kLooks) {
            std::optional<shell_test::DarkPaletteScope> dark;
            if (look.dark) dark.emplace();
            auto about = presentAbout();
            // Nothing is cut off: every text fits the width it is given.
            for (QLabel* label : {about->appNameLabel(), about->versionLabel(), about->appCopyLabel(),
                                  about->imprintLabel()}) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << label->objectName().toStdString();
                EXPECT_GE(label->geometry().top(), 0);
            }
            shell_test::saveScreenshot(shell_test::render(*window_, look.ratio),
                                       QStringLiteral("%1-%2").arg(v.name).arg(look.suffix));
            if (std::string(v.name) == "about-desktop") {
                about->creditsButtonTapped();
                shell_test::settle();
                shell_test::saveScreenshot(shell_test::render(*window_, look.ratio),
                                           QStringLiteral("credits-%1").arg(look.suffix));
            }
        }
    }
}

}  // namespace
}  // namespace tervolo::shell
