#include "tiles/TileLog.hpp"

#include "platform/foundation/OSLog.hpp"

namespace tervolo::tiles {

void tileLog(std::string_view text) {
    platform::OSLog::defaultLog()->write(platform::OSLogType::Default, text);
}

}  // namespace tervolo::tiles
