#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The "key file" text format of the desktop's application registry: desktop
// entries (*.desktop), mimeapps.list and mimeinfo.cache. Lines are "[Group]"
// headers, "Key=Value" pairs inside a group, comments ("#...") and blank
// lines. Any thread; a plain value.
//
// parse() refuses, instead of guessing at, text that does not have this
// shape: a pair before the first group, a line that is neither header, pair
// nor comment, a header with brackets inside, a group that appears twice, a
// NUL byte or invalid UTF-8. Blanks around "=" are not part of key or value;
// a repeated key keeps its first value (mimeapps.list files edited by hand
// often repeat one).
class DesktopKeyFile {
  public:
    // Group name → key → raw value (escapes such as "\s" are left as they are:
    // no caller reads a value that uses them).
    using Group = std::map<std::string, std::string>;

    static std::optional<DesktopKeyFile> parse(std::string_view text);

    // The groups in the order they appear.
    const std::vector<std::string>& groupNames() const { return groupNames_; }
    const Group* group(const std::string& name) const;
    std::optional<std::string> value(const std::string& group, const std::string& key) const;
    // A ";"-separated list value split into its non-empty items ("a;b;" → a, b).
    std::vector<std::string> list(const std::string& group, const std::string& key) const;

    static std::vector<std::string> splitList(std::string_view value);

  private:
    std::vector<std::string> groupNames_;
    std::map<std::string, Group> groups_;
};

}  // namespace platform
