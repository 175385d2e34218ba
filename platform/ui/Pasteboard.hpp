#pragma once

#include <optional>
#include <string>

namespace platform {

template <class T, class Tag>
class SharedInstance;

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
    template <class T, class Tag>
    friend class SharedInstance;
    Pasteboard() = default;
};

}  // namespace platform
