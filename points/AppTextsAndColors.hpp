#pragma once

#include <string>

#include "platform/text/Color.hpp"

// Values several screens share, each made once on its first read (from any
// thread; the making runs exactly once) and kept for the rest of the run. A
// change of the user's language later in the run is not seen by texts made
// already.
namespace tervolo::points {

// Localized texts; the English text is the key and the fallback.
const std::string& sharedLocationTitle();      // "Location Shared By Tervolo"
const std::string& newLocationTitle();         // "New Location"
const std::string& myPositionText();           // "My Position"
const std::string& unknownSpeedBearingText();  // "(unknown speed/bearing)"
const std::string& localDataSourceName();      // "local data"

// The hex colour "326496" (50, 100, 150 of 255, opaque); the standard blue
// should that text ever fail to read.
const platform::Color& appTintColor();
// The standard red: pins without a tag colour, and the tags' fallback colour.
const platform::Color& defaultPointColor();

// The named colour spaces the colour conversions recognise.
platform::Color::Space sRGBColorSpace();
platform::Color::Space extendedSRGBColorSpace();
platform::Color::Space displayP3ColorSpace();

}  // namespace tervolo::points
