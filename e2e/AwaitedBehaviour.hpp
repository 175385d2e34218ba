#pragma once

// Steps of the end-to-end runs that drive behaviour still being built
// elsewhere. Each switch turns its steps on; while it is off those steps are
// skipped (and say so in the run's output), never failed.
namespace tervolo::e2e {

// The stored points appear on the map as pins when the map screen loads.
constexpr bool kStoredPointsShowOnMap = true;
// A long press on the map makes "New Location", which the reverse geocode retitles and saves.
constexpr bool kLongPressAddsPoints = true;
// The map screen makes a point from an incoming short link, refusing one within 25 m of a stored point.
constexpr bool kIncomingShortLinksAddPoints = true;
// The map delegate gives the tile overlay its renderer, so the map asks the tile server for tiles.
constexpr bool kMapDelegateDrawsTiles = true;
// A pin's callout opens the share sheet, whose copy puts the point's short link on the clipboard.
constexpr bool kCalloutSharesPoints = false;
// A second start of the program hands its links to the running instance and exits 0.
constexpr bool kSecondStartHandsOverLinks = true;
// The restoration archive saves at quit and restores at launch, only for the same application version.
constexpr bool kRestorationArchive = true;
// The map screen restores its style and region from the archive.
constexpr bool kMapRestoresStyleAndRegion = true;
// Choosing a search result selects its point on the map.
constexpr bool kSearchResultSelectsPoint = true;

// The information key naming the short-link host.
constexpr const char* kShortLinkHostKey = "QuovaShortLinkHost";

}  // namespace tervolo::e2e
