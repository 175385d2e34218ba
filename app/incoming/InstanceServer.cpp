#include "app/incoming/InstanceServer.hpp"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::app {

struct InstanceServer::Connection {
    int fd = -1;
    // The process at the other end, as the kernel saw it connect.
    pid_t peer = 0;
    QSocketNotifier* notifier = nullptr;
    InstanceMessage::Reader reader;
    // The message is read and acknowledged; the commit is awaited.
    bool acknowledged = false;
    std::string commit;
};

InstanceServer::InstanceServer(int listeningFd, std::string path, Receiver receiver, QObject* parent)
    : QObject(parent),
      fd_(listeningFd),
      path_(std::move(path)),
      receiver_(std::move(receiver)),
      notifier_(new QSocketNotifier(listeningFd, QSocketNotifier::Read, this)),
      self_(std::make_shared<InstanceServer*>(this)) {
    struct stat info {};
    if (fstat(fd_, &info) == 0) inode_ = info.st_ino;
    if (struct stat atPath{}; lstat(path_.c_str(), &atPath) == 0) inode_ = atPath.st_ino;
    connect(notifier_, &QSocketNotifier::activated, this, [this] { acceptConnections(); });
}

InstanceServer::~InstanceServer() {
    for (auto& [identifier, connection] : connections_) close(connection->fd);
    connections_.clear();
    close(fd_);
    // Another program may have found the socket stale and taken the path over.
    if (struct stat info{}; !path_.empty() && lstat(path_.c_str(), &info) == 0 && info.st_ino == inode_) {
        unlink(path_.c_str());
    }
}

void InstanceServer::acceptConnections() {
    for (;;) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: all taken; anything else: try at the next notice
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
            QLLogWarn("dropping instance message: connection of another user");
            close(client);
            continue;
        }
        if (connections_.size() >= kMaximumConnections && !makeRoom(peer.pid)) {
            QLLogWarn("dropping instance message: too many connections");
            const std::string_view answer = InstanceMessage::kBusy;
            (void)send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            close(client);
            continue;
        }
        const uint64_t identifier = nextIdentifier_++;
        auto connection = std::make_unique<Connection>();
        connection->fd = client;
        connection->peer = peer.pid;
        connection->notifier = new QSocketNotifier(client, QSocketNotifier::Read, this);
        connect(connection->notifier, &QSocketNotifier::activated, this,
                [this, identifier] { readFrom(identifier); });
        connections_.emplace(identifier, std::move(connection));
        // A start that connects and then says nothing must not hold a slot.
        scheduleDeadline(identifier, false);
        // Its message is usually there already.
        readFrom(identifier);
    }
}

void InstanceServer::readFrom(uint64_t identifier) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    Connection& connection = *found->second;
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(connection.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            // A start that went away before its commit told its caller the
            // hand-over failed: its links must not open.
            drop(identifier, connection.acknowledged ? "the start gave up before taking its links"
                                                     : "connection ended before the message did");
            return;
        }
        const std::string_view bytes(buffer, static_cast<size_t>(n));
        if (connection.acknowledged) {
            connection.commit.append(bytes);
            const std::string_view commit = InstanceMessage::kCommit;
            if (connection.commit.size() > commit.size() ||
                commit.substr(0, connection.commit.size()) != connection.commit) {
                drop(identifier, "bytes after the message", InstanceMessage::kRefused);
                return;
            }
            if (connection.commit.size() == commit.size()) {
                finish(identifier);
                return;
            }
            continue;
        }
        switch (connection.reader.append(bytes)) {
            case InstanceMessage::Reader::State::incomplete:
                continue;
            case InstanceMessage::Reader::State::refused:
                drop(identifier, connection.reader.reason(), InstanceMessage::kRefused);
                return;
            case InstanceMessage::Reader::State::complete:
                acknowledge(identifier);
                continue;  // the commit may follow at once
        }
    }
}

bool InstanceServer::makeRoom(pid_t newcomer) {
    // A process that holds more than one slot (counting its new connection)
    // gives up its oldest: a later start connects once, so a process with
    // several connections is one that does not finish its hand-overs, and it
    // must not keep the starts of other processes out.
    std::map<pid_t, size_t> held{{newcomer, 1}};
    for (const auto& [identifier, connection] : connections_) ++held[connection->peer];
    std::optional<uint64_t> victim;
    size_t most = 1;
    for (const auto& [identifier, connection] : connections_) {  // oldest first
        if (held[connection->peer] > most) {
            most = held[connection->peer];
            victim = identifier;
        }
    }
    if (victim) {
        drop(*victim, "too many connections of one process, its oldest makes room", InstanceMessage::kBusy);
        return true;
    }
    // Every slot belongs to another process: the oldest connection still
    // waiting for its message makes room (a later start writes its message
    // at once, so one that has said nothing yet is the likeliest to say
    // nothing at all). Starts between message and commit finish in a moment:
    // the newcomer is told to try again.
    const auto idle = std::find_if(connections_.begin(), connections_.end(),
                                   [](const auto& entry) { return !entry.second->acknowledged; });
    if (idle == connections_.end()) return false;
    drop(idle->first, "too many connections, the oldest waiting one makes room", InstanceMessage::kBusy);
    return true;
}

void InstanceServer::scheduleDeadline(uint64_t identifier, bool commit) {
    platform::DispatchQueue::main()->asyncAfter(
        kMessageTimeout, [weak = std::weak_ptr<InstanceServer*>(self_), identifier, commit] {
            if (auto self = weak.lock()) (*self)->expire(identifier, commit);
        });
}

void InstanceServer::expire(uint64_t identifier, bool commit) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    // The message's deadline of a connection that has sent it: the commit's
    // own deadline judges it now.
    if (!commit && found->second->acknowledged) return;
    // The deadline is judged by what arrived: when the main thread was busy,
    // bytes the start sent in time may still wait in the socket, their
    // notice queued behind this deadline.
    readFrom(identifier);
    found = connections_.find(identifier);
    if (found == connections_.end()) return;
    Connection& connection = *found->second;
    // The message was there: the start now has its time for the commit.
    if (!commit && connection.acknowledged) return;
    if (connection.acknowledged) {
        // The start may have committed just now. Shutting the reading side
        // first makes the start's commit fail from here on, so what is read
        // now decides for both sides: a commit in the socket opens the links,
        // anything else fails the start's hand-over too.
        shutdown(connection.fd, SHUT_RD);
        char buffer[8];
        ssize_t n = 0;
        while ((n = recv(connection.fd, buffer, sizeof buffer, 0)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) connection.commit.append(buffer, static_cast<size_t>(n));
        }
        if (connection.commit == InstanceMessage::kCommit) {
            finish(identifier);
            return;
        }
    }
    drop(identifier, "too slow", InstanceMessage::kTooSlow);
}

void InstanceServer::acknowledge(uint64_t identifier) {
    Connection& connection = *connections_.at(identifier);
    connection.acknowledged = true;
    const std::string_view answer = InstanceMessage::kAcknowledgement;
    // A start that already gave up is seen by the end of its connection.
    (void)send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    // The commit follows the acknowledgement at once; it gets the same time
    // as the message, from now (the message may have been read late).
    scheduleDeadline(identifier, true);
}

void InstanceServer::drop(uint64_t identifier, const std::string& reason, std::string_view answer) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    QLLogWarn("dropping instance message: " + reason);
    std::unique_ptr<Connection> connection = std::move(found->second);
    connections_.erase(found);
    // The notifier may be the one whose signal is running.
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    // The start, when it still listens, can tell its caller what happened.
    if (!answer.empty()) (void)send(connection->fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(connection->fd);
}

void InstanceServer::finish(uint64_t identifier) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    std::unique_ptr<Connection> connection = std::move(found->second);
    connections_.erase(found);
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    // The start has committed: the links are taken. What could not be
    // opened is the start's to tell its caller.
    const size_t dropped = receiver_ ? receiver_(connection->reader.links()) : 0;
    const std::string answer = InstanceMessage::outcome(dropped);
    (void)send(connection->fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(connection->fd);
}

}  // namespace tervolo::app
