// Thumbnail data and image addresses as a backend or an image server may send
// them: decoding stays within its limits and the address check never fails.
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "search/ui/SearchThumbnailLoader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz_search_thumbnail";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)application;
    const std::vector<uint8_t> bytes(data, data + size);
    (void)tervolo::search::SearchThumbnailLoader::decodeThumbnail(bytes);
    (void)tervolo::search::SearchThumbnailLoader::isDownloadableAddress(
        std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
