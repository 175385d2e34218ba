#pragma once

#include <string>

namespace platform {

// The name of the platform this program is built for: every text that names
// the platform (About, the PDF's creator, the share mail) takes it from here.
inline constexpr const char* kPlatformName = "Linux";

// "<product> for <platform>" ("Tervolo for Linux"), translated with that text
// as the key.
std::string productNameForPlatform(const std::string& product);

}  // namespace platform
