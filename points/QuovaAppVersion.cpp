#include "points/QuovaAppVersion.hpp"

#include "app/info/QuovaApplicationAdditions.hpp"

namespace tervolo::points {

std::string quovaAppVersion() {
    return app::QuovaApplicationAdditions::quovaAppVersion();
}

}  // namespace tervolo::points
