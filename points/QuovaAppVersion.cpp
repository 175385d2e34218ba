#include "points/QuovaAppVersion.hpp"

#include "appinfo/QuovaApplicationAdditions.hpp"

namespace tervolo::points {

std::string quovaAppVersion() {
    return appinfo::QuovaApplicationAdditions::quovaAppVersion();
}

}  // namespace tervolo::points
