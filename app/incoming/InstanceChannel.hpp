#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::app {

// One running program per user and data folder. The first start listens on a
// local socket; a later start finds it there, hands its links over and ends.
// POSIX only (no Qt), so a later start decides before it makes an
// application object.
class InstanceChannel {
  public:
    // How long a later start waits for the running program's answer, and
    // for its turn at the lock (seconds).
    static constexpr double kAnswerTimeout = 5.0;

    // "$XDG_RUNTIME_DIR/TervoloNG-<hash of the documents folder>.socket"; without
    // a usable runtime folder, a folder of the user's own under the temporary
    // folder. Empty when no such folder can be had.
    static std::string socketPath();

    // The outcome of a start's claim.
    struct Claim {
        enum class Kind {
            first,    // `fd` listens: this start is the running program
            running,  // `fd` is connected to the running program
            failed,   // no socket; `error` says why (the program runs alone)
            absent,   // nobody listens, and this start was not to listen itself
            // Another process held the claim lock for the whole wait:
            // whether a program runs cannot be told, so this start must not
            // open a window; `error` names the lock and, where it can be
            // told, the process holding it.
            undecided,
        };
        Kind kind = Kind::failed;
        int fd = -1;
        std::string error;
    };

    // Under an exclusive lock on "<path>.lock", so that simultaneous starts
    // take turns: connects to a program listening at `path`; when none
    // answers, removes a stale socket there and listens itself (mode 0600),
    // unless `mayListen` is false (a start that cannot run a window).
    static Claim claim(const std::string& path, double lockTimeout = kAnswerTimeout, bool mayListen = true);

    // Sends `links` as one message on the connected `fd`, waits for the
    // acknowledgement, commits and closes `fd`. None on success, else what
    // went wrong for the user ("the running TervoloNG did not answer within
    // 5 s"); after a failure the running program never opens these links.
    static std::optional<std::string> handOver(int fd, const std::vector<std::string>& links,
                                               double timeout = kAnswerTimeout);

    // What a later start tells the user for the running program's answer
    // line: none for the acknowledgement.
    static std::optional<std::string> answerFailure(std::string_view answer);
};

}  // namespace tervolo::app
