#pragma once

#include <QObject>

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
// answers the acknowledgement and hands the links on once the start commits.
// A connection of another user, a malformed or oversized message, a message
// or commit not complete within kMessageTimeout (on the main queue's clock),
// or a start that went away before its commit is dropped with a log line,
// and the start is told why when it still listens; the program goes on.
// A later start writes its whole message as soon as it connects, so the time
// allowed is short: connections that say nothing cannot hold the slots for
// long, and when every slot is taken, the oldest connection still waiting
// for its message makes room for the new one. Main thread, on the Qt event
// loop.
class InstanceServer : public QObject {
  public:
    // Called with the links of each message, in their order (possibly none:
    // the later start only wants the window shown).
    using Receiver = std::function<void(const std::vector<std::string>& links)>;

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
    void expire(uint64_t identifier);
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
