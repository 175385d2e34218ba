#pragma once

#include <optional>
#include <string>

namespace platform {

// The general pasteboard: the system clipboard's text (QClipboard). Needs a
// QGuiApplication. Main thread only.
class Pasteboard {
  public:
    static Pasteboard& general();

    // None when the clipboard holds no text.
    std::optional<std::string> string() const;
    void setString(const std::string& text);
    bool hasStrings() const;

  private:
    Pasteboard() = default;
};

}  // namespace platform
