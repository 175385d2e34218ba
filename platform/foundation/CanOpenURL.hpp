#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Whether the desktop has an application that opens `urlText`, found the way
// the desktop's own opener (xdg-open) finds one: "file" URLs always open; any
// other scheme opens when an installed desktop entry is associated with the
// MIME type "x-scheme-handler/<scheme>" (see desktopHandlesMimeType). Text
// that is not a well-formed absolute URL answers false.
//
// Nothing is cached: every call reads the registry again, so an application
// installed or removed while the program runs counts at the next call. Any
// thread; it reads files, so keep it off paths that must not block.
bool canOpenURL(std::string_view urlText);

// The scheme of an absolute URL, lower-cased: "SGNL://test/" gives "sgnl".
// Nothing when the text is not a URI as RFC 3986 writes one (a character
// outside the URI set, a bad percent escape, no scheme).
std::optional<std::string> urlScheme(std::string_view urlText);

// Whether an installed application claims `mimeType`, by the XDG rules:
// - the folders are $XDG_CONFIG_HOME and $XDG_CONFIG_DIRS (for mimeapps.list),
//   then the "applications" folders of $XDG_DATA_HOME and $XDG_DATA_DIRS
//   (for mimeapps.list, mimeinfo.cache and the desktop entries), each list
//   in its order of precedence, with the XDG defaults for unset variables;
// - a desktop entry's identifier is its path below an "applications" folder
//   with "/" read as "-"; the first well-formed entry of an identifier in
//   that order is the one installed, unless it is hidden (Hidden=true) or no
//   application (Type other than Application);
// - mimeapps.list files ("<desktop>-mimeapps.list" for each name in
//   $XDG_CURRENT_DESKTOP, then "mimeapps.list") are read in that order: their
//   added associations and default applications count unless a file read
//   earlier removed them, and their removed associations hide the
//   identifier from every later file and from the entries' own claims;
// - an entry claims the types of its MimeType= line and those mimeinfo.cache
//   lists for it.
// Files that cannot be read, are larger than their cap (64 KiB for an entry,
// 1 MiB for a list or cache) or are not well-formed key files are skipped.
bool desktopHandlesMimeType(const std::string& mimeType);

}  // namespace platform
