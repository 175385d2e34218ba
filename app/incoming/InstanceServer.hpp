#pragma once

#include <QObject>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/incoming/InstanceMessage.hpp"

class QSocketNotifier;

namespace tervolo::app {

// The running program's side of InstanceChannel: accepts later starts on the
// listening socket the claim made, reads one InstanceMessage from each,
// answers the acknowledgement and hands the links on once the start commits,
// then tells the start how many of them the program could not take. A
// connection of another user, a malformed or oversized message, a message
// not complete within kMessageTimeout of the connection's acceptance, a
// commit not complete within kMessageTimeout of the acknowledgement (both on
// the main queue's clock), or a start that went away before its commit is
// dropped with a log line, and the start is told why when it still listens;
// the program goes on. A deadline is judged by what arrived: bytes already in
// the socket when it comes (the main thread was busy) are read first.
// A later start writes its whole message as soon as it connects, so the time
// allowed is short. When every slot is taken, a process holding more than one
// of them (counting the new connection) gives up its oldest, so a process that
// never finishes its hand-overs cannot keep other starts out; otherwise the
// oldest connection still waiting for its message makes room, and when every
// slot holds another process's start between message and commit, the new one
// is told the program is busy. Main thread, on the Qt event loop.
class InstanceServer : public QObject {
  public:
    // Called with the links of each message, in their order (possibly none:
    // the later start only wants the window shown); answers how many of them
    // could not be taken (they are dropped, and the start is told so).
    using Receiver = std::function<size_t(const std::vector<std::string>& links)>;

    static constexpr double kMessageTimeout = 1.0;
    static constexpr size_t kMaximumConnections = 8;

    // Takes `listeningFd` (closed with the server) and removes the socket at
    // `path` when it ends, unless another program has taken the path since.
    InstanceServer(int listeningFd, std::string path, Receiver receiver, QObject* parent = nullptr);
    ~InstanceServer() override;
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    size_t openConnections() const { return connections_.size(); }

  private:
    struct Connection;

    void acceptConnections();
    void readFrom(uint64_t identifier);
    void drop(uint64_t identifier, const std::string& reason, std::string_view answer = {});
    void acknowledge(uint64_t identifier);
    // Whether a slot was freed for a new connection of process `newcomer`.
    bool makeRoom(pid_t newcomer);
    // The message's deadline, or with `commit` the commit's.
    void scheduleDeadline(uint64_t identifier, bool commit);
    void expire(uint64_t identifier, bool commit);
    void finish(uint64_t identifier);

    int fd_;
    std::string path_;
    uint64_t inode_ = 0;
    Receiver receiver_;
    QSocketNotifier* notifier_;
    uint64_t nextIdentifier_ = 1;
    std::map<uint64_t, std::unique_ptr<Connection>> connections_;
    // Deadlines hold this weakly, so none reaches a destroyed server.
    std::shared_ptr<InstanceServer*> self_;
};

}  // namespace tervolo::app
