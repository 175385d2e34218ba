#include "app/incoming/InstanceServer.hpp"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::app {

struct InstanceServer::Connection {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    InstanceMessage::Reader reader;
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
        if (connections_.size() >= kMaximumConnections) {
            QLLogWarn("dropping instance message: too many connections");
            close(client);
            continue;
        }
        const uint64_t identifier = nextIdentifier_++;
        auto connection = std::make_unique<Connection>();
        connection->fd = client;
        connection->notifier = new QSocketNotifier(client, QSocketNotifier::Read, this);
        connect(connection->notifier, &QSocketNotifier::activated, this,
                [this, identifier] { readFrom(identifier); });
        connections_.emplace(identifier, std::move(connection));
        // A start that connects and then says nothing must not hold a slot.
        platform::DispatchQueue::main()->asyncAfter(
            kMessageTimeout, [weak = std::weak_ptr<InstanceServer*>(self_), identifier] {
                if (auto self = weak.lock()) {
                    if ((*self)->connections_.count(identifier) != 0) (*self)->drop(identifier, "too slow");
                }
            });
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
            drop(identifier, "connection ended before the message did");
            return;
        }
        switch (connection.reader.append(std::string_view(buffer, static_cast<size_t>(n)))) {
            case InstanceMessage::Reader::State::incomplete:
                continue;
            case InstanceMessage::Reader::State::refused:
                drop(identifier, connection.reader.reason());
                return;
            case InstanceMessage::Reader::State::complete:
                finish(identifier);
                return;
        }
    }
}

void InstanceServer::drop(uint64_t identifier, const std::string& reason) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    QLLogWarn("dropping instance message: " + reason);
    std::unique_ptr<Connection> connection = std::move(found->second);
    connections_.erase(found);
    // The notifier may be the one whose signal is running.
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    close(connection->fd);
}

void InstanceServer::finish(uint64_t identifier) {
    auto found = connections_.find(identifier);
    if (found == connections_.end()) return;
    std::unique_ptr<Connection> connection = std::move(found->second);
    connections_.erase(found);
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    const std::vector<std::string> links = connection->reader.links();
    // The links are taken before the answer goes out: a later start that saw
    // the answer may rely on them being here.
    if (receiver_) receiver_(links);
    const std::string_view answer = InstanceMessage::kAcknowledgement;
    (void)send(connection->fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(connection->fd);
}

}  // namespace tervolo::app
