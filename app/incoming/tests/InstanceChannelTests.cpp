#include <gtest/gtest.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/incoming/InstanceChannel.hpp"
#include "app/incoming/InstanceMessage.hpp"
#include "app/incoming/InstanceServer.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "testsupport/ScopedEnvironment.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/incoming/InstanceSocketSupport.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace {

using tervolo::app::InstanceChannel;
using tervolo::app::InstanceMessage;
using tervolo::app::InstanceServer;
using Kind = InstanceChannel::Claim::Kind;
using tervolo::testsupport::leaveStaleSocket;
using tervolo::testsupport::recordingInstanceServer;
using tervolo::testsupport::unixSocketAddress;

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "tervolo_app_incoming_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = QCoreApplication::instance() != nullptr ? QCoreApplication::instance()
                                                               : new QCoreApplication(argc, argv);
    return *app;
}

// A private runtime folder for the socket, so parallel tests never meet.
class InstanceChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application();
        runtime_ = home_.path() + "/run";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
        runtimeEnvironment_.emplace("XDG_RUNTIME_DIR", runtime_.c_str());
        path_ = InstanceChannel::socketPath();
    }
    void TearDown() override { runtimeEnvironment_.reset(); }

    // Runs `handOver` on a thread of its own (it waits for the answer) while
    // this thread runs the server's event loop.
    // With `server`, events are processed afterwards until it has read
    // the start's commit too (the start ends once it has sent it).
    std::optional<std::string> handOverPumping(int fd, std::vector<std::string> links, double timeout = 30.0,
                                               const InstanceServer* server = nullptr) {
        std::atomic<bool> done{false};
        std::optional<std::string> failure;
        std::thread sender([&] {
            failure = InstanceChannel::handOver(fd, links, timeout);
            done = true;
        });
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            platform::RunLoop::runUntilIdle();
        }
        sender.join();
        if (server != nullptr) pumpUntil([server] { return server->openConnections() == 0; });
        return failure;
    }

    // Connects and sends raw bytes, as a hostile or broken start would.
    int sendRaw(const std::string& bytes) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = unixSocketAddress(path_);
        EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        return fd;
    }

    // What the server answered on `fd` (at most 16 bytes), waiting up to `patience`
    // milliseconds for it; empty when nothing came.
    static std::string answerOn(int fd, int patience) {
        pollfd poller{fd, POLLIN, 0};
        std::string answer;
        char buffer[16];
        if (poll(&poller, 1, patience) == 1) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
        }
        return answer;
    }

    void pumpUntil(const std::function<bool()>& condition) {
        for (int turn = 0; turn < 500 && !condition(); ++turn) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            platform::RunLoop::runUntilIdle();
        }
    }

    tervolo::testsupport::TemporaryFolder home_;
    std::string runtime_;
    std::optional<tervolo::testsupport::ScopedEnvironment> runtimeEnvironment_;
    std::string path_;
};

// The socket lies in the runtime folder, named after the data folder, and
// only the user may use it.
TEST_F(InstanceChannelTest, SocketIsPerDataFolderAndUserOnly) {
    EXPECT_EQ(path_.rfind(runtime_ + "/TervoloNG-", 0), 0u) << path_;
    const std::string previousData = std::getenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", (home_.path() + "/other-data").c_str(), 1);
    EXPECT_NE(InstanceChannel::socketPath(), path_);
    setenv("XDG_DATA_HOME", previousData.c_str(), 1);
    EXPECT_EQ(InstanceChannel::socketPath(), path_);

    auto claim = InstanceChannel::claim(path_);
    ASSERT_EQ(claim.kind, Kind::first) << claim.error;
    struct stat info {};
    ASSERT_EQ(lstat(path_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    close(claim.fd);

    // A runtime folder others may enter is not used.
    ASSERT_EQ(chmod(runtime_.c_str(), 0755), 0);
    EXPECT_EQ(InstanceChannel::socketPath().rfind(runtime_, 0), std::string::npos);
}

// A later start reaches the first, its links arrive in order, the answer
// comes back; a start without links only asks for the window.
TEST_F(InstanceChannelTest, LaterStartHandsItsLinksOver) {
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first) << first.error;
    std::vector<std::vector<std::string>> received;
    {
        InstanceServer server = recordingInstanceServer(first.fd, path_, received);
        const std::vector<std::string> links = {"https://s.example/abcdefgh", "tervolo://point/A",
                                                "https://s.example/x"};
        auto later = InstanceChannel::claim(path_);
        ASSERT_EQ(later.kind, Kind::running);
        EXPECT_EQ(handOverPumping(later.fd, links, 30.0, &server), std::nullopt);
        auto another = InstanceChannel::claim(path_);
        ASSERT_EQ(another.kind, Kind::running);
        EXPECT_EQ(handOverPumping(another.fd, {}, 30.0, &server), std::nullopt);
        EXPECT_EQ(received, (std::vector<std::vector<std::string>>{links, {}}));
        EXPECT_EQ(server.openConnections(), 0u);
    }
    // The server removed its socket: the next start is the first again.
    struct stat info {};
    EXPECT_NE(lstat(path_.c_str(), &info), 0);
    auto next = InstanceChannel::claim(path_);
    EXPECT_EQ(next.kind, Kind::first);
    close(next.fd);
}

// A socket left by a program that ended without removing it is taken over;
// a file that is not a socket is left alone.
TEST_F(InstanceChannelTest, TakesOverAStaleSocket) {
    ASSERT_TRUE(leaveStaleSocket(path_));
    auto claim = InstanceChannel::claim(path_);
    ASSERT_EQ(claim.kind, Kind::first) << claim.error;
    auto later = InstanceChannel::claim(path_);
    EXPECT_EQ(later.kind, Kind::running);
    close(later.fd);
    close(claim.fd);
    unlink(path_.c_str());

    {
        std::ofstream file(path_);
        file << "not a socket";
    }
    auto refused = InstanceChannel::claim(path_);
    EXPECT_EQ(refused.kind, Kind::failed);
    EXPECT_NE(refused.error.find("not a socket"), std::string::npos) << refused.error;
}

// A running program that never answers: the later start gives up and says so.
TEST_F(InstanceChannelTest, SilentInstanceIsReported) {
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    auto later = InstanceChannel::claim(path_);
    ASSERT_EQ(later.kind, Kind::running);
    const auto failure = InstanceChannel::handOver(later.fd, {"https://s.example/abcdefgh"}, 0.2);
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find("did not answer"), std::string::npos) << *failure;
    close(first.fd);
}

// Malformed, oversized, cut and slow messages are dropped with a log line;
// the server goes on taking good ones.
TEST_F(InstanceChannelTest, DropsHostileMessagesAndGoesOn) {
    tervolo::testsupport::VirtualClockScope time;
    tervolo::testsupport::SharedLogRecording log;
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    InstanceServer server = recordingInstanceServer(first.fd, path_, received);

    const auto dropped = [&](const std::string& reason) {
        for (const auto& text : log.texts()) {
            if (text == "dropping instance message: " + reason) return true;
        }
        return false;
    };
    const std::pair<std::string, const char*> hostile[] = {
        {std::string("\x7F\xFF\xFF\xFF", 4), "too long"},
        {std::string("\x00\x00\x00\x05", 4) + "hello", "not ended by a line break"},
        {std::string("\x00\x00\x00\x03", 4) + "x\n\n" + "more", "bytes after the message"},
    };
    for (const auto& message : hostile) {
        const std::string& bytes = message.first;
        const std::string reason = message.second;
        SCOPED_TRACE(reason);
        const int fd = sendRaw(bytes);
        pumpUntil([&] { return dropped(reason); });
        EXPECT_TRUE(dropped(reason));
        close(fd);
    }
    // Cut short: the start went away in the middle.
    close(sendRaw(std::string("\x00\x00\x00\x40", 4) + "TervoloNG"));
    pumpUntil([&] { return dropped("connection ended before the message did"); });
    EXPECT_TRUE(dropped("connection ended before the message did"));
    // Slow: half a message, then silence for the whole time allowed.
    const int slow = sendRaw(std::string("\x00\x00", 2));
    pumpUntil([&] { return server.openConnections() == 1; });
    EXPECT_EQ(server.openConnections(), 1u);
    time.advance(InstanceServer::kMessageTimeout - 0.1);
    EXPECT_FALSE(dropped("too slow"));
    time.advance(0.1);
    EXPECT_TRUE(dropped("too slow"));
    EXPECT_EQ(server.openConnections(), 0u);
    close(slow);

    EXPECT_TRUE(received.empty());
    auto later = InstanceChannel::claim(path_);
    ASSERT_EQ(later.kind, Kind::running);
    EXPECT_EQ(handOverPumping(later.fd, {"https://s.example/abcdefgh"}, 30.0, &server), std::nullopt);
    EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{"https://s.example/abcdefgh"}}));
}

// A running program that was stopped while a later start waited: the start
// gives up and tells its caller so; when the program resumes it finds the
// whole message waiting, and still opens nothing, since a caller that retries
// would open the links twice. The next start is taken as usual.
TEST_F(InstanceChannelTest, HandOverThatTimedOutOpensNothingWhenTheProgramResumes) {
    tervolo::testsupport::VirtualClockScope time;
    tervolo::testsupport::SharedLogRecording log;
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    InstanceServer server = recordingInstanceServer(first.fd, path_, received);
    // No event is processed while the start waits: the program is stopped.
    auto later = InstanceChannel::claim(path_);
    ASSERT_EQ(later.kind, Kind::running);
    const auto failure = InstanceChannel::handOver(later.fd, {"tervolo://point/A"}, 0.2);
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find("did not answer"), std::string::npos) << *failure;

    const auto gaveUp = [&] {
        const auto texts = log.texts();
        return std::find(texts.begin(), texts.end(),
                         "dropping instance message: the start gave up before taking its links") !=
               texts.end();
    };
    pumpUntil(gaveUp);
    EXPECT_TRUE(gaveUp());
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(server.openConnections(), 0u);

    auto next = InstanceChannel::claim(path_);
    ASSERT_EQ(next.kind, Kind::running);
    EXPECT_EQ(handOverPumping(next.fd, {"tervolo://point/B"}, 30.0, &server), std::nullopt);
    EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{"tervolo://point/B"}}));
}

// Connections that say nothing cannot keep later starts out: a new start
// takes the slot of the oldest silent one, which is told it was pushed out,
// and the silent ones are closed after a short time, each told why. Nor can
// hand-overs that never commit: when one process holds every slot, its
// oldest connection makes room. (They all come from this test's process.)
TEST_F(InstanceChannelTest, SilentConnectionsAreClosedAndLaterStartsGetIn) {
    tervolo::testsupport::VirtualClockScope time;
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    InstanceServer server = recordingInstanceServer(first.fd, path_, received);

    std::vector<int> silent;
    for (size_t index = 0; index < InstanceServer::kMaximumConnections; ++index)
        silent.push_back(sendRaw(""));
    pumpUntil([&] { return server.openConnections() == InstanceServer::kMaximumConnections; });
    ASSERT_EQ(server.openConnections(), InstanceServer::kMaximumConnections);
    auto later = InstanceChannel::claim(path_);
    ASSERT_EQ(later.kind, Kind::running);
    EXPECT_EQ(handOverPumping(later.fd, {"tervolo://point/A"}, 30.0, &server), std::nullopt);
    EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{"tervolo://point/A"}}));
    EXPECT_EQ(answerOn(silent.front(), 0), InstanceMessage::kBusy);

    time.advance(InstanceServer::kMessageTimeout);
    EXPECT_EQ(server.openConnections(), 0u);
    for (size_t index = 1; index < silent.size(); ++index) {
        EXPECT_EQ(answerOn(silent[index], 0), InstanceMessage::kTooSlow) << index;
    }
    for (const int fd : silent) close(fd);

    // Eight hand-overs of this process that sent their message but never
    // commit: a start of the same process is not kept out, the oldest of
    // them makes room.
    std::vector<int> waiting;
    for (size_t index = 0; index < InstanceServer::kMaximumConnections; ++index) {
        waiting.push_back(sendRaw(InstanceMessage{{"tervolo://point/W"}}.encode()));
    }
    pumpUntil([&] { return server.openConnections() == InstanceServer::kMaximumConnections; });
    auto another = InstanceChannel::claim(path_);
    ASSERT_EQ(another.kind, Kind::running);
    EXPECT_EQ(handOverPumping(another.fd, {"tervolo://point/B"}, 30.0, &server), std::nullopt);
    EXPECT_EQ(answerOn(waiting.front(), 0),
              std::string(InstanceMessage::kAcknowledgement) + std::string(InstanceMessage::kBusy));
    time.advance(InstanceServer::kMessageTimeout);
    EXPECT_EQ(server.openConnections(), 0u);
    for (const int fd : waiting) close(fd);
    EXPECT_EQ(received,
              (std::vector<std::vector<std::string>>{{"tervolo://point/A"}, {"tervolo://point/B"}}));
}

// A process of the user's that keeps every slot filled with hand-overs it
// never commits (reconnecting whenever one is closed) cannot keep the starts
// of other processes out: each later start gets in, its links arrive, the
// peer's oldest connection makes room. The peer is a child process of its
// own, bounded in time; it makes system calls only.
TEST_F(InstanceChannelTest, PeerThatNeverCommitsCannotKeepLaterStartsOut) {
    tervolo::testsupport::VirtualClockScope time;  // no deadline passes: only room-making frees slots
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    InstanceServer server = recordingInstanceServer(first.fd, path_, received);

    // Everything the child needs is made before the fork.
    const std::string message = InstanceMessage{{"tervolo://point/P"}}.encode();
    const sockaddr_un address = unixSocketAddress(path_);
    constexpr int kPeerConnections = 12;
    const pid_t peer = fork();
    ASSERT_GE(peer, 0);
    if (peer == 0) {
        int fds[kPeerConnections];
        const auto reconnect = [&](int& fd) {
            fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                (void)send(fd, message.data(), message.size(), MSG_NOSIGNAL);
            }
        };
        for (int& fd : fds) reconnect(fd);
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (int round = 0; round < 100000; ++round) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec - start.tv_sec > 60) break;
            pollfd pollers[kPeerConnections];
            for (int index = 0; index < kPeerConnections; ++index) pollers[index] = {fds[index], POLLIN, 0};
            if (poll(pollers, kPeerConnections, 100) <= 0) continue;
            for (int index = 0; index < kPeerConnections; ++index) {
                if (pollers[index].revents == 0) continue;
                char answer[64];
                const ssize_t n = recv(fds[index], answer, sizeof answer, MSG_DONTWAIT);
                // The acknowledgement is read and never committed; a refusal
                // or the end of the connection: in again at once.
                if (n > 0 && static_cast<size_t>(n) == InstanceMessage::kAcknowledgement.size() &&
                    std::memcmp(answer, InstanceMessage::kAcknowledgement.data(), n) == 0)
                    continue;
                close(fds[index]);
                reconnect(fds[index]);
            }
        }
        _exit(0);
    }
    struct EndPeer {
        pid_t pid;
        ~EndPeer() {
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    } endPeer{peer};
    // The child runs on its own: wait for it in real time, pumping meanwhile.
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server.openConnections() < InstanceServer::kMaximumConnections &&
           std::chrono::steady_clock::now() < patience) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        platform::RunLoop::runUntilIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(server.openConnections(), InstanceServer::kMaximumConnections);

    constexpr int kStarts = 10;
    int through = 0;
    for (int start = 0; start < kStarts; ++start) {
        auto later = InstanceChannel::claim(path_);
        ASSERT_EQ(later.kind, Kind::running);
        const auto failure = handOverPumping(later.fd, {"tervolo://point/" + std::to_string(start)}, 5.0);
        if (!failure) ++through;
        EXPECT_EQ(failure, std::nullopt) << start;
    }
    EXPECT_EQ(through, kStarts);
    pumpUntil([&] { return received.size() >= static_cast<size_t>(kStarts); });
    std::vector<std::vector<std::string>> expected;
    for (int start = 0; start < kStarts; ++start)
        expected.push_back({"tervolo://point/" + std::to_string(start)});
    EXPECT_EQ(received, expected);
}

// The running program's main thread was busy past a start's deadline: what
// the start sent in time waits in the socket, its notice queued behind the
// deadline. The deadline reads it first: the message is taken, the commit
// gets its own time, and a commit that also waits in the socket when that
// time is up still opens the links. Only a start that did not send in time
// is told it was too slow.
TEST_F(InstanceChannelTest, DeadlinesAreJudgedByWhatArrived) {
    tervolo::testsupport::VirtualClockScope time;
    tervolo::testsupport::SharedLogRecording log;
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    InstanceServer server = recordingInstanceServer(first.fd, path_, received);

    // Accepted before its message came; the message then arrives while the
    // main thread does nothing until the deadline.
    const int start = sendRaw("");
    pumpUntil([&] { return server.openConnections() == 1; });
    ASSERT_EQ(server.openConnections(), 1u);
    const std::string message = InstanceMessage{{"tervolo://point/A"}}.encode();
    ASSERT_EQ(send(start, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
    time.advance(InstanceServer::kMessageTimeout);
    EXPECT_EQ(answerOn(start, 10000), InstanceMessage::kAcknowledgement);
    EXPECT_EQ(server.openConnections(), 1u);
    // The commit comes in time, and again the main thread is busy.
    ASSERT_EQ(send(start, InstanceMessage::kCommit.data(), InstanceMessage::kCommit.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(InstanceMessage::kCommit.size()));
    time.advance(InstanceServer::kMessageTimeout);
    EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{"tervolo://point/A"}}));
    EXPECT_EQ(answerOn(start, 10000), InstanceMessage::kTaken);
    EXPECT_EQ(server.openConnections(), 0u);
    close(start);
    for (const auto& text : log.texts()) EXPECT_EQ(text.find("too slow"), std::string::npos) << text;

    // Half a message by the deadline is too slow, however busy the thread was.
    const int slow = sendRaw(message.substr(0, 6));
    pumpUntil([&] { return server.openConnections() == 1; });
    time.advance(InstanceServer::kMessageTimeout);
    EXPECT_EQ(answerOn(slow, 10000), InstanceMessage::kTooSlow);
    EXPECT_EQ(server.openConnections(), 0u);
    close(slow);
    EXPECT_EQ(received.size(), 1u);
}

// After the commit the start learns whether the running program could open
// every link: links it had to drop are the start's failure, told with their
// number; the links it took are not handed over again.
TEST_F(InstanceChannelTest, StartIsToldOfDroppedLinks) {
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    std::vector<std::vector<std::string>> received;
    size_t dropping = 0;
    InstanceServer server(first.fd, path_, [&](const std::vector<std::string>& links) {
        received.push_back(links);
        return dropping;
    });
    const std::pair<size_t, std::optional<std::string>> cases[] = {
        {0, std::nullopt},
        {1,
         "1 link was not opened: the running TervoloNG has too many short links waiting to be looked up; try "
         "again later"},
        {2,
         "2 links were not opened: the running TervoloNG has too many short links waiting to be looked up; "
         "try again later"},
    };
    for (const auto& [dropped, failure] : cases) {
        SCOPED_TRACE(dropped);
        dropping = dropped;
        auto later = InstanceChannel::claim(path_);
        ASSERT_EQ(later.kind, Kind::running);
        EXPECT_EQ(handOverPumping(later.fd, {"https://s.example/abcdefgh", "https://s.example/bcdefghi"},
                                  30.0, &server),
                  failure);
    }
    EXPECT_EQ(received.size(), 3u);
    EXPECT_EQ(InstanceMessage::droppedIn("dropped 12\n"), 12u);
    EXPECT_EQ(InstanceMessage::droppedIn("taken\n"), 0u);
    EXPECT_EQ(InstanceMessage::droppedIn("dropped x\n"), std::nullopt);
    EXPECT_EQ(InstanceMessage::droppedIn("ok\n"), std::nullopt);
}

// A start whose connection the running program gave up after the
// acknowledgement (its slot went to another start) is told so, whether its
// commit was still written or not: the links were not opened.
TEST_F(InstanceChannelTest, StartPushedOutBeforeItsCommitIsToldSo) {
    auto first = InstanceChannel::claim(path_);
    ASSERT_EQ(first.kind, Kind::first);
    auto later = InstanceChannel::claim(path_);
    ASSERT_EQ(later.kind, Kind::running);
    // The running program's part, played by hand: take the message, answer
    // the acknowledgement and the refusal at once, and close.
    std::thread program([&] {
        pollfd poller{first.fd, POLLIN, 0};
        if (poll(&poller, 1, 10000) != 1) return;
        const int connection = accept4(first.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        InstanceMessage::Reader reader;
        char buffer[4096];
        while (reader.state() == InstanceMessage::Reader::State::incomplete) {
            const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            reader.append(std::string_view(buffer, static_cast<size_t>(n)));
        }
        const std::string answer =
            std::string(InstanceMessage::kAcknowledgement) + std::string(InstanceMessage::kBusy);
        (void)send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(connection);
    });
    const auto failure = InstanceChannel::handOver(later.fd, {"tervolo://point/A"}, 10.0);
    program.join();
    EXPECT_EQ(failure, "the running TervoloNG is busy with too many other starts; try again");
    close(first.fd);
}

// Another process holds the claim's lock for the whole wait (a start that
// hangs): this start cannot tell whether a program runs, so its claim is
// undecided, and says whose lock it waited for.
TEST_F(InstanceChannelTest, LockHeldElsewhereLeavesTheClaimUndecided) {
    // A lock of another open file is another holder, even in this process.
    const std::string lockPath = path_ + ".lock";
    const int holder = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const auto claim = InstanceChannel::claim(path_, 0.2);
    EXPECT_EQ(claim.kind, Kind::undecided);
    EXPECT_EQ(claim.fd, -1);
    EXPECT_EQ(claim.error, "another start of TervoloNG (process " + std::to_string(getpid()) + ") has held " +
                               lockPath + " for 0.2 s");
    close(holder);
    auto after = InstanceChannel::claim(path_, 0.2);
    EXPECT_EQ(after.kind, Kind::first) << after.error;
    close(after.fd);
}

// Starts that claim at the same moment take turns at the lock: exactly one
// listens, every other one reaches it.
TEST_F(InstanceChannelTest, SimultaneousClaimsLeaveOneFirst) {
    constexpr int kStarts = 8;
    std::vector<InstanceChannel::Claim> claims(kStarts);
    std::atomic<bool> go{false};
    std::vector<std::thread> starts;
    for (int index = 0; index < kStarts; ++index) {
        starts.emplace_back([&, index] {
            while (!go) std::this_thread::yield();
            claims[index] = InstanceChannel::claim(path_);
        });
    }
    go = true;
    for (auto& start : starts) start.join();
    int firsts = 0;
    int running = 0;
    for (const auto& claim : claims) {
        firsts += claim.kind == Kind::first;
        running += claim.kind == Kind::running;
        if (claim.fd >= 0) close(claim.fd);
    }
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(running, kStarts - 1);
}

}  // namespace
