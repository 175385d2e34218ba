#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::app {

// What a later start of the program tells the running one: the links it was
// given, in their order (none: only show the window). On the wire one frame,
// a 4-byte big-endian payload length and the payload: the line
// "TervoloNG links 2" and one line per link, each ended by "\n".
//
// The links are opened only when both sides know the hand-over succeeded:
// the running program answers kAcknowledgement once it has read the message,
// the later start answers kCommit once it has seen that, and only then are
// the links opened. A later start that gave up (and told its caller so) sends
// no commit, so a running program that was stopped and resumes later opens
// nothing the caller may send again. After the commit the running program
// answers its outcome: kTaken, or "dropped <n>\n" when n of the links could
// not be opened (too many short links wait to be looked up). A running
// program that cannot take the message answers one of the refusals below and
// closes.
//
// The socket is the user's own, but the running program still trusts nothing
// it reads there: the frame is bounded, every link is valid UTF-8 without
// control characters and at most kMaximumLinkBytes long, and anything else
// refuses the whole message.
struct InstanceMessage {
    std::vector<std::string> links;

    static constexpr std::string_view kHeaderLine = "TervoloNG links 2";
    static constexpr std::string_view kAcknowledgement = "ok\n";
    static constexpr std::string_view kCommit = "go\n";
    // Refusals: every connection slot is taken by other starts; the message
    // did not arrive in time; the message was malformed.
    static constexpr std::string_view kBusy = "busy\n";
    static constexpr std::string_view kTooSlow = "slow\n";
    static constexpr std::string_view kRefused = "refused\n";
    // Outcomes after the commit.
    static constexpr std::string_view kTaken = "taken\n";
    static constexpr std::string_view kDroppedPrefix = "dropped ";
    static constexpr size_t kMaximumPayloadBytes = 64 * 1024;
    static constexpr size_t kMaximumLinks = 64;
    static constexpr size_t kMaximumLinkBytes = 2048;

    // The outcome line for `dropped` links not opened (kTaken for none).
    static std::string outcome(size_t dropped);
    // The number of links not opened in an outcome line; none when the line
    // is no outcome.
    static std::optional<size_t> droppedIn(std::string_view line);

    // Whether a link may travel in a message.
    static bool isAcceptableLink(std::string_view link);

    // The frame; links that may not travel are left out.
    std::string encode() const;

    // The message in a payload, or none with the reason in `reason`.
    static std::optional<InstanceMessage> decodePayload(std::string_view payload, std::string& reason);

    // Reads one frame from bytes as they arrive, in pieces of any size.
    class Reader {
      public:
        enum class State { incomplete, complete, refused };
        // Takes the next bytes; after complete or refused further bytes are
        // refused ("bytes after the message").
        State append(std::string_view bytes);
        State state() const { return state_; }
        // When complete: the message's links.
        const std::vector<std::string>& links() const { return links_; }
        // When refused.
        const std::string& reason() const { return reason_; }

      private:
        State refuse(std::string reason);

        State state_ = State::incomplete;
        std::string buffer_;
        std::optional<uint32_t> length_;
        std::vector<std::string> links_;
        std::string reason_;
    };
};

}  // namespace tervolo::app
