#include "logging/QLTTYLogger.hpp"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "logging/QLLog.hpp"
#include "platform/dispatch/DateFormat.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/ProcessInfo.hpp"

namespace tervolo::logging {

namespace {

constexpr std::string_view kConsoleWarning =
    "QuovaLogging: Warning: Usage of QLTTYLogger detected when QLOSLogger is available and can be used! "
    "Please consider migrating to QLOSLogger.";
constexpr const char* kAssertionFile = "QLTTYLogger";
constexpr const char* kEscape = "\033[";

struct RGB {
    uint8_t red, green, blue;
};

// The 256-colour terminal's colours 16 to 255: the 6×6×6 cube (16–231) at the
// usual xterm levels and the grey ramp (232–255), with the first eight and the
// last eight rows as measured on the platform's terminal. Entries in between
// are the xterm values, which keep neighbouring rows close colours.
constexpr std::array<RGB, 240> make256Table() {
    constexpr uint8_t levels[6] = {0, 95, 135, 175, 215, 255};
    std::array<RGB, 240> table{};
    for (int i = 0; i < 216; ++i) {
        table[static_cast<size_t>(i)] = {levels[i / 36], levels[(i / 6) % 6], levels[i % 6]};
    }
    for (int i = 0; i < 24; ++i) {
        const auto v = static_cast<uint8_t>(8 + 10 * i);
        table[static_cast<size_t>(216 + i)] = {v, v, v};
    }
    constexpr RGB first[8] = {{47, 49, 49},  {60, 42, 144}, {66, 44, 183}, {73, 46, 222},
                              {81, 50, 253}, {88, 51, 255}, {42, 128, 37}, {42, 127, 128}};
    constexpr RGB last[8] = {{184, 185, 186}, {192, 193, 194}, {200, 201, 202}, {208, 209, 210},
                             {216, 218, 218}, {224, 226, 226}, {232, 234, 234}, {240, 242, 242}};
    for (size_t i = 0; i < 8; ++i) {
        table[i] = first[i];
        table[232 + i] = last[i];
    }
    return table;
}

uint8_t componentByte(double component) {
    // Times 255 truncated; a colour outside the sRGB gamut is clamped, not
    // wrapped into an unrelated byte.
    const double scaled = std::trunc(component * 255.0);
    if (!(scaled > 0)) return 0;
    return scaled >= 255 ? 255 : static_cast<uint8_t>(scaled);
}

// Writes every byte of the pieces, continuing after a partial write, an
// interruption or a full non-blocking descriptor, so one record is never cut
// short. A write error drops the rest of the record: the logger has nowhere to
// report it.
void writeAll(int fd, iovec* pieces, int count) {
    while (count > 0) {
        const ssize_t written = ::writev(fd, pieces, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd waitFor{fd, POLLOUT, 0};
                if (::poll(&waitFor, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return;
        }
        auto remaining = static_cast<size_t>(written);
        while (count > 0 && remaining >= pieces->iov_len) {
            remaining -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + remaining;
            pieces->iov_len -= remaining;
        }
    }
}

iovec piece(std::string_view text) {
    return iovec{const_cast<char*>(text.data()), text.size()};
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
               const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(a) == lower(b);
           }) != text.end();
}

std::atomic<bool> gSharedInstanceMade{false};

QLTTYLogger::Options sharedOptions() {
    auto& info = platform::ProcessInfo::processInfo();
    return {2, info.processName(), info.processIdentifier(), QLTTYLogger::environmentTerminal()};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Palettes

const QLTTYLoggerPalette& QLTTYLoggerPalette::colors16() {
    static const auto* palette = new QLTTYLoggerPalette{{
        {0, 0, 0, "30m", "40m"},
        {194, 54, 33, "31m", "41m"},
        {37, 188, 36, "32m", "42m"},
        {173, 173, 39, "33m", "43m"},
        {73, 46, 225, "34m", "44m"},
        {211, 56, 211, "35m", "45m"},
        {51, 187, 200, "36m", "46m"},
        {203, 204, 205, "37m", "47m"},
        {129, 131, 131, "1;30m", "1;40m"},
        {252, 57, 31, "1;31m", "1;41m"},
        {49, 231, 34, "1;32m", "1;42m"},
        {234, 236, 35, "1;33m", "1;43m"},
        {88, 51, 255, "1;34m", "1;44m"},
        {249, 53, 248, "1;35m", "1;45m"},
        {20, 240, 240, "1;36m", "1;46m"},
        {233, 235, 235, "1;37m", "1;47m"},
    }};
    return *palette;
}

const QLTTYLoggerPalette& QLTTYLoggerPalette::colors256() {
    static const auto* palette = [] {
        constexpr auto table = make256Table();
        auto* result = new QLTTYLoggerPalette;
        result->entries.reserve(table.size());
        for (size_t i = 0; i < table.size(); ++i) {
            const std::string index = std::to_string(i + 16);
            result->entries.push_back(
                {table[i].red, table[i].green, table[i].blue, "38;5;" + index + "m", "48;5;" + index + "m"});
        }
        return result;
    }();
    return *palette;
}

const QLTTYLoggerPalette* QLTTYLoggerPalette::forTerminal(QLTTYTerminal terminal) {
    switch (terminal) {
        case QLTTYTerminal::color16:
            return &colors16();
        case QLTTYTerminal::color256:
            return &colors256();
        case QLTTYTerminal::plain:
        case QLTTYTerminal::xcodeColors:
            break;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Colour profile

QLTTYLoggerColorProfile::QLTTYLoggerColorProfile(std::optional<platform::Color> foregroundColor,
                                                 std::optional<platform::Color> backgroundColor,
                                                 QLLogFlag flag, int64_t context, QLTTYTerminal terminal)
    : mask(flag), context(context) {
    const QLTTYLoggerPalette* palette = QLTTYLoggerPalette::forTerminal(terminal);
    const auto side = [&](const std::optional<platform::Color>& color, uint8_t& r, uint8_t& g, uint8_t& b,
                          size_t& index, std::string& raw, char* code, size_t& codeLen, bool foreground) {
        if (!color) return;
        double red = 0, green = 0, blue = 0;
        QLTTYLogger::getRed(&red, &green, &blue, *color);
        r = componentByte(red);
        g = componentByte(green);
        b = componentByte(blue);
        if (palette != nullptr) {
            index = QLTTYLogger::codeIndexForColor(*color, *palette);
            const auto& entry = palette->entries[index];
            raw = foreground ? entry.foregroundCode : entry.backgroundCode;
            const int n = std::snprintf(code, 24, "%s%s", kEscape, raw.c_str());
            codeLen = n > 0 ? std::min<size_t>(static_cast<size_t>(n), 23) : 0;
        } else if (terminal == QLTTYTerminal::xcodeColors) {
            const int n =
                std::snprintf(code, 24, "%s%s%u,%u,%u;", kEscape, foreground ? "fg" : "bg", r, g, b);
            codeLen = n > 0 ? std::min<size_t>(static_cast<size_t>(n), 23) : 0;
        }
    };
    side(foregroundColor, fg_r, fg_g, fg_b, fgCodeIndex, fgCodeRaw, fgCode, fgCodeLen, true);
    side(backgroundColor, bg_r, bg_g, bg_b, bgCodeIndex, bgCodeRaw, bgCode, bgCodeLen, false);

    if (palette != nullptr) {
        resetCodeLen = static_cast<size_t>(std::snprintf(resetCode, sizeof resetCode, "%s0m", kEscape));
    } else if (terminal == QLTTYTerminal::xcodeColors) {
        resetCodeLen = static_cast<size_t>(std::snprintf(resetCode, sizeof resetCode, "%s;", kEscape));
    }
}

std::string QLTTYLoggerColorProfile::description() const {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer,
                                "<QLTTYLoggerColorProfile: %p mask:%i ctxt:%ld fg:%u,%u,%u bg:%u,%u,%u "
                                "fgCode:%s bgCode:%s>",
                                static_cast<const void*>(this), static_cast<int>(rawValue(mask)),
                                static_cast<long>(context), fg_r, fg_g, fg_b, bg_r, bg_g, bg_b,
                                fgCodeRaw.c_str(), bgCodeRaw.c_str());
    return std::string(buffer, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1) : 0);
}

// ---------------------------------------------------------------------------------------------
// Logger

QLTTYLogger::QLTTYLogger(Token, Options options)
    : QLAbstractLogger(kLoggerName),
      fd_(options.fd),
      terminal_(options.terminal),
      appName_(options.processName.empty() ? std::string(kUnnamedApp) : std::move(options.processName)),
      processID_(std::to_string(options.processID)) {
    platform::LineWriter::standardError().writeLine(kConsoleWarning);
    colorProfilesArray_.reserve(8);
}

const std::shared_ptr<QLTTYLogger>& QLTTYLogger::sharedInstance() {
    static const auto* instance = [] {
        gSharedInstanceMade.store(true);
        return new std::shared_ptr<QLTTYLogger>(std::make_shared<QLTTYLogger>(Token{}, sharedOptions()));
    }();
    return *instance;
}

std::shared_ptr<QLTTYLogger> QLTTYLogger::make() {
    if (gSharedInstanceMade.load()) return nullptr;
    return make(sharedOptions());
}

std::shared_ptr<QLTTYLogger> QLTTYLogger::make(Options options) {
    return std::make_shared<QLTTYLogger>(Token{}, std::move(options));
}

QLTTYTerminal QLTTYLogger::terminalForEnvironment(const std::optional<std::string>& term,
                                                  const std::optional<std::string>& xcodeColors) {
    if (xcodeColors && *xcodeColors == "YES") return QLTTYTerminal::xcodeColors;
    if (term && containsIgnoringCase(*term, "color")) {
        return containsIgnoringCase(*term, "256") ? QLTTYTerminal::color256 : QLTTYTerminal::color16;
    }
    return QLTTYTerminal::plain;
}

QLTTYTerminal QLTTYLogger::environmentTerminal() {
    static const QLTTYTerminal terminal = [] {
        auto& info = platform::ProcessInfo::processInfo();
        return terminalForEnvironment(info.environmentValue("TERM"), info.environmentValue("XcodeColors"));
    }();
    return terminal;
}

void QLTTYLogger::getRed(double* red, double* green, double* blue, const platform::Color& fromColor) {
    const auto rgba = fromColor.convertedToSRGB().components();
    if (red != nullptr) *red = rgba.red;
    if (green != nullptr) *green = rgba.green;
    if (blue != nullptr) *blue = rgba.blue;
}

size_t QLTTYLogger::codeIndexForColor(const platform::Color& color, const QLTTYLoggerPalette& palette) {
    double red = 0, green = 0, blue = 0;
    getRed(&red, &green, &blue, color);
    double bestDistance = 100.0;
    size_t bestIndex = 0;
    for (size_t i = 0; i < palette.entries.size(); ++i) {
        const auto& entry = palette.entries[i];
        const double dr = red - entry.red / 255.0;
        const double dg = green - entry.green / 255.0;
        const double db = blue - entry.blue / 255.0;
        const double distance = std::sqrt(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {  // strictly: ties keep the earlier entry
            bestDistance = distance;
            bestIndex = i;
        }
    }
    return bestIndex;
}

std::optional<QLTTYLogger::TagKey> QLTTYLogger::tagKey(const std::any& tag) {
    if (const auto* text = std::any_cast<std::string>(&tag)) return TagKey{true, 0, *text};
    if (const auto* text = std::any_cast<const char*>(&tag)) {
        if (*text != nullptr) return TagKey{true, 0, std::string(*text)};
        return std::nullopt;
    }
    if (const auto* v = std::any_cast<int>(&tag)) return TagKey{false, int64_t{*v}, {}};
    if (const auto* v = std::any_cast<unsigned>(&tag)) return TagKey{false, int64_t{*v}, {}};
    if (const auto* v = std::any_cast<long>(&tag)) return TagKey{false, int64_t{*v}, {}};
    if (const auto* v = std::any_cast<long long>(&tag)) return TagKey{false, int64_t{*v}, {}};
    if (const auto* v = std::any_cast<unsigned long>(&tag))
        return TagKey{false, static_cast<int64_t>(*v), {}};
    if (const auto* v = std::any_cast<unsigned long long>(&tag))
        return TagKey{false, static_cast<int64_t>(*v), {}};
    return std::nullopt;
}

// --- colour settings --------------------------------------------------------------------------

void QLTTYLogger::changeColors(std::function<void()> change) {
    if (isOnInternalLoggerQueue()) {
        change();
        return;
    }
    const auto queue = loggerQueue();
    // The block holds the logger, so a logger released meanwhile lives until the change ran.
    auto block = [self = weak_from_this().lock(), change = std::move(change)] { change(); };
    if (isOnGlobalLoggingQueue()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", kAssertionFile,
                                   "Core architecture requirement failure");
        queue->async(std::move(block));
        return;
    }
    QLLog::loggingQueue()->async(
        [queue, block = std::move(block)]() mutable { queue->async(std::move(block)); });
}

bool QLTTYLogger::colorsEnabled() {
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue()", kAssertionFile,
                                   "MUST access ivar directly, NOT via self.* syntax.");
        return colorsEnabled_;
    }
    bool result = false;
    const auto queue = loggerQueue();
    if (isOnGlobalLoggingQueue() || QLLog::isInsideWaitedLoggerCall()) {
        platform::assertionFailure("!isOnGlobalLoggingQueue()", kAssertionFile,
                                   "Core architecture requirement failure");
        queue->sync([&] { result = colorsEnabled_; });
        return result;
    }
    QLLog::loggingQueue()->sync([&] { queue->sync([&] { result = colorsEnabled_; }); });
    return result;
}

void QLTTYLogger::setColorsEnabled(bool colorsEnabled) {
    if (isOnInternalLoggerQueue()) {
        platform::assertionFailure("!isOnInternalLoggerQueue()", kAssertionFile,
                                   "MUST access ivar directly, NOT via self.* syntax.");
    }
    changeColors([this, colorsEnabled] {
        colorsEnabled_ = colorsEnabled;
        if (colorProfilesArray_.empty()) loadDefaultColorProfiles();
    });
}

void QLTTYLogger::loadDefaultColorProfiles() {
    addProfile(QLTTYLoggerColorProfile(platform::Color(214 / 255.0, 57 / 255.0, 30 / 255.0, 1.0),
                                       std::nullopt, QLLogFlag::error, kEveryContext, terminal_));
    addProfile(QLTTYLoggerColorProfile(platform::Color(204 / 255.0, 121 / 255.0, 32 / 255.0, 1.0),
                                       std::nullopt, QLLogFlag::warning, kEveryContext, terminal_));
}

void QLTTYLogger::addProfile(QLTTYLoggerColorProfile profile) {
    for (auto& existing : colorProfilesArray_) {
        if (existing.mask == profile.mask && existing.context == profile.context) {
            existing = std::move(profile);
            return;
        }
    }
    colorProfilesArray_.push_back(std::move(profile));
}

void QLTTYLogger::setForegroundColor(std::optional<platform::Color> foregroundColor,
                                     std::optional<platform::Color> backgroundColor, QLLogFlag forFlag) {
    setForegroundColor(std::move(foregroundColor), std::move(backgroundColor), forFlag, kEveryContext);
}

void QLTTYLogger::setForegroundColor(std::optional<platform::Color> foregroundColor,
                                     std::optional<platform::Color> backgroundColor, QLLogFlag forFlag,
                                     int64_t context) {
    changeColors([this, foregroundColor, backgroundColor, forFlag, context] {
        addProfile(QLTTYLoggerColorProfile(foregroundColor, backgroundColor, forFlag, context, terminal_));
    });
}

void QLTTYLogger::setForegroundColor(std::optional<platform::Color> foregroundColor,
                                     std::optional<platform::Color> backgroundColor, const std::any& forTag) {
    auto key = tagKey(forTag);
    if (!key) {
        platform::assertionFailure("tag is a text or an integer", kAssertionFile, "Invalid tag");
        return;
    }
    changeColors([this, foregroundColor, backgroundColor, key = std::move(*key)] {
        QLTTYLoggerColorProfile profile(foregroundColor, backgroundColor, QLLogFlag{0}, 0, terminal_);
        colorProfilesDict_.insert_or_assign(key, std::move(profile));
    });
}

void QLTTYLogger::clearColorsForFlag(QLLogFlag flag) {
    // The every-context value, as setForegroundColor(fg, bg, flag) uses: with
    // context 0 a clear after a set would leave the colours in place.
    clearColorsForFlag(flag, kEveryContext);
}

void QLTTYLogger::clearColorsForFlag(QLLogFlag flag, int64_t context) {
    changeColors([this, flag, context] {
        const auto found =
            std::find_if(colorProfilesArray_.begin(), colorProfilesArray_.end(),
                         [&](const auto& p) { return p.mask == flag && p.context == context; });
        if (found != colorProfilesArray_.end()) colorProfilesArray_.erase(found);
    });
}

void QLTTYLogger::clearColorsForTag(const std::any& tag) {
    auto key = tagKey(tag);
    if (!key) {
        platform::assertionFailure("tag is a text or an integer", kAssertionFile, "Invalid tag");
        return;
    }
    changeColors([this, key = std::move(*key)] { colorProfilesDict_.erase(key); });
}

void QLTTYLogger::clearColorsForAllFlags() {
    changeColors([this] { colorProfilesArray_.clear(); });
}

void QLTTYLogger::clearColorsForAllTags() {
    changeColors([this] { colorProfilesDict_.clear(); });
}

void QLTTYLogger::clearAllColors() {
    changeColors([this] {
        colorProfilesArray_.clear();
        colorProfilesDict_.clear();
    });
}

// --- writing ----------------------------------------------------------------------------------

const QLTTYLoggerColorProfile* QLTTYLogger::profileFor(const QLLogMessage& message) const {
    if (!colorProfilesDict_.empty() && message.tag().has_value()) {
        if (const auto key = tagKey(message.tag())) {
            const auto found = colorProfilesDict_.find(*key);
            if (found != colorProfilesDict_.end()) return &found->second;
        }
    }
    // The record's own context wins at once; failing that the last
    // every-context profile of a matching mask.
    const QLTTYLoggerColorProfile* everyContext = nullptr;
    for (const auto& profile : colorProfilesArray_) {
        if ((rawValue(profile.mask) & rawValue(message.flag())) == 0) continue;
        if (profile.context == message.context()) return &profile;
        if (profile.context == kEveryContext) everyContext = &profile;
    }
    return everyContext;
}

void QLTTYLogger::logMessage(const QLLogMessagePtr& logMessage) {
    const QLLogMessage& message = *logMessage;
    std::optional<std::string> formatted;
    const std::optional<std::string_view> formattedText = formattedMessage(message, formatted);
    if (!formattedText) return;
    const std::string_view text = *formattedText;
    // Texts are values here: a formatter that hands the message back unchanged
    // (a filter) counts as no formatting, as returning the record's own message
    // object does on the platform.
    const bool customFormatted = formatted && *formatted != message.messageText();

    std::string_view fg, bg, reset;
    if (colorsEnabled_) {
        if (const auto* profile = profileFor(message)) {
            fg = profile->foregroundCode();
            bg = profile->backgroundCode();
            reset = profile->reset();
        }
    }
    write(fg, bg, reset, text, message, customFormatted);
}

std::string_view QLTTYLogger::timestampText(platform::Date date) {
    // Records of a burst share their millisecond: the text is made once per
    // millisecond, not once per record. The key is the platform's own
    // truncation to whole milliseconds, so equal keys mean equal texts.
    const double millisecond = std::floor(date.unixTime() * 1000.0 + 1e-3);
    if (!std::isfinite(millisecond)) {
        timestampMillisecond_.reset();
        timestamp_ = platform::dateformat::localPrintf(date);
    } else if (timestampMillisecond_ != millisecond) {
        timestampMillisecond_ = millisecond;
        timestamp_ = platform::dateformat::localPrintf(date);
    }
    return timestamp_;
}

void QLTTYLogger::write(std::string_view fg, std::string_view bg, std::string_view reset,
                        std::string_view text, const QLLogMessage& message, bool customFormatted) {
    static constexpr std::string_view kNewline = "\n";
    const bool endsWithNewline = !text.empty() && text.back() == '\n';
    if (customFormatted) {
        iovec pieces[5] = {
            piece(fg), piece(bg), piece(text),
            piece(appendNewline_.load(std::memory_order_relaxed) && !endsWithNewline ? kNewline
                                                                                     : std::string_view()),
            piece(reset)};
        writeAll(fd_, pieces, 5);
        return;
    }
    const std::string_view timestamp = timestampText(message.timestamp());
    const std::string_view threadID = std::string_view(message.threadID()).substr(0, 8);
    iovec pieces[13] = {
        piece(fg),         piece(bg),       piece(timestamp),
        piece(" "),        piece(appName_), piece("["),
        piece(processID_), piece(":"),      piece(threadID),
        piece("] "),       piece(text),     piece(endsWithNewline ? std::string_view() : kNewline),
        piece(reset),
    };
    writeAll(fd_, pieces, 13);
}

}  // namespace tervolo::logging
