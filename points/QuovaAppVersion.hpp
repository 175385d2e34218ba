#pragma once

#include <string>

namespace tervolo::points {

// The application's version text, stamped into every saved point and tag: the
// shell's quovaAppVersion, the "CFBundleVersion" of the main bundle's
// information dictionary, or the empty text when that key is absent or not a
// text.
std::string quovaAppVersion();

}  // namespace tervolo::points
