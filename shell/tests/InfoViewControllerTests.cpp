#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QContextMenuEvent>
#include <QPointer>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <set>
#include <string>
#include <vector>

#include "AboutScreenTestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/UUID.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "shell/CreditsViewController.hpp"
#include "shell/FeedbackMail.hpp"

namespace tervolo::shell {
namespace {

using Idiom = appinfo::UIDevice_QuovaAdditions::Idiom;
using shell_test::AboutScreenTest;

QAction* actionTitled(QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text() == title) return action;
    }
    return nullptr;
}

QStringList titles(QMenu& menu) {
    QStringList out;
    for (QAction* action : menu.actions()) out << action->text();
    return out;
}

// The three fields of a feedback "mailto:" URL, decoded.
struct MailtoFields {
    std::string path, to, subject, body;
    int fieldCount = 0;
};
MailtoFields parseMailto(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url));
    EXPECT_EQ(parsed.scheme(), "mailto");
    const QUrlQuery query(parsed);
    MailtoFields fields;
    fields.path = parsed.path().toStdString();
    fields.fieldCount = static_cast<int>(query.queryItems().size());
    fields.to = query.queryItemValue("to", QUrl::FullyDecoded).toStdString();
    fields.subject = query.queryItemValue("subject", QUrl::FullyDecoded).toStdString();
    fields.body = query.queryItemValue("body", QUrl::FullyDecoded).toStdString();
    return fields;
}

TEST_F(AboutScreenTest, NameFontsAndTextsByDeviceType) {
    struct Case {
        Idiom idiom;
        int32_t deviceType;
        const char* name;
        double factor;
    } cases[] = {
        {Idiom::phone, 0, "TervoloNG for iOS", 1.0},
        {Idiom::pad, 2, "TervoloNG for Linux", 1.5},
        {Idiom::mac, 3, "TervoloNG for Linux", 1.5},
        {Idiom::tv, 4, "TervoloNG", 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        shell_test::IdiomScope idiom(c.idiom);
        ASSERT_EQ(appinfo::UIDevice_QuovaAdditions::quovaDeviceType(), c.deviceType);
        auto about = presentAbout();
        EXPECT_EQ(about->title(), "About");
        EXPECT_EQ(about->appNameLabel()->text().toStdString(), c.name);
        EXPECT_EQ(about->versionLabel()->text(), "version 2.10. (7)");
        EXPECT_EQ(about->imprintLabel()->text(), "Imprint");
        // The imprint reads as a link.
        EXPECT_EQ(about->imprintLabel()->foregroundRole(), QPalette::WindowText);
        EXPECT_EQ(about->imprintLabel()->palette().color(QPalette::WindowText),
                  QApplication::palette().color(QPalette::Link));
        EXPECT_EQ(about->appCopyLabel()->text(),
                  QString::fromUtf8("Copyright \xC2\xA9 2026 The TervoloNG authors"));
        EXPECT_EQ(about->feedbackButton()->text(), "Feedback && Contact") << "an ampersand, not a mnemonic";
        EXPECT_EQ(about->creditsButton()->text(), "Credits");
        const double base = QApplication::font().pointSizeF();
        EXPECT_DOUBLE_EQ(about->appNameLabel()->font().pointSizeF(),
                         base * InfoViewController::kAppNameFontScale * c.factor);
        EXPECT_DOUBLE_EQ(about->versionLabel()->font().pointSizeF(),
                         base * InfoViewController::kVersionFontScale * c.factor);
        EXPECT_DOUBLE_EQ(about->imprintLabel()->font().pointSizeF(),
                         base * InfoViewController::kImprintFontScale * c.factor);
        EXPECT_DOUBLE_EQ(about->appCopyLabel()->font().pointSizeF(),
                         base * InfoViewController::kCopyrightFontScale * c.factor);
        // The Done item quits, and says so to assistive technologies.
        auto done = about->navigationItem().rightBarButtonItem();
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->title(), "Done");
        EXPECT_EQ(done->style(), platform::BarButtonItem::Style::done);
        EXPECT_EQ(done->accessibilityLabel(), "Quit");
        ASSERT_NE(done->view(), nullptr);
        EXPECT_EQ(done->view()->accessibleName(), "Quit");
        console_.clear();
        done->trigger();
        EXPECT_EQ(screen_->presentedViewController(), nullptr);
        EXPECT_EQ(console_.lines(), std::vector<std::string>{"quit view tapped"});
    }
}

TEST_F(AboutScreenTest, MissingBuildNumberReadsAsTheMissingObject) {
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleName", "TervoloNG"}, {"CFBundleVersion", "3"}});
    auto about = presentAbout();
    EXPECT_EQ(about->versionLabel()->text(), "version 3.. ((null))");
    EXPECT_EQ(about->appCopyLabel()->text(), "");
}

TEST_F(AboutScreenTest, WithoutAMailProgramNoTellAFriendAndFeedbackShowsTheNotice) {
    platform::OpenURLRecorder opened;
    platform::PresentationRecorder presentations;
    auto about = presentAbout();
    EXPECT_EQ(about->tellFriendButton(), nullptr) << "removed, not just hidden";
    console_.clear();
    QTest::mouseClick(about->feedbackButton(), Qt::LeftButton);
    EXPECT_EQ(console_.lines(),
              (std::vector<std::string>{"feedback button tapped", "device can't send mail"}));
    auto alert = presentations.topAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Notice");
    EXPECT_EQ(alert->message(),
              "Your device can't send email at this point. You may configure email in the Setting app.");
    EXPECT_EQ(alert->preferredStyle(), platform::AlertController::Style::alert);
    EXPECT_EQ(presentations.actionTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(alert->actions()[0]->style(), platform::AlertAction::Style::defaultValue);
    EXPECT_TRUE(presentations.entries().back().animated);
    EXPECT_TRUE(presentations.chooseAction("OK"));
    EXPECT_EQ(presentations.topAlert(), nullptr);
    EXPECT_TRUE(opened.urls().empty());
}

TEST_F(AboutScreenTest, WithAMailProgramFeedbackOpensTheMail) {
    installMailProgram();
    platform::Sysctl::setFakeForTesting("hw.model", std::string("Desk 9000"));
    shell_test::IdiomScope idiom(Idiom::mac);
    const auto vendor = platform::UUID::fromString("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
    struct Case {
        const char* name;
        std::optional<platform::UUID> vendorID;
        std::optional<std::string> systemVersion;
        std::string to;
        std::string technicalLine;
    } cases[] = {
        {"vendor identifier", vendor, std::string("12"),
         "\"QuovaApps Support\"<0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9@support.tervolo.invalid>",
         "Desk 9000/TervoloNG 2.10 on Linux 12"},
        {"no vendor identifier, no system version", std::nullopt, std::nullopt,
         "\"QuovaApps Support\"<support@tervolo.invalid>", "Desk 9000/TervoloNG 2.10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        idiom.sources().identifierForVendor = [v = c.vendorID] { return v; };
        idiom.sources().systemVersion = [v = c.systemVersion] { return v; };
        platform::OpenURLRecorder opened;
        auto about = presentAbout();
        platform::PresentationRecorder presentations;
        ASSERT_NE(about->tellFriendButton(), nullptr);
        EXPECT_EQ(about->tellFriendButton()->text(), "Tell a friend");
        console_.clear();
        about->feedbackButtonTapped();
        EXPECT_EQ(console_.lines(), std::vector<std::string>{"feedback button tapped"});
        EXPECT_TRUE(presentations.entries().empty()) << "no notice";
        ASSERT_EQ(opened.urls().size(), 1u);
        const MailtoFields mail = parseMailto(opened.urls()[0]);
        EXPECT_EQ(mail.path, "");
        EXPECT_EQ(mail.fieldCount, 3);
        EXPECT_EQ(mail.to, c.to);
        EXPECT_EQ(mail.subject, "TervoloNG Feedback");
        std::string expected = "(please type your message here)\r\n\r\n";
        for (int i = 0; i < 12; ++i) expected += "\r\n";
        expected += "*** Don't edit technical info below ***\r\n\r\n" + c.technicalLine;
        EXPECT_EQ(mail.body, expected);
    }
}

// A machine model or name with markup, "&", "?" or line breaks stays text:
// it adds no header field, recipient or markup to the mail.
TEST_F(AboutScreenTest, DeviceTextsCannotInjectIntoTheMail) {
    const std::string hostile = "Desk <b>9000</b> & Co?cc=spy@example.invalid&bcc=x#frag\n%0Aend";
    FeedbackTechnicalInfo info{hostile, "Tervolo \"NG\"", "1.0 'beta'", std::string("Linux"),
                               std::string("12")};
    const std::string html = feedbackHTMLBody(info);
    EXPECT_NE(html.find("Desk &lt;b&gt;9000&lt;/b&gt; &amp; Co?cc=spy@example.invalid&amp;bcc=x#frag"),
              std::string::npos);
    EXPECT_NE(html.find("/Tervolo &quot;NG&quot; 1.0 &#39;beta&#39; on Linux 12"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);

    FeedbackMail mail{feedbackRecipient("", "support.tervolo.invalid", "support@tervolo.invalid"),
                      "Subject & more", html};
    const std::string plain = mail.plainTextBody();
    EXPECT_EQ(plain.substr(plain.rfind("Desk")), hostile + "/Tervolo \"NG\" 1.0 'beta' on Linux 12");
    const std::string url = mail.mailtoURL();
    EXPECT_EQ(url.rfind("mailto:?to=", 0), 0u);
    for (char c : url.substr(7)) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) ||
                    std::string("-._~%?=&").find(c) != std::string::npos)
            << "unencoded '" << c << "'";
    }
    const MailtoFields fields = parseMailto(url);
    EXPECT_EQ(fields.fieldCount, 3);
    EXPECT_EQ(fields.subject, "Subject & more");
    EXPECT_EQ(fields.to, "\"QuovaApps Support\"<support@tervolo.invalid>");
    EXPECT_NE(fields.body.find("Desk <b>9000</b> & Co?cc=spy@example.invalid&bcc=x#frag\r\n%0Aend"),
              std::string::npos);
}

TEST_F(AboutScreenTest, WebPageTapsOpenTheMakersPage) {
    platform::OpenURLRecorder opened;
    auto about = presentAbout();
    console_.clear();
    for (QLabel* label : {about->appCopyLabel(), about->imprintLabel()}) {
        const auto recognizers = platform::gestureRecognizers(label);
        ASSERT_EQ(recognizers.size(), 1u);
        recognizers[0]->simulateState(platform::GestureRecognizer::State::Ended);
    }
    about->viewHomePageButtonTapped();
    about->showSettingsView();
    about->reallyRateApp();
    EXPECT_EQ(console_.lines(), (std::vector<std::string>{"tap onto copyright notice", "tap onto imprint",
                                                          "viewHomePageButtonTapped",
                                                          "show settings view tapped", "reallyRateApp"}));
    EXPECT_EQ(opened.urls(), std::vector<std::string>(3, "https://www.tervolo.invalid/"));
}

TEST_F(AboutScreenTest, DebugMenuTwiceTogglesTheTileDebugDefault) {
    auto about = presentAbout();
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_FALSE(InfoViewController::showsTileDebugInfo());

    console_.clear();
    auto first = about->contextMenuInteraction(QPointF(10, 10));
    EXPECT_EQ(console_.lines(),
              std::vector<std::string>{"InfoViewController: context menu configuration requested"});
    EXPECT_EQ(first->title(), "Debug Options");
    EXPECT_EQ(titles(*first), (QStringList{"Crash", "Clear Map Cache", "Show Tile Debug Info"}));
    std::set<QString> identifiers{first->objectName()};
    for (QAction* action : first->actions()) {
        EXPECT_TRUE(action->icon().isNull());
        identifiers.insert(action->objectName());
    }
    console_.clear();
    actionTitled(*first, "Show Tile Debug Info")->trigger();
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"tileDebugAction"});
    EXPECT_EQ(defaults.boolValue("shouldShowTileDebugInfo"), std::optional<bool>(true));

    auto second = about->contextMenuInteraction(QPointF(10, 10));
    EXPECT_EQ(titles(*second), (QStringList{"Crash", "Clear Map Cache", "Hide Tile Debug Info"}));
    identifiers.insert(second->objectName());
    for (QAction* action : second->actions()) identifiers.insert(action->objectName());
    EXPECT_EQ(identifiers.size(), 8u) << "fresh identifiers each time";
    for (const QString& identifier : identifiers) {
        EXPECT_TRUE(platform::UUID::fromString(identifier.toStdString()).has_value())
            << identifier.toStdString();
    }
    // The first menu still holds the choice it was built with.
    actionTitled(*first, "Show Tile Debug Info")->trigger();
    EXPECT_EQ(defaults.boolValue("shouldShowTileDebugInfo"), std::optional<bool>(true));
    actionTitled(*second, "Hide Tile Debug Info")->trigger();
    EXPECT_EQ(defaults.boolValue("shouldShowTileDebugInfo"), std::optional<bool>(false));

    // The stored value read as the platform reads an integer.
    struct Stored {
        std::optional<platform::PropertyValue> value;
        bool shows;
    } stored[] = {{std::nullopt, false},
                  {platform::PropertyValue(int64_t(2)), true},
                  {platform::PropertyValue(int64_t(0)), false},
                  {platform::PropertyValue(0.5), false},
                  {platform::PropertyValue("1"), true},
                  {platform::PropertyValue("no"), false}};
    for (const auto& s : stored) {
        if (s.value) {
            defaults.set("shouldShowTileDebugInfo", *s.value);
        } else {
            defaults.remove("shouldShowTileDebugInfo");
        }
        EXPECT_EQ(InfoViewController::showsTileDebugInfo(), s.shows);
    }
}

TEST_F(AboutScreenTest, RightClickOnTheLogoPopsUpTheDebugMenu) {
    auto about = presentAbout();
    console_.clear();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            about->logoImageView()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(about->logoImageView(), &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(titles(*menu), (QStringList{"Crash", "Clear Map Cache", "Show Tile Debug Info"}));
    EXPECT_EQ(console_.lines(),
              std::vector<std::string>{"InfoViewController: context menu configuration requested"});
    QPointer<QMenu> closed(menu);
    menu->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull()) << "the menu goes when it closes";
}

TEST_F(AboutScreenTest, ClearMapCacheReachesTheMapScreenOnlyWhenItIsTheRoot) {
    auto about = presentAbout();
    console_.clear();
    actionTitled(*about->contextMenuInteraction({}), "Clear Map Cache")->trigger();
    EXPECT_EQ(screen_->cacheClears, 1);
    EXPECT_EQ(console_.lines().back(), "clearCacheAction");

    // Another root: only the line.
    auto other = std::make_shared<shell_test::OtherScreen>();
    window_->setRootViewController(other);
    actionTitled(*about->contextMenuInteraction({}), "Clear Map Cache")->trigger();
    EXPECT_EQ(screen_->cacheClears, 1);
}

// "Crash" ends the process abnormally, one turn of the main queue after the
// choice. The child is bounded by an alarm and writes no core file.
TEST_F(AboutScreenTest, CrashAbortsOneMainQueueTurnLater) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto crashThroughTheMenu = [this] {
        signal(SIGALRM, SIG_DFL);
        alarm(30);
        const struct rlimit none { 0, 0 };
        setrlimit(RLIMIT_CORE, &none);
        prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
        // Whatever a crash reporter installed, the abort must end the process.
        signal(SIGABRT, SIG_DFL);
        platform::LineWriter::standardError().setSink({});
        auto about = presentAbout();
        actionTitled(*about->contextMenuInteraction({}), "Crash")->trigger();
        platform::LineWriter::standardError().writeLine("still running");
        platform::RunLoop::runUntilIdle();
        platform::LineWriter::standardError().writeLine("not reached");
        _exit(0);
    };
    EXPECT_EXIT(crashThroughTheMenu(), ::testing::KilledBySignal(SIGABRT),
                "crashAction\nstill running\ncrashing app!\n$");
}

TEST_F(AboutScreenTest, CreditsButtonPushesCreditsAndFocusStartsOnIt) {
    auto about = presentAbout();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    EXPECT_TRUE(about->creditsButton()->hasFocus());
    console_.clear();
    QTest::mouseClick(about->creditsButton(), Qt::LeftButton);
    EXPECT_EQ(console_.lines(), std::vector<std::string>{"tap show credits view"});
    ASSERT_EQ(navigation_->viewControllers().size(), 2u);
    auto credits = std::dynamic_pointer_cast<CreditsViewController>(navigation_->topViewController());
    ASSERT_NE(credits, nullptr);
    EXPECT_EQ(credits->title(), "Credits");
}

}  // namespace
}  // namespace tervolo::shell
