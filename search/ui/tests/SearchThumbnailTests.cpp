#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <algorithm>

#include <zlib.h>

#include "SearchUITestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "search/ui/SearchThumbnailLoader.hpp"
#include "search/ui/ThumbnailMemoryCache.hpp"
#include "testsupport/LoopbackHTTPServer.hpp"

namespace search_ui_test {
namespace {

using search::SearchThumbnailLoader;
using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackHTTPServer;

std::string pngBytes(QSize size = QSize(8, 8)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

CannedReply pngReply(std::string body) {
    CannedReply reply = CannedReply::text(std::move(body));
    reply.headers = {{"Content-Type", "image/png"}};
    return reply;
}

struct Delivery {
    int waiter;
    std::string title;
    bool withImage;
};

class SearchThumbnailTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }
    void TearDown() override { platform::RunLoop::runUntilIdle(); }

    // Ten rows of the same address ask while its download runs.
    void askTenTimes(const std::string& address) {
        for (int i = 0; i < 10; ++i) {
            loader_->loadPreviewImage(
                place("Row " + std::to_string(i), 0, 0, "backend", address),
                [this, i](const points::QuovaPlacemark& p, std::optional<QImage> image) {
                    deliveries_.push_back({i, p.title, image.has_value()});
                });
        }
    }

    LoopbackHTTPServer server_;
    std::shared_ptr<SearchThumbnailLoader> loader_ = SearchThumbnailLoader::make();
    std::vector<Delivery> deliveries_;
};

TEST_F(SearchThumbnailTest, TenRowsOfOneAddressMakeOneRequestAndAreServedInOrder) {
    server_.route("GET", "/a.png", pngReply(pngBytes()));
    const std::string address = server_.url("/a.png");
    askTenTimes(address);
    EXPECT_EQ(loader_->waitingCount(address), 10u);
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return deliveries_.size() == 10; }, 10));
    EXPECT_EQ(server_.requestCount(), 1u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(deliveries_[i].waiter, i);
        EXPECT_EQ(deliveries_[i].title, "Row 0") << "every waiter gets the result that started the download";
        EXPECT_TRUE(deliveries_[i].withImage);
    }
    EXPECT_EQ(loader_->waitingCount(address), 0u);
    EXPECT_EQ(loader_->imageCache().count(), 1u);
    EXPECT_EQ(loader_->imageCache().totalCost(), static_cast<int64_t>(pngBytes().size()));

    // A cache hit is delivered later on the main queue, never inside the call.
    deliveries_.clear();
    loader_->loadPreviewImage(place("Again", 0, 0, "backend", address),
                              [this](const points::QuovaPlacemark& p, std::optional<QImage> image) {
                                  deliveries_.push_back({0, p.title, image.has_value()});
                              });
    EXPECT_TRUE(deliveries_.empty());
    platform::RunLoop::runUntilIdle();
    ASSERT_EQ(deliveries_.size(), 1u);
    EXPECT_TRUE(deliveries_[0].withImage);
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(SearchThumbnailTest, AFailedDownloadCallsOnlyItsStarterAndTheNextAskDownloadsAgain) {
    struct Case {
        const char* name;
        CannedReply reply;
    };
    const Case cases[] = {
        {"not an image", CannedReply::text("<html>not found</html>", 404)},
        {"over 2 MiB", pngReply(std::string(3 * 1024 * 1024, 'x'))},
        {"connection reset",
         [] {
             CannedReply r;
             r.mode = CannedReply::Mode::resetBeforeReply;
             return r;
         }()},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/f" + std::to_string(n++) + ".png";
        server_.route("GET", path, c.reply);
        deliveries_.clear();
        const size_t before = server_.requestCount();
        askTenTimes(server_.url(path));
        ASSERT_TRUE(platform::RunLoop::runUntil([&] { return !deliveries_.empty(); }, 10));
        platform::RunLoop::runUntilIdle();
        ASSERT_EQ(deliveries_.size(), 1u);
        EXPECT_EQ(deliveries_[0].waiter, 0);
        EXPECT_FALSE(deliveries_[0].withImage);
        EXPECT_EQ(loader_->waitingCount(server_.url(path)), 0u);
        askTenTimes(server_.url(path));
        ASSERT_TRUE(platform::RunLoop::runUntil([&] { return deliveries_.size() == 2; }, 10));
        EXPECT_EQ(server_.requestCount(), before + 2);
    }
    EXPECT_EQ(loader_->imageCache().count(), 0u);
}

TEST_F(SearchThumbnailTest, OnlyHttpAndHttpsAddressesAreFetched) {
    struct Case {
        std::string address;
        bool fetched;
    };
    const Case cases[] = {
        {"file:///etc/passwd", false},
        {"ftp://127.0.0.1/a.png", false},
        {"data:image/png;base64,AAAA", false},
        {"not a url at all", false},
        {"", false},
        {"http://127.0.0.1:1/a.png", true},
        {"HTTPS://127.0.0.1:1/a.png", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(SearchThumbnailLoader::isDownloadableAddress(c.address), c.fetched);
    }
    loader_->loadPreviewImage(
        place("Local", 0, 0, "backend", "file:///etc/passwd"),
        [this](const points::QuovaPlacemark&, std::optional<QImage>) { deliveries_.push_back({}); });
    platform::RunLoop::runUntilIdle();
    EXPECT_TRUE(deliveries_.empty()) << "a refused address calls nobody";
    EXPECT_EQ(loader_->waitingCount("file:///etc/passwd"), 0u);
}

TEST(ThumbnailMemoryCacheTest, EvictsTheLeastRecentlyUsedBeyondTheCostLimit) {
    search::ThumbnailMemoryCache cache(100);
    cache.setObject("a", QImage(), 40);
    cache.setObject("b", QImage(), 40);
    ASSERT_TRUE(cache.object("a"));  // "a" is now the most recent
    cache.setObject("c", QImage(), 40);
    EXPECT_TRUE(cache.object("a"));
    EXPECT_FALSE(cache.object("b"));
    EXPECT_TRUE(cache.object("c"));
    EXPECT_EQ(cache.totalCost(), 80);
    cache.setObject("huge", QImage(), 101);
    EXPECT_FALSE(cache.object("huge"));
    EXPECT_EQ(cache.totalCost(), 80);
    cache.setObject("a", QImage(), 10);
    EXPECT_EQ(cache.totalCost(), 50);
    EXPECT_EQ(search::ThumbnailMemoryCache().totalCostLimit(), 32 * 1024 * 1024);
}

}  // namespace
}  // namespace search_ui_test

namespace search_ui_test {
namespace {

// Downloads end on the session's queue while the main thread keeps asking:
// every hand-over must reach the main queue intact (run under TSan in CI).
TEST_F(SearchThumbnailTest, ManyDownloadsAtOnceEachServeTheirWaitersOnce) {
    const std::string png = pngBytes();
    server_.setFallback(pngReply(png));
    constexpr int kAddresses = 40;
    constexpr int kWaiters = 5;
    std::vector<int> served(kAddresses, 0);
    for (int round = 0; round < kWaiters; ++round) {
        for (int a = 0; a < kAddresses; ++a) {
            loader_->loadPreviewImage(
                place("P", 0, 0, "backend", server_.url("/img" + std::to_string(a) + ".png")),
                [&served, a](const points::QuovaPlacemark&, std::optional<QImage> image) {
                    if (image) ++served[static_cast<size_t>(a)];
                });
        }
    }
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] { return std::all_of(served.begin(), served.end(), [](int n) { return n == kWaiters; }); }, 30));
    EXPECT_EQ(server_.requestCount(), static_cast<size_t>(kAddresses));
    EXPECT_EQ(loader_->imageCache().count(), static_cast<size_t>(kAddresses));
}

}  // namespace
}  // namespace search_ui_test

namespace search_ui_test {
namespace {

using search::SearchThumbnailLoader;

// A PNG of `width` x `height` black RGB pixels, compressed row by row (a
// picture of many pixels in few bytes).
std::vector<uint8_t> blackPNG(uint32_t width, uint32_t height) {
    auto be32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    };
    auto chunk = [&](std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
        be32(out, static_cast<uint32_t>(body.size()));
        std::vector<uint8_t> typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        out.insert(out.end(), typed.begin(), typed.end());
        be32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
    };
    std::vector<uint8_t> header;
    be32(header, width);
    be32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    std::vector<uint8_t> compressed;
    z_stream stream{};
    deflateInit(&stream, 9);
    std::vector<uint8_t> row(1 + 3 * static_cast<size_t>(width), 0);
    std::vector<uint8_t> buffer(1 << 16);
    for (uint32_t y = 0; y < height; ++y) {
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            compressed.insert(compressed.end(), buffer.data(),
                              buffer.data() + (buffer.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", compressed);
    chunk(png, "IEND", {});
    return png;
}

// A small file may announce a picture far larger than a thumbnail: it is
// refused before its pixels are allocated.
TEST(SearchThumbnailDecodeTest, APictureBeyondTheAllocationLimitIsRefused) {
    ensureApplication();
    const auto small = blackPNG(200, 150);
    const auto image = SearchThumbnailLoader::decodeThumbnail(small);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(200, 150));
    const auto large = blackPNG(4600, 4600);  // about 85 MB once decoded
    ASSERT_LT(large.size(), static_cast<size_t>(SearchThumbnailLoader::kMaximumImageBytes));
    EXPECT_FALSE(SearchThumbnailLoader::decodeThumbnail(large));
    EXPECT_FALSE(SearchThumbnailLoader::decodeThumbnail({}));
    EXPECT_FALSE(SearchThumbnailLoader::decodeThumbnail(std::vector<uint8_t>(100, 0x42)));
}

}  // namespace
}  // namespace search_ui_test
