#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "backend/QuovaDeviceManager.hpp"
#include "backend/tests/BackendTestSupport.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::backend {
namespace {

using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackHTTPServer;

struct RecordedEvent {
    std::string name;
    std::map<std::string, std::string> properties;
};

class QuovaDeviceManagerTest : public testing::BackendTest {
  protected:
    std::shared_ptr<QuovaDeviceManager> makeManager(
        const std::string& baseURL,
        std::function<DeviceInformation()> deviceInformation = [] { return testing::sampleDevice(); }) {
        QuovaDeviceManager::Dependencies dependencies;
        dependencies.apiBaseURL = [baseURL] { return baseURL; };
        dependencies.deviceInformation = std::move(deviceInformation);
        dependencies.trackEvent = [this](const std::string& name,
                                         const std::map<std::string, std::string>& p) {
            std::lock_guard lock(mutex_);
            events_.push_back({name, p});
        };
        dependencies.showTamperedCertAlert = [this](std::string title) {
            std::lock_guard lock(mutex_);
            alerts_.push_back(std::move(title));
        };
        return QuovaDeviceManager::make(std::move(dependencies));
    }

    // Starts a registration and waits until its reply has been handled.
    void registerAndWait(QuovaDeviceManager& manager) {
        manager.registerWithBackend();
        ASSERT_TRUE(manager.isRegistering());
        ASSERT_TRUE(runMainUntil([&] { return !manager.isRegistering(); }));
    }

    std::vector<RecordedEvent> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> alerts() {
        std::lock_guard lock(mutex_);
        return alerts_;
    }

    LoopbackHTTPServer server_;
    std::mutex mutex_;
    std::vector<RecordedEvent> events_;
    std::vector<std::string> alerts_;
};

TEST_F(QuovaDeviceManagerTest, SuccessStoresTheFourValuesAndRecordsTheEvent) {
    server_.route("POST", "/apps/api/device",
                  CannedReply::json(R"({"deviceID":"42","updateCount":"x","testlevel":"","pushlevel":"3"})"));
    auto manager = makeManager(server_.url());
    manager->setApnsToken("(none)");
    registerAndWait(*manager);

    EXPECT_EQ(manager->deviceID(), 42);
    EXPECT_EQ(manager->updateCount(), 0);
    EXPECT_EQ(manager->testlevel(), 0);
    EXPECT_EQ(manager->pushlevel(), 3);
    EXPECT_TRUE(log_->contains("registration successful, found device ID 42 with 0 updates."));
    EXPECT_TRUE(log_->contains("result: \"42\""));
    const auto recorded = events();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].name, "deviceRegistered");
    const std::map<std::string, std::string> expected = {
        {"deviceID", "42"}, {"updateCount", "0"}, {"testlevel", "0"}, {"pushlevel", "3"}};
    EXPECT_EQ(recorded[0].properties, expected);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    const auto body = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(body["push_token"], "(none)");
    EXPECT_EQ(body.size(), 15u);
}

TEST_F(QuovaDeviceManagerTest, BodyCarriesTheProbesAnswersAndTheApplicationVersion) {
    tervolo::testsupport::TemporaryFolder folder;
    tervolo::testsupport::FakeDesktopApplications apps(folder);
    apps.installApplication("org.signal.Signal.desktop", {"sgnl"});
    apps.installApplication("whatsapp.desktop", {"whatsapp"},
                            tervolo::testsupport::FakeDesktopApplications::Place::system);
    // The information dictionary as the build writes it.
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    server_.route("POST", "/apps/api/device",
                  CannedReply::json(R"({"deviceID":"0","updateCount":"0","testlevel":"0","pushlevel":"0"})"));
    auto manager = makeManager(server_.url(), &DeviceInformation::current);
    registerAndWait(*manager);
    // Signal goes away; the next registration says so.
    apps.writeConfigFile("mimeapps.list",
                         "[Removed Associations]\nx-scheme-handler/sgnl=org.signal.Signal.desktop\n");
    registerAndWait(*manager);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto first = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(first["supported_apps"], "signal,whatsapp");
    EXPECT_EQ(first["signal_supported"], 1);
    EXPECT_EQ(first["whatsapp_supported"], 1);
    EXPECT_EQ(first["app_version"], TERVOLO_PROJECT_VERSION)
        << "the application version, not the build number";
    EXPECT_EQ(first["bundle_id"], "org.tervolo.TervoloNG");
    EXPECT_EQ(first["device_hw_details"], appinfo::UIDevice_QuovaAdditions::quovaHardwareDescription());
    EXPECT_EQ(first["vendor_id"],
              platform::UserDefaults::standard().stringValue("QuovaVendorID").value_or("?"));
    EXPECT_EQ(first["ad_id"], "");
    const auto second = nlohmann::json::parse(requests[1].body);
    EXPECT_EQ(second["supported_apps"], "whatsapp");
    EXPECT_EQ(second["signal_supported"], 0);
    EXPECT_EQ(second["whatsapp_supported"], 1);
    EXPECT_EQ(second["vendor_id"], first["vendor_id"]);
}

TEST_F(QuovaDeviceManagerTest, UnusableIdentifiersStoreNothingAndStillEndTheRequest) {
    for (const char* identifier : {"0", "-5", " 7", "7a", "", "9223372036854775808"}) {
        SCOPED_TRACE(identifier);
        const std::string reply = std::string(R"({"deviceID":")") + identifier +
                                  R"(","updateCount":"1","testlevel":"1","pushlevel":"1"})";
        server_.route("POST", "/apps/api/device", CannedReply::json(reply));
        auto manager = makeManager(server_.url());
        registerAndWait(*manager);
        EXPECT_FALSE(manager->deviceID().has_value());
    }
    EXPECT_TRUE(events().empty());
}

TEST_F(QuovaDeviceManagerTest, StatusIsNotLookedAtAndAPlusSignReads) {
    server_.route(
        "POST", "/apps/api/device",
        CannedReply::json(R"({"deviceID":"+7","updateCount":"2","testlevel":"0","pushlevel":"0"})", 500));
    auto manager = makeManager(server_.url());
    registerAndWait(*manager);
    EXPECT_EQ(manager->deviceID(), 7);
}

TEST_F(QuovaDeviceManagerTest, UnreadableRepliesAreLoggedAndStoreNothing) {
    struct Case {
        const char* name;
        CannedReply reply;
    };
    const Case cases[] = {
        {"number identifier",
         CannedReply::json(R"({"deviceID":42,"updateCount":"1","testlevel":"1","pushlevel":"1"})")},
        {"not JSON", CannedReply::text("<html>captive portal</html>")},
        {"truncated", CannedReply::ofMode(CannedReply::Mode::resetAfterHeaders)},
        {"oversized", CannedReply::json(R"({"deviceID":")" + std::string(2 * 1024 * 1024, '1') + R"("})")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.route("POST", "/apps/api/device", c.reply);
        auto manager = makeManager(server_.url());
        registerAndWait(*manager);
        EXPECT_FALSE(manager->deviceID().has_value());
    }
    const auto infos = log_->texts(logging::QLLogFlag::info);
    EXPECT_GE(std::count(infos.begin(), infos.end(), "result: none"), 4);
    EXPECT_TRUE(events().empty());
}

TEST_F(QuovaDeviceManagerTest, OneRequestWhileInFlight) {
    server_.route("POST", "/apps/api/device",
                  CannedReply::json(R"({"deviceID":"5","updateCount":"1","testlevel":"1","pushlevel":"1"})")
                      .withDelay(0.3));
    auto manager = makeManager(server_.url());
    manager->registerWithBackend();
    const auto linesBefore = log_->texts().size();
    manager->registerWithBackend();
    manager->registerWithBackend();
    EXPECT_EQ(log_->texts().size(), linesBefore);  // no log line for the refused calls
    ASSERT_TRUE(runMainUntil([&] { return !manager->isRegistering(); }));
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(QuovaDeviceManagerTest, HeartbeatRegistersUntilAnIdentifierIsKnown) {
    std::atomic<int> answer{0};
    server_.route("POST", "/apps/api/device", [&](const tervolo::testsupport::RecordedRequest&) {
        // The first registration fails; the second succeeds.
        if (answer++ == 0) return CannedReply::text("busy", 503);
        return CannedReply::json(R"({"deviceID":"42","updateCount":"1","testlevel":"0","pushlevel":"0"})");
    });
    auto manager = makeManager(server_.url());

    time_->advance(9.9);
    EXPECT_EQ(server_.requestCount(), 0u);
    time_->advance(0.1);
    EXPECT_TRUE(log_->contains("heartbeat: no device ID found"));
    EXPECT_TRUE(log_->contains("starting device registration"));
    ASSERT_TRUE(runMainUntil([&] { return !manager->isRegistering(); }));
    EXPECT_FALSE(manager->deviceID().has_value());

    time_->advance(10);
    ASSERT_TRUE(runMainUntil([&] { return !manager->isRegistering(); }));
    EXPECT_EQ(manager->deviceID(), 42);

    time_->advance(10);
    time_->advance(10);
    EXPECT_EQ(server_.requestCount(), 2u);
    const auto infos = log_->texts(logging::QLLogFlag::info);
    EXPECT_EQ(std::count(infos.begin(), infos.end(), "heartbeat: found device ID 42"), 2);
}

TEST_F(QuovaDeviceManagerTest, HeartbeatDuringARequestOnlySaysSo) {
    server_.route("POST", "/apps/api/device", CannedReply::json("{}").withDelay(0.3));
    auto manager = makeManager(server_.url());
    manager->registerWithBackend();
    time_->advance(10);
    EXPECT_TRUE(log_->contains("device registration already underway"));
    ASSERT_TRUE(runMainUntil([&] { return !manager->isRegistering(); }));
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(QuovaDeviceManagerTest, FailedSecureConnectionRaisesTheAlert) {
    // https spoken to a plain HTTP server: the TLS handshake fails.
    auto manager = makeManager("https://127.0.0.1:" + std::to_string(server_.port()));
    registerAndWait(*manager);
    const auto raised = alerts();
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_FALSE(raised[0].empty());
    EXPECT_FALSE(manager->deviceID().has_value());
    bool loggedError = false;
    for (const auto& line : log_->texts()) loggedError |= line.rfind("error: ", 0) == 0;
    EXPECT_TRUE(loggedError);
}

TEST_F(QuovaDeviceManagerTest, OtherTransportErrorsRaiseNoAlert) {
    platform::Error timeout{"NSURLErrorDomain", -1001, "The request timed out."};
    auto manager = makeManager(server_.url());
    manager->handleDeviceRegistrationError(timeout);
    EXPECT_TRUE(alerts().empty());
    EXPECT_TRUE(log_->contains("error: The request timed out."));
}

}  // namespace
}  // namespace tervolo::backend
