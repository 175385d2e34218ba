#include "points/QuovaAppVersion.hpp"

#include "platform/foundation/Bundle.hpp"

namespace tervolo::points {

std::string quovaAppVersion() {
    return platform::Bundle::main().infoString("CFBundleVersion").value_or("");
}

}  // namespace tervolo::points
