#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace tervolo::app {

// The program's answer to `--version`, read from the main bundle's information
// dictionary: "<CFBundleName> <CFBundleShortVersionString> (build <QXBuildNumber>)",
// for instance "TervoloNG 1.0.0 (build 1)". A missing name reads "TervoloNG", a
// missing short version the bundle version; without a build number the
// parenthesis is left out. Any thread.
std::string versionText();

// When one of the arguments is "--version", writes versionText() and a newline
// to `out` and answers the exit status (0); otherwise writes nothing and
// answers none. It needs no display, so it runs before the application object
// exists.
std::optional<int> answerVersionOption(int argc, const char* const* argv, std::FILE* out = stdout);

}  // namespace tervolo::app
