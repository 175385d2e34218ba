#include <gtest/gtest.h>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "testsupport/UDPListener.hpp"
#include "tiles/UDPTilePreloader.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using testing::TilesTest;

class UDPTilePreloaderTest : public TilesTest {
  protected:
    size_t count(const std::string& text) {
        auto lines = frameworkLog_->texts();
        return size_t(std::count(lines.begin(), lines.end(), text));
    }
};

TEST_F(UDPTilePreloaderTest, EachURLIsOneDatagramOfExactlyItsBytes) {
    tervolo::testsupport::UDPListener listener;
    UDPTilePreloader preloader("127.0.0.1", std::to_string(listener.port()));
    preloader.connect();
    const std::string url = "https://tiles.example.invalid/tiles/osm-standa/12/2200/1.png";
    ASSERT_EQ(url.size(), 60u);
    preloader.send(url);
    preloader.send("https://tiles.example.invalid/tiles/osm-standard/12/2200/2.png");
    ASSERT_TRUE(listener.waitForDatagrams(2));
    EXPECT_EQ(
        listener.datagrams(),
        (std::vector<std::string>{url, "https://tiles.example.invalid/tiles/osm-standard/12/2200/2.png"}));
    platform::DispatchQueue::global()->sync([] {});
    EXPECT_GE(count("UDPTilePreloader - Entered state: ready"), 1u);
    EXPECT_GE(count("UDPTilePreloader - Connection is viable"), 1u);
}

TEST_F(UDPTilePreloaderTest, WithoutAValidEndpointNothingConnectsAndEverySendIsLogged) {
    struct Case {
        const char* host;
        const char* port;
    } cases[] = {{"127.0.0.1", "abc"}, {"127.0.0.1", "0"}, {"127.0.0.1", "65536"}, {"", "1731"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + ":" + c.port);
        const size_t connects = count("UDPTilePreloader - can't connect, set endpoint host & port first!");
        const size_t sends =
            count("UDPTilePreloader - Can't send, connection must be opened before sending data.");
        UDPTilePreloader preloader(c.host, c.port);
        preloader.connect();
        preloader.send("http://x.invalid/1/2/3.png");
        preloader.send("http://x.invalid/1/2/4.png");
        EXPECT_EQ(count("UDPTilePreloader - can't connect, set endpoint host & port first!"), connects + 1);
        EXPECT_EQ(count("UDPTilePreloader - Can't send, connection must be opened before sending data."),
                  sends + 2);
    }
}

TEST_F(UDPTilePreloaderTest, TheDefaultSettingIsDisabled) {
    EXPECT_EQ(UDPTilePreloader::configuredHost(), "");
    EXPECT_EQ(UDPTilePreloader::configuredPort(), "1731");
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaTilePreloadHost", "127.0.0.1"}, {"QuovaTilePreloadPort", "4000"}});
    EXPECT_EQ(UDPTilePreloader::configuredHost(), "127.0.0.1");
    EXPECT_EQ(UDPTilePreloader::configuredPort(), "4000");
}

TEST_F(UDPTilePreloaderTest, ANameInsteadOfAnAddressFailsWithoutALookup) {
    tervolo::testsupport::UDPListener listener;
    UDPTilePreloader preloader("localhost", std::to_string(listener.port()));
    preloader.connect();
    preloader.send("http://x.invalid/1/2/3.png");
    platform::DispatchQueue::global()->sync([] {});
    EXPECT_FALSE(listener.waitForDatagrams(1, 0.2));
}

}  // namespace
}  // namespace tervolo::tiles
