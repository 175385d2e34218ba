#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/FileWatchSource.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::DispatchQueue;
using platform::FileWatchSource;
using tervolo::testsupport::TemporaryFolder;

namespace {

// Collects the event masks a source delivers, and on which queue.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<unsigned> events;
    std::vector<std::string> labels;
    int cancellations = 0;

    FileWatchSource::EventHandler handler() {
        return [this](unsigned mask) {
            std::lock_guard lock(mutex);
            events.push_back(mask);
            labels.push_back(DispatchQueue::currentLabel());
            changed.notify_all();
        };
    }
    std::function<void()> cancelHandler() {
        return [this] {
            std::lock_guard lock(mutex);
            ++cancellations;
            changed.notify_all();
        };
    }
    // The limit only keeps a broken build from hanging; nothing is timed.
    bool waitFor(const std::function<bool()>& condition) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), condition);
    }
    unsigned all() {
        std::lock_guard lock(mutex);
        unsigned mask = 0;
        for (unsigned event : events) mask |= event;
        return mask;
    }
};

struct OpenFile {
    int fd;
    explicit OpenFile(const std::string& path) {
        platform::FileManager::defaultManager().writeFile(path, "log");
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    }
    ~OpenFile() { ::close(fd); }
};

constexpr unsigned kAll = FileWatchSource::Delete | FileWatchSource::Rename | FileWatchSource::Revoke;

TEST(FileWatchSourceTest, ReportsUnlinkAndRenameOfAnOpenFileOnTheGivenQueue) {
    struct Case {
        const char* name;
        unsigned expected;
    };
    for (const Case& test :
         {Case{"unlink", FileWatchSource::Delete}, Case{"rename", FileWatchSource::Rename}}) {
        SCOPED_TRACE(test.name);
        TemporaryFolder folder;
        const std::string path = folder.file("current.log");
        OpenFile file(path);
        ASSERT_GE(file.fd, 0);
        auto queue = DispatchQueue::serial("test.file-watch");
        Recorder recorder;
        auto source = FileWatchSource::make(file.fd, kAll, queue);
        ASSERT_TRUE(source);
        source->setEventHandler(recorder.handler());
        source->activate();

        if (test.expected == FileWatchSource::Delete) {
            ASSERT_EQ(::unlink(path.c_str()), 0);
        } else {
            ASSERT_EQ(::rename(path.c_str(), folder.file("moved.log").c_str()), 0);
        }
        ASSERT_TRUE(recorder.waitFor([&] { return !recorder.events.empty(); }));
        EXPECT_EQ(recorder.all() & test.expected, test.expected);
        EXPECT_EQ(recorder.labels.front(), "test.file-watch");
        source->cancel();
    }
}

TEST(FileWatchSourceTest, AttributeChangesOfALinkedFileAreNotADelete) {
    TemporaryFolder folder;
    const std::string path = folder.file("current.log");
    OpenFile file(path);
    auto queue = DispatchQueue::serial("test.file-watch");
    Recorder recorder;
    auto source = FileWatchSource::make(file.fd, FileWatchSource::Delete, queue);
    ASSERT_TRUE(source);
    source->setEventHandler(recorder.handler());
    source->activate();
    // chmod raises IN_ATTRIB with the file still linked: nothing to report.
    // The unlink that follows is then the only event.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(recorder.waitFor([&] { return !recorder.events.empty(); }));
    queue->sync([] {});
    EXPECT_EQ(recorder.all(), unsigned{FileWatchSource::Delete});
    source->cancel();
}

TEST(FileWatchSourceTest, CancelStopsDeliveryAndRunsTheCancelHandler) {
    TemporaryFolder folder;
    const std::string path = folder.file("current.log");
    OpenFile file(path);
    auto queue = DispatchQueue::serial("test.file-watch");
    Recorder cancelled;
    Recorder sentinel;
    auto watched = FileWatchSource::make(file.fd, kAll, queue);
    auto witness = FileWatchSource::make(file.fd, kAll, queue);
    ASSERT_TRUE(watched && witness);
    watched->setEventHandler(cancelled.handler());
    watched->setCancelHandler(cancelled.cancelHandler());
    witness->setEventHandler(sentinel.handler());
    watched->activate();
    witness->activate();

    watched->cancel();
    watched->cancel();  // a second cancel is harmless
    EXPECT_TRUE(watched->isCancelled());
    ASSERT_EQ(::unlink(path.c_str()), 0);
    // The witness sees the unlink; by then the cancelled source has long been
    // unregistered, so anything it could deliver is already on the queue.
    ASSERT_TRUE(sentinel.waitFor([&] { return !sentinel.events.empty(); }));
    queue->sync([] {});
    std::lock_guard lock(cancelled.mutex);
    EXPECT_TRUE(cancelled.events.empty());
    EXPECT_EQ(cancelled.cancellations, 1);
    witness->cancel();
}

TEST(FileWatchSourceTest, EventsBeforeActivationArriveOnActivation) {
    TemporaryFolder folder;
    const std::string path = folder.file("current.log");
    OpenFile file(path);
    auto queue = DispatchQueue::serial("test.file-watch");
    Recorder early;
    Recorder witness;
    auto source = FileWatchSource::make(file.fd, kAll, queue);
    auto active = FileWatchSource::make(file.fd, kAll, queue);
    ASSERT_TRUE(source && active);
    source->setEventHandler(early.handler());
    active->setEventHandler(witness.handler());
    active->activate();
    ASSERT_EQ(::rename(path.c_str(), folder.file("moved.log").c_str()), 0);
    ASSERT_TRUE(witness.waitFor([&] { return !witness.events.empty(); }));
    queue->sync([] {});
    {
        std::lock_guard lock(early.mutex);
        EXPECT_TRUE(early.events.empty()) << "inactive sources deliver nothing";
    }
    // Whether the monitor has already read the inactive source's event (kept
    // as pending) or reads it after activation, it is delivered exactly then.
    source->activate();
    ASSERT_TRUE(early.waitFor([&] { return !early.events.empty(); }));
    EXPECT_EQ(early.all(), unsigned{FileWatchSource::Rename});
    source->cancel();
    active->cancel();
}

TEST(FileWatchSourceTest, RefusesABadDescriptor) {
    EXPECT_FALSE(FileWatchSource::make(-1, kAll, DispatchQueue::serial("test.file-watch")));
    EXPECT_FALSE(FileWatchSource::make(0, kAll, nullptr));
}

}  // namespace

namespace {

TEST(FileWatchSourceTest, ManySourcesComeAndGoConcurrently) {
    TemporaryFolder folder;
    auto queue = DispatchQueue::concurrent("test.file-watch.stress");
    std::vector<std::thread> threads;
    std::atomic<int> delivered{0};
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 40; ++round) {
                const std::string path = folder.file(std::to_string(thread) + "-" + std::to_string(round));
                OpenFile file(path);
                Recorder recorder;
                auto source = FileWatchSource::make(file.fd, kAll, queue);
                ASSERT_TRUE(source);
                source->setEventHandler(recorder.handler());
                source->activate();
                if (round % 2 == 0) {
                    ::unlink(path.c_str());
                } else {
                    ::rename(path.c_str(), (path + ".moved").c_str());
                }
                // Every other round is cancelled before its event can arrive.
                if (round % 4 < 2) {
                    ASSERT_TRUE(recorder.waitFor([&] { return !recorder.events.empty(); }));
                    ++delivered;
                }
                source->cancel();
                // Nothing that was queued may outlive the recorder unnoticed.
                queue->syncBarrier([] {});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(delivered.load(), 4 * 20);
}

TEST(FileWatchSourceTest, TheLastReferenceMayBeDroppedInsideTheHandler) {
    TemporaryFolder folder;
    const std::string path = folder.file("current.log");
    OpenFile file(path);
    auto queue = DispatchQueue::serial("test.file-watch");
    Recorder recorder;
    auto source = FileWatchSource::make(file.fd, kAll, queue);
    ASSERT_TRUE(source);
    auto holder = std::make_shared<std::shared_ptr<FileWatchSource>>(source);
    source->setEventHandler([holder, &recorder](unsigned mask) {
        holder->reset();  // destroys the source on its own queue
        recorder.handler()(mask);
    });
    source->activate();
    source.reset();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(recorder.waitFor([&] { return !recorder.events.empty(); }));
    queue->sync([] {});
}

}  // namespace
