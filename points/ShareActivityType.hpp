#pragma once

// The share sheet's ways of sharing, as the point's item request tells them
// apart.
namespace tervolo::points {

// The activity types the share item answers specially; any other text (or
// none) gets the plain "title link" text. The share sheet of the UI layer
// passes these values.
inline constexpr const char* UIActivityTypeAirDrop = "com.apple.UIKit.activity.AirDrop";
inline constexpr const char* UIActivityTypeMessage = "com.apple.UIKit.activity.Message";
inline constexpr const char* UIActivityTypeCopyToPasteboard = "com.apple.UIKit.activity.CopyToPasteboard";
inline constexpr const char* UIActivityTypePostToTwitter = "com.apple.UIKit.activity.PostToTwitter";
inline constexpr const char* UIActivityTypeMail = "com.apple.UIKit.activity.Mail";

}  // namespace tervolo::points
