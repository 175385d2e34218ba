#pragma once

#include <any>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLogFlag.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/text/Color.hpp"

namespace tervolo::logging {

// What the terminal understands, decided from the environment.
enum class QLTTYTerminal {
    plain,        // no colours: every escape code is empty
    color16,      // "TERM" contains "color": the 16-colour palette
    color256,     // "TERM" contains "color" and "256": the 256-colour palette
    xcodeColors,  // "XcodeColors" is exactly "YES": true-colour "fg r,g,b;" codes
};

// One terminal palette: entry i has a colour (components 0 to 255) and the
// escape-code suffixes that select it as foreground and as background.
struct QLTTYLoggerPalette {
    struct Entry {
        uint8_t red, green, blue;
        std::string foregroundCode;  // "31m", "38;5;196m"
        std::string backgroundCode;  // "41m", "48;5;196m"
    };
    std::vector<Entry> entries;

    // The 16 basic terminal colours ("30m" … "1;37m").
    static const QLTTYLoggerPalette& colors16();
    // The terminal colours 16 to 255 in order (240 entries, "38;5;16m" …).
    static const QLTTYLoggerPalette& colors256();
    // colors16, colors256, or none (plain and Xcode-colours terminals use no palette).
    static const QLTTYLoggerPalette* forTerminal(QLTTYTerminal terminal);
};

// The escape codes for one flag (and context) or one tag, computed once when
// the profile is made so that writing a record only copies them.
struct QLTTYLoggerColorProfile {
    QLTTYLoggerColorProfile(std::optional<platform::Color> foregroundColor,
                            std::optional<platform::Color> backgroundColor, QLLogFlag flag, int64_t context,
                            QLTTYTerminal terminal);

    QLLogFlag mask;
    int64_t context;  // QLTTYLogger::kEveryContext: every context
    // sRGB components times 255, truncated (clamped to 0…255 for colours
    // outside the sRGB gamut); 0 for an absent colour.
    uint8_t fg_r = 0, fg_g = 0, fg_b = 0;
    uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
    size_t fgCodeIndex = 0;
    std::string fgCodeRaw;
    size_t bgCodeIndex = 0;
    std::string bgCodeRaw;
    char fgCode[24] = {};
    size_t fgCodeLen = 0;
    char bgCode[24] = {};
    size_t bgCodeLen = 0;
    char resetCode[8] = {};
    size_t resetCodeLen = 0;

    std::string_view foregroundCode() const { return {fgCode, fgCodeLen}; }
    std::string_view backgroundCode() const { return {bgCode, bgCodeLen}; }
    std::string_view reset() const { return {resetCode, resetCodeLen}; }

    // "<QLTTYLoggerColorProfile: 0x… mask:1 ctxt:2147483647 fg:214,57,30 bg:0,0,0 fgCode:… bgCode:…>"
    std::string description() const;
};

// Writes every record to standard error, one line per record, optionally
// coloured per flag, per flag and context, or per tag:
//
//   2024-05-01 13:45:07:123 Name[812:907] message
//
// Each record goes out in ONE writev(2), so lines from several processes
// sharing the terminal never interleave within a line; no intermediate string
// is built. The timestamp is local time with truncated milliseconds; the
// thread id is cut to 8 characters.
//
// Colour settings live on the logger's queue: an operation called from
// elsewhere hops asynchronously through the logging queue to the logger's
// queue (the framework's lock order), so it never lands in the middle of a
// record; colorsEnabled() waits through both queues and so sees every change
// queued before it. Called on the logger's queue an operation runs at once.
//
// Message text is written as it is: escape sequences in it reach the terminal.
class QLTTYLogger : public QLAbstractLogger {
  public:
    static constexpr const char* kLoggerName = "quova.logging.ttyLogger";
    // The context value that means "every context" (the largest 32-bit signed value).
    static constexpr int64_t kEveryContext = 2147483647;
    static constexpr const char* kUnnamedApp = "<UnnamedApp>";

    // Where and how a logger writes. The shared instance writes to standard
    // error with the process's name and id and the terminal of the environment.
    struct Options {
        int fd = 2;
        std::string processName;  // empty: "<UnnamedApp>"
        int processID = 0;
        QLTTYTerminal terminal = QLTTYTerminal::plain;
    };

    // The one terminal logger of the process, made on first use, never destroyed.
    static const std::shared_ptr<QLTTYLogger>& sharedInstance();
    // The platform's initialiser: empty once the shared instance exists (there
    // is one terminal logger per standard error); otherwise a logger like it.
    static std::shared_ptr<QLTTYLogger> make();
    // A logger writing to a descriptor of the caller's (tests capture its bytes
    // through a pipe; a developer tool may write to a file). The descriptor is
    // not closed by the logger. Writes the console warning like `create`.
    static std::shared_ptr<QLTTYLogger> make(Options options);

    // "TERM" and "XcodeColors" as read from the environment (absent: nullopt).
    static QLTTYTerminal terminalForEnvironment(const std::optional<std::string>& term,
                                                const std::optional<std::string>& xcodeColors);
    // The terminal of this process's environment, decided once.
    static QLTTYTerminal environmentTerminal();

    // The sRGB components (0 to 1) of a colour; a null pointer is skipped.
    static void getRed(double* red, double* green, double* blue, const platform::Color& fromColor);
    // The palette entry nearest in red-green-blue distance; ties keep the
    // earlier entry; 0 for an empty palette.
    static size_t codeIndexForColor(const platform::Color& color, const QLTTYLoggerPalette& palette);

    void logMessage(const QLLogMessagePtr& logMessage) override;

    // Waits through the logging queue and the logger's queue.
    bool colorsEnabled();
    // Asynchronous; loads the default error and warning profiles when there is
    // no flag profile yet, whatever the new value.
    void setColorsEnabled(bool colorsEnabled);

    // For every context. Either colour may be absent (no colour on that side).
    void setForegroundColor(std::optional<platform::Color> foregroundColor,
                            std::optional<platform::Color> backgroundColor, QLLogFlag forFlag);
    // Replaces the profile of exactly this flag mask and context, or appends one.
    void setForegroundColor(std::optional<platform::Color> foregroundColor,
                            std::optional<platform::Color> backgroundColor, QLLogFlag forFlag,
                            int64_t context);
    // The tag must be a text or an integer (values that compare by value);
    // any other tag fails the assertion "Invalid tag" and is ignored.
    void setForegroundColor(std::optional<platform::Color> foregroundColor,
                            std::optional<platform::Color> backgroundColor, const std::any& forTag);

    // Removes the profile set for the flag with setForegroundColor(fg, bg, flag),
    // that is the every-context profile of exactly this mask.
    void clearColorsForFlag(QLLogFlag flag);
    // Removes the profile of exactly this mask and context.
    void clearColorsForFlag(QLLogFlag flag, int64_t context);
    void clearColorsForTag(const std::any& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();

    // Whether a custom formatter's text gets a newline when it has none; true initially.
    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_.load(); }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value) { appendNewline_.store(value); }

    QLTTYTerminal terminal() const { return terminal_; }
    const std::string& appName() const { return appName_; }
    const std::string& processID() const { return processID_; }

    // Use sharedInstance() or make().
    struct Token {
      private:
        Token() = default;
        friend class QLTTYLogger;
    };
    QLTTYLogger(Token, Options options);

  private:
    // A tag by value: a text, or an integer (all integer types compare as one).
    struct TagKey {
        bool isText = false;
        int64_t number = 0;
        std::string text;
        auto operator<=>(const TagKey&) const = default;
    };
    static std::optional<TagKey> tagKey(const std::any& tag);

    // Runs `change` on the logger's queue (see the class comment).
    void changeColors(std::function<void()> change);
    void loadDefaultColorProfiles();
    void addProfile(QLTTYLoggerColorProfile profile);
    const QLTTYLoggerColorProfile* profileFor(const QLLogMessage& message) const;
    std::string_view timestampText(platform::Date date);
    void write(std::string_view fg, std::string_view bg, std::string_view reset, std::string_view text,
               const QLLogMessage& message, bool customFormatted);

    const int fd_;
    const QLTTYTerminal terminal_;
    const std::string appName_;
    const std::string processID_;
    std::atomic<bool> appendNewline_{true};

    // Touched only on the logger's queue.
    bool colorsEnabled_ = false;
    std::vector<QLTTYLoggerColorProfile> colorProfilesArray_;
    std::map<TagKey, QLTTYLoggerColorProfile> colorProfilesDict_;
    // The last timestamp text and its whole millisecond since 1970.
    std::optional<double> timestampMillisecond_;
    std::string timestamp_;
};

}  // namespace tervolo::logging
