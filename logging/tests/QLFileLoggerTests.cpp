#include "logging/QLFileLogger.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "logging/QLLog.hpp"
#include "logging/QLLogFileManagerDefault.hpp"
#include "logging/tests/LogFileTestSupport.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileHandle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::logging {
namespace {

using platform::Date;
using platform::DispatchQueue;
using platform::FileManager;
using testing::baseName;
using testing::makeRecord;
using testing::readText;
using testing::ScopedExtendedAttributesRefused;

// Keeps the manager's archive notifications and signals each one.
class RecordingManager : public QLLogFileManagerDefault {
  public:
    using QLLogFileManager::didArchiveLogFile;
    using QLLogFileManagerDefault::QLLogFileManagerDefault;

    void didArchiveLogFile(const std::string& path) override { note("archived " + baseName(path)); }
    void didRollAndArchiveLogFile(const std::string& path) override { note("rolled " + baseName(path)); }

    std::vector<std::string> notes() {
        std::lock_guard lock(mutex_);
        return notes_;
    }
    // Waits (at most ten seconds) for the next notification.
    bool waitForNote() { return signal_.wait(10.0); }

  private:
    void note(std::string text) {
        {
            std::lock_guard lock(mutex_);
            notes_.push_back(std::move(text));
        }
        signal_.signal();
    }
    std::mutex mutex_;
    std::vector<std::string> notes_;
    platform::DispatchSemaphore signal_{0};
};

class TextFormatter : public QLLogFormatter {
  public:
    explicit TextFormatter(std::function<std::optional<std::string>(const QLLogMessage&)> format)
        : format_(std::move(format)) {}
    std::optional<std::string> formatLogMessage(const QLLogMessage& message) override {
        return format_(message);
    }

  private:
    std::function<std::optional<std::string>(const QLLogMessage&)> format_;
};

class QLFileLoggerTest : public testing::LogFolderTest {
  protected:
    QLFileLoggerTest() : completionQueue_(DispatchQueue::serial("test.completion")) {}

    std::shared_ptr<RecordingManager> makeRecordingManager(const std::string& folder = {}) {
        return std::make_shared<RecordingManager>(folder.empty() ? logsDirectory_ : folder);
    }
    template <typename Logger = QLFileLogger>
    std::shared_ptr<Logger> makeLogger(std::shared_ptr<QLLogFileManager> manager) {
        return std::make_shared<Logger>(std::move(manager), completionQueue_);
    }
    // Writes one record as the registry would: on the logger's queue.
    static void write(const std::shared_ptr<QLFileLogger>& logger, const std::string& text) {
        logger->loggerQueue()->sync([&] { logger->logMessage(makeRecord(text)); });
    }
    // Lets the formatter change made through both queues land.
    static void setFormatter(const std::shared_ptr<QLFileLogger>& logger,
                             std::shared_ptr<QLLogFormatter> formatter) {
        logger->setLogFormatter(std::move(formatter));
        (void)logger->logFormatter();
    }
    void drainCompletions() {
        completionQueue_->sync([] {});
    }

    // Log files of the folder with their contents, newest first.
    std::vector<std::pair<std::string, std::string>> logFiles(QLLogFileManager& manager) {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& path : manager.sortedLogFilePaths())
            files.emplace_back(baseName(path), readText(path));
        return files;
    }

    std::shared_ptr<DispatchQueue> completionQueue_;
};

TEST_F(QLFileLoggerTest, NewlineRules) {
    struct Case {
        const char* name;
        std::shared_ptr<QLLogFormatter> formatter;  // null: none
        bool appendForCustom;
        std::string message;
        std::string written;
    };
    auto bracket =
        std::make_shared<TextFormatter>([](const QLLogMessage& m) { return "<" + m.message() + ">"; });
    auto same = std::make_shared<TextFormatter>([](const QLLogMessage& m) { return m.message(); });
    auto drop = std::make_shared<TextFormatter>([](const QLLogMessage&) { return std::nullopt; });
    auto empty = std::make_shared<TextFormatter>([](const QLLogMessage&) { return std::string(); });
    const Case cases[] = {
        {"no formatter", nullptr, false, "plain", "plain\n"},
        {"no formatter, newline present", nullptr, false, "plain\n", "plain\n"},
        {"no formatter, empty message", nullptr, true, "", ""},
        {"custom text, flag on", bracket, true, "m", "<m>\n"},
        {"custom text, flag off", bracket, false, "m", "<m>"},
        {"custom returns the message, flag off", same, false, "m", "m\n"},
        {"custom drops the record", drop, true, "m", ""},
        {"custom returns empty text", empty, true, "m", ""},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto manager = makeRecordingManager(logsDirectory_ + "/" + std::to_string(index++));
        auto logger = makeLogger(manager);
        setFormatter(logger, c.formatter);
        logger->setAutomaticallyAppendNewlineForCustomFormatters(c.appendForCustom);
        write(logger, c.message);
        const auto files = logFiles(*manager);
        if (c.written.empty()) {
            EXPECT_TRUE(files.empty());  // nothing to write opens no file
        } else {
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].second, c.written);
        }
    }

    // The default formatter: timestamp, two blanks, message, newline.
    auto logger = makeLogger(makeRecordingManager());
    logger->loggerQueue()->sync(
        [&] { logger->logMessage(makeRecord("ok", Date::fromUnix(1706708707.123))); });
    EXPECT_EQ(readText(logger->currentLogFileInfo()->filePath()), "2024/01/31 13:45:07:123  ok\n");
}

class ArchivingLogger : public QLFileLogger {
  public:
    using QLFileLogger::QLFileLogger;
    bool shouldArchiveRecentLogFileInfo(QLLogFileInfo&) override { return true; }
};

TEST_F(QLFileLoggerTest, ResumeOrArchiveTheNewestFileAtStart) {
    enum class Setup { None, Fresh, Archived, DoNotReuse, TooLarge, TooOld, SubclassSaysArchive };
    struct Case {
        const char* name;
        Setup setup;
        bool resumed;
        bool notified;  // "archived" notification for the old file
    };
    const Case cases[] = {
        {"fresh small unarchived file is continued", Setup::Fresh, true, false},
        {"archived file is not continued", Setup::Archived, false, false},
        {"doNotReuseLogFiles", Setup::DoNotReuse, false, true},
        {"file of the maximum size", Setup::TooLarge, false, true},
        {"file a day old", Setup::TooOld, false, true},
        {"subclass asks to archive", Setup::SubclassSaysArchive, false, true},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = logsDirectory_ + "/" + std::to_string(index++);
        ASSERT_FALSE(FileManager::defaultManager().createDirectory(folder, true));
        const std::string old = folder + "/" + QLLogFileManagerDefault::logFileName(Date::now());
        ASSERT_FALSE(FileManager::defaultManager().writeFile(old, std::string("before\n")));
        if (c.setup == Setup::Archived) QLLogFileInfo(old).setIsArchived(true);
        if (c.setup == Setup::TooLarge) {
            ASSERT_EQ(::truncate(old.c_str(), 1048576), 0);
        }
        std::optional<tervolo::testsupport::VirtualClockScope> later;
        if (c.setup == Setup::TooOld) later.emplace(platform::Clock::system()->wallSeconds() + 86400 + 60);

        auto manager = makeRecordingManager(folder);
        auto logger = c.setup == Setup::SubclassSaysArchive ? makeLogger<ArchivingLogger>(manager)
                                                            : makeLogger(manager);
        setFormatter(logger, nullptr);
        logger->setDoNotReuseLogFiles(c.setup == Setup::DoNotReuse);
        write(logger, "after");
        drainCompletions();

        const std::string current = logger->currentLogFileInfo()->filePath();
        if (c.resumed) {
            EXPECT_EQ(current, old);
            EXPECT_EQ(readText(old), "before\nafter\n");
        } else {
            EXPECT_NE(current, old);
            EXPECT_EQ(readText(current), "after\n");
            EXPECT_TRUE(QLLogFileInfo(old).isArchived());
        }
        EXPECT_EQ(manager->notes(), c.notified ? std::vector<std::string>{"archived " + baseName(old)}
                                               : std::vector<std::string>{});
    }
}

TEST_F(QLFileLoggerTest, RollsRightAfterTheRecordThatReachesTheMaximumSize) {
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    ASSERT_EQ(logger->maximumFileSize(), 1048576u);
    const std::string big(1048575, 'x');  // with its newline exactly 1 MiB
    write(logger, "first");
    const std::string first = logger->currentLogFileInfo()->filePath();
    write(logger, big.substr(0, big.size() - 6));
    ASSERT_TRUE(manager->waitForNote());
    EXPECT_EQ(manager->notes(), std::vector<std::string>{"rolled " + baseName(first)});
    EXPECT_TRUE(QLLogFileInfo(first).isArchived());

    write(logger, "next");
    const std::string second = logger->currentLogFileInfo()->filePath();
    EXPECT_NE(second, first);
    EXPECT_EQ(readText(second), "next\n");
    EXPECT_EQ(QLLogFileInfo(first).fileSize(), 1048576u);

    // Lowering the limit below the current size rolls at once.
    logger->setMaximumFileSize(3);
    EXPECT_EQ(logger->maximumFileSize(), 3u);
    ASSERT_TRUE(manager->waitForNote());
    EXPECT_TRUE(QLLogFileInfo(second).isArchived());
}

TEST_F(QLFileLoggerTest, RollsByAgeOnTheTimer) {
    tervolo::testsupport::VirtualClockScope time(platform::Clock::system()->wallSeconds());
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    logger->setRollingFrequency(60);
    ASSERT_EQ(logger->rollingFrequency(), 60);
    write(logger, "one");
    const std::string first = logger->currentLogFileInfo()->filePath();

    time.advance(30);
    EXPECT_TRUE(manager->notes().empty());
    time.advance(32);
    drainCompletions();
    EXPECT_EQ(manager->notes(), std::vector<std::string>{"rolled " + baseName(first)});
    EXPECT_TRUE(QLLogFileInfo(first).isArchived());
    write(logger, "two");
    EXPECT_NE(logger->currentLogFileInfo()->filePath(), first);
}

TEST_F(QLFileLoggerTest, NoRollingByAgeWithFrequencyZero) {
    tervolo::testsupport::VirtualClockScope time(platform::Clock::system()->wallSeconds());
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    logger->setRollingFrequency(0);
    ASSERT_EQ(logger->rollingFrequency(), 0);
    write(logger, "one");
    EXPECT_EQ(time.clock().pendingCount(), 0u);  // no timer
    time.advance(10 * 86400);
    write(logger, "two");
    drainCompletions();
    EXPECT_TRUE(manager->notes().empty());
    EXPECT_EQ(logFiles(*manager).size(), 1u);
}

TEST_F(QLFileLoggerTest, ExternalDeleteOrRenameStartsANewFile) {
    struct Case {
        const char* name;
        bool rename;
    };
    for (const Case c : {Case{"delete", false}, Case{"rename", true}}) {
        SCOPED_TRACE(c.name);
        const std::string folder = logsDirectory_ + "/" + c.name;
        auto manager = makeRecordingManager(folder);
        auto logger = makeLogger(manager);
        setFormatter(logger, nullptr);
        write(logger, "one");
        const std::string first = logger->currentLogFileInfo()->filePath();
        const std::string moved = folder + "/moved.txt";
        if (c.rename) {
            ASSERT_FALSE(FileManager::defaultManager().moveItem(first, moved));
        } else {
            ASSERT_FALSE(FileManager::defaultManager().removeItem(first));
        }
        ASSERT_TRUE(manager->waitForNote());
        EXPECT_EQ(manager->notes(), std::vector<std::string>{"rolled " + baseName(first)});

        write(logger, "two");
        const auto files = logFiles(*manager);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].second, "two\n");
        if (c.rename) {
            EXPECT_EQ(readText(moved), "one\n");
        }
    }
}

TEST_F(QLFileLoggerTest, RollOnRequestCompletesOnceOnTheCompletionQueue) {
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    write(logger, "one");
    const std::string first = logger->currentLogFileInfo()->filePath();

    std::atomic<int> calls{0};
    std::string label;
    platform::DispatchSemaphore done(0);
    logger->rollLogFileWithCompletionBlock([&] {
        label = DispatchQueue::currentLabel();
        // The file is closed and archived before the completion runs.
        if (QLLogFileInfo(first).isArchived()) ++calls;
        done.signal();
    });
    ASSERT_TRUE(done.wait(10.0));
    drainCompletions();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(label, "test.completion");

    // With no file open the roll does nothing but the block still runs once.
    logger->rollLogFileWithCompletionBlock([&] { done.signal(); });
    ASSERT_TRUE(done.wait(10.0));
    write(logger, "two");
    EXPECT_NE(logger->currentLogFileInfo()->filePath(), first);
    EXPECT_EQ(manager->notes(), std::vector<std::string>{"rolled " + baseName(first)});
}

TEST_F(QLFileLoggerTest, NoLineLostAcrossRollsUnderFourWriters) {
    auto manager = makeRecordingManager();
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = makeLogger(manager);
    logger->setMaximumFileSize(4096);
    QLLog registry;
    registry.addLogger(logger);

    constexpr int kThreads = 4;
    constexpr int kLines = 600;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                registry.log(i % 7 != 0,
                             makeRecord("writer " + std::to_string(t) + " line " + std::to_string(i)));
                if (t == 0 && i % 100 == 0) logger->rollLogFile();
            }
        });
    }
    for (auto& writer : writers) writer.join();
    registry.flushLog();
    registry.removeAllLoggers();
    registry.flushLog();
    logger->loggerQueue()->sync([] {});

    std::map<std::string, int> seen;
    size_t files = 0;
    for (const auto& path : folderNames()) {
        ++files;
        std::istringstream lines(readText(logsDirectory_ + "/" + path));
        for (std::string line; std::getline(lines, line);) {
            const auto text = line.find("  ");
            ASSERT_NE(text, std::string::npos) << line;  // every line whole
            ++seen[line.substr(text + 2)];
        }
    }
    EXPECT_GT(files, 10u);  // it did roll, many times
    ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& [line, count] : seen) EXPECT_EQ(count, 1) << line;
}

TEST_F(QLFileLoggerTest, RollsAndPrunesWithoutExtendedAttributes) {
    ScopedExtendedAttributesRefused refused;
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    logger->setMaximumFileSize(10);
    ASSERT_EQ(logger->maximumFileSize(), 10u);

    write(logger, "0123456789");  // reaches the limit: rolled
    ASSERT_TRUE(manager->waitForNote());
    const std::string first = manager->sortedLogFilePaths().front();
    EXPECT_TRUE(QLLogFileInfo(first).isArchived());
    write(logger, "short");  // a new file, not the archived one continued
    const std::string second = logger->currentLogFileInfo()->filePath();
    EXPECT_NE(second, first);
    EXPECT_EQ(readText(first), "0123456789\n");
    EXPECT_EQ(readText(second), "short\n");

    // A new logger (a restart) continues the unarchived file ...
    logger.reset();
    auto restarted = makeLogger(manager);
    setFormatter(restarted, nullptr);
    write(restarted, "again");
    EXPECT_EQ(restarted->currentLogFileInfo()->filePath(), second);
    EXPECT_EQ(readText(second), "short\nagain\n");

    // ... and after an explicit roll it starts a new one; pruning keeps the
    // newest unarchived file and deletes by count.
    manager->setMaximumNumberOfLogFiles(1);
    platform::DispatchSemaphore rolled(0);
    restarted->rollLogFileWithCompletionBlock([&] { rolled.signal(); });
    ASSERT_TRUE(rolled.wait(10.0));
    EXPECT_TRUE(QLLogFileInfo(second).isArchived());
    write(restarted, "third");
    const std::string third = restarted->currentLogFileInfo()->filePath();
    EXPECT_NE(third, second);
    tervolo::testsupport::eventually([&] { return manager->unsortedLogFilePaths().size() == 1; });
    EXPECT_EQ(manager->sortedLogFilePaths(), std::vector<std::string>{third});
}

TEST_F(QLFileLoggerTest, ChosenFileRemovedBeforeItWasOpenedIsReplaced) {
    // The file is chosen (created) but not yet open, so no watch sees it go;
    // the record must not be lost on a path that can no longer be opened.
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    const std::string chosen = logger->currentLogFileInfo()->filePath();
    ASSERT_FALSE(FileManager::defaultManager().removeItem(chosen));
    platform::LineCapture errors(platform::LineWriter::standardError());
    write(logger, "kept");
    const auto files = logFiles(*manager);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].second, "kept\n");
    // Pruning runs on a global queue and may report the vanished file too;
    // the logger itself reports the failed open exactly once.
    const auto lines = errors.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("QLFileLogger: Failed to open file: ", 0) == 0;
                            }),
              1)
        << ::testing::PrintToString(lines);
}

class ThrowingFileLogger : public QLFileLogger {
  public:
    using QLFileLogger::QLFileLogger;
    void willLogMessage(const std::shared_ptr<QLLogFileInfo>&) override { throw std::runtime_error("boom"); }
};

TEST_F(QLFileLoggerTest, OnlyTheFirstTenExceptionsAreReported) {
    QLFileLogger::resetExceptionCountForTesting();
    auto logger = makeLogger<ThrowingFileLogger>(makeRecordingManager());
    platform::LineCapture errors(platform::LineWriter::standardError());
    for (int i = 0; i < 12; ++i) write(logger, "x");
    std::vector<std::string> expected(10, "QLFileLogger.logMessage: boom");
    expected.push_back("QLFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
    EXPECT_EQ(errors.lines(), expected);
    QLFileLogger::resetExceptionCountForTesting();
}

TEST_F(QLFileLoggerTest, FileErrorsGoToStandardErrorAndRecordsAreDropped) {
    auto manager = makeRecordingManager();
    // The logs folder cannot be made: every creation fails.
    ASSERT_FALSE(FileManager::defaultManager().createDirectory(folder_.cacheHome() + "/TervoloNG", true));
    ASSERT_FALSE(FileManager::defaultManager().writeFile(logsDirectory_, std::string("a file")));
    auto logger = makeLogger(manager);
    platform::LineCapture errors(platform::LineWriter::standardError());
    write(logger, "lost");
    const auto lines = errors.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("QLFileLogger: Failed to create new log file: ", 0), 0u);
    EXPECT_EQ(logger->currentLogFileInfo(), nullptr);
}

// Two loggers append to one file (a second instance resumes the first one's
// file) from two threads at once: no record is lost or torn.
TEST_F(QLFileLoggerTest, TwoLoggersAppendingToOneFileLoseNothing) {
    auto first = makeLogger(makeRecordingManager());
    auto second = makeLogger(makeRecordingManager());
    setFormatter(first, nullptr);
    setFormatter(second, nullptr);
    write(first, "start");
    ASSERT_EQ(second->currentLogFileInfo()->filePath(), first->currentLogFileInfo()->filePath());
    constexpr int kPerLogger = 20000;
    const auto run = [&](const std::shared_ptr<QLFileLogger>& logger, const std::string& prefix) {
        for (int i = 0; i < kPerLogger; ++i) write(logger, prefix + std::to_string(i));
    };
    std::thread a(run, first, "a");
    std::thread b(run, second, "b");
    a.join();
    b.join();

    std::istringstream text(readText(first->currentLogFileInfo()->filePath()));
    std::set<std::string> lines;
    size_t count = 0;
    for (std::string line; std::getline(text, line); ++count) lines.insert(line);
    EXPECT_EQ(count, 2u * kPerLogger + 1);
    EXPECT_EQ(lines.size(), 2u * kPerLogger + 1);
    EXPECT_TRUE(lines.count("a19999") && lines.count("b19999") && lines.count("start"));
}

// A full disk (here a file-size limit) cuts a record short: the partial record
// is ended with a newline before the next one, and the failures are reported
// once, not once per record.
TEST_F(QLFileLoggerTest, ARecordCutShortIsEndedBeforeTheNextOne) {
    tervolo::testsupport::VirtualClockScope time;
    auto logger = makeLogger(makeRecordingManager());
    setFormatter(logger, nullptr);
    write(logger, "first");
    const std::string path = logger->currentLogFileInfo()->filePath();
    ASSERT_EQ(readText(path), "first\n");

    platform::LineCapture errors(platform::LineWriter::standardError());
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit full = saved;
    full.rlim_cur = 9;  // room for three more bytes
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    write(logger, "second record");
    for (int i = 0; i < 20; ++i) write(logger, "lost");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    ::signal(SIGXFSZ, previousHandler);

    write(logger, "third");
    EXPECT_EQ(readText(path), "first\nsec\nthird\n");
    const auto lines = errors.lines();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind("QLFileLogger: Failed to write data: ", 0), 0u) << lines[0];

    // Ten seconds on, one summary line counts what was lost meanwhile.
    time.advance(10.0);
    write(logger, "fourth");
    ASSERT_EQ(errors.lines().size(), 2u);
    EXPECT_EQ(errors.lines()[1],
              "QLFileLogger: 21 records lost, 20 more failures in the last 10 s; latest: " + lines[0]);
}

// Files that vanish (renamed away by someone else) between their creation and
// the logger opening them cost no record while the folder stays writable.
class VanishingFilesManager : public RecordingManager {
  public:
    using RecordingManager::RecordingManager;
    std::optional<std::string> createNewLogFileWithError(platform::Error* error) override {
        auto path = RecordingManager::createNewLogFileWithError(error);
        if (path && vanishing_ > 0) {
            --vanishing_;
            EXPECT_EQ(std::rename(path->c_str(), (*path + ".away").c_str()), 0);
        }
        return path;
    }
    int vanishing_ = 0;
};

TEST_F(QLFileLoggerTest, FilesRenamedAwayBeforeTheyAreOpenedCostNoRecord) {
    auto manager = std::make_shared<VanishingFilesManager>(logsDirectory_);
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    platform::LineCapture errors(platform::LineWriter::standardError());
    manager->vanishing_ = 5;
    write(logger, "kept");
    EXPECT_EQ(manager->vanishing_, 0);
    const auto files = logFiles(*manager);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].second, "kept\n");
}

// An unwritable logs folder fails every record: the first failure is reported,
// then at most one summary line per ten seconds from each reporter.
TEST_F(QLFileLoggerTest, AnUnwritableFolderDoesNotFloodStandardError) {
    tervolo::testsupport::VirtualClockScope time;
    auto manager = makeRecordingManager();
    ASSERT_FALSE(FileManager::defaultManager().createDirectory(folder_.cacheHome() + "/TervoloNG", true));
    ASSERT_FALSE(FileManager::defaultManager().writeFile(logsDirectory_, std::string("a file")));
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    platform::LineCapture errors(platform::LineWriter::standardError());
    write(logger, "lost");
    const size_t firstRecord = errors.lines().size();
    ASSERT_GE(firstRecord, 1u);
    for (int i = 0; i < 50; ++i) write(logger, "lost");
    EXPECT_EQ(errors.lines().size(), firstRecord) << ::testing::PrintToString(errors.lines());

    time.advance(10.0);
    write(logger, "lost");
    const auto lines = errors.lines();
    EXPECT_LE(lines.size(), firstRecord + 2) << ::testing::PrintToString(lines);
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& line) {
                          return line.rfind(
                                     "QLFileLogger: 51 records lost, 51 more failures in the last 10 s; "
                                     "latest: QLFileLogger: Failed to create new log file: ",
                                     0) == 0;
                      }),
        1)
        << ::testing::PrintToString(lines);
}

// A normal exit with records still queued: the shared registry delivers and
// flushes them before the process ends. The exit runs in a child process that
// writes into this test's folder.
TEST(QLFileLoggerExitTest, ANormalExitLosesNoQueuedRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kShared = "TERVOLO_TEST_EXIT_LOGS";
    std::optional<tervolo::testsupport::TemporaryFolder> folder;
    if (std::getenv(kShared) == nullptr) {
        folder.emplace();
        ::setenv(kShared, folder->file("Logs").c_str(), 1);
    }
    const std::string logs = std::getenv(kShared);
    constexpr int kRecords = 50000;
    EXPECT_EXIT(
        {
            auto logger = std::make_shared<QLFileLogger>(std::make_shared<QLLogFileManagerDefault>(logs));
            logger->setLogFormatter(nullptr);
            QLLog::sharedInstance().addLogger(logger);
            for (int i = 0; i < kRecords; ++i)
                QLLog::sharedInstance().log(true, makeRecord(std::to_string(i)));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv(kShared);

    QLLogFileManagerDefault manager(logs);
    size_t lines = 0;
    for (const auto& path : manager.sortedLogFilePaths()) {
        const std::string text = readText(path);
        lines += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    EXPECT_EQ(lines, static_cast<size_t>(kRecords));
}

TEST_F(QLFileLoggerTest, OperationsFromTheLoggingQueueAreReported) {
    expectAssertions_ = true;
    auto logger = makeLogger(makeRecordingManager());
    QLLog::loggingQueue()->sync([&] { (void)logger->maximumFileSize(); });
    logger->loggerQueue()->sync([&] { (void)logger->rollingFrequency(); });
    const auto texts = assertionTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "QLFileLogger: Core architecture requirement failure");
    EXPECT_EQ(texts[1], "QLFileLogger: MUST access ivar directly, NOT via self.* syntax.");
}

// Records the registry delivers while more are queued behind them are written
// together. The logging queue is held while a burst is queued, so the whole
// burst is one delivery turn; it ends when the queue has no record left.
class QLFileLoggerTurnTest : public QLFileLoggerTest {
  protected:
    // The logging queue runs nothing else until the returned promise is set.
    static std::shared_ptr<std::promise<void>> holdLoggingQueue() {
        auto gate = std::make_shared<std::promise<void>>();
        QLLog::loggingQueue()->async([released = gate->get_future().share()] { released.wait(); });
        return gate;
    }
    // "<name> <i>" padded with dots to `width` bytes.
    static std::string line(const std::string& name, int i, size_t width = 0) {
        std::string text = name + " " + std::to_string(i);
        if (text.size() < width) text.append(width - text.size(), '.');
        return text;
    }
};

TEST_F(QLFileLoggerTurnTest, ABurstIsWrittenInOrderWithOneCallPerBoundWhenTheTurnEnds) {
    struct Case {
        int records;
        size_t width;
        uint64_t writes;
    };
    // 200 short lines fit one write; 100 lines of 1001 bytes pass the 64 KiB bound once.
    for (const Case& c : {Case{200, 40, 1}, Case{100, 1000, 2}}) {
        SCOPED_TRACE(c.records);
        auto logger = makeLogger(makeRecordingManager(logsDirectory_ + "/" + std::to_string(c.records)));
        setFormatter(logger, nullptr);
        QLLog registry;
        registry.addLogger(logger);
        // Synchronous: in the file when the call returns.
        registry.log(false, makeRecord("start"));
        const std::string path = logger->currentLogFileInfo()->filePath();
        EXPECT_EQ(readText(path), "start\n");

        auto gate = holdLoggingQueue();
        std::string expected = "start\n";
        for (int i = 0; i < c.records; ++i) {
            registry.log(true, makeRecord(line("burst", i, c.width)));
            expected += line("burst", i, c.width) + "\n";
        }
        const uint64_t before = platform::FileHandle::writeCallCount();
        gate->set_value();
        // No flush: once the logging queue has passed the burst, it is in the file.
        QLLog::loggingQueue()->sync([] {});
        EXPECT_EQ(platform::FileHandle::writeCallCount() - before, c.writes);
        EXPECT_EQ(readText(path), expected);
        registry.removeAllLoggers();
        registry.flushLog();
    }
}

TEST_F(QLFileLoggerTurnTest, RollsAtTheSameRecordsWhenATurnIsWrittenTogether) {
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    logger->setMaximumFileSize(100);
    ASSERT_EQ(logger->maximumFileSize(), 100u);
    QLLog registry;
    registry.addLogger(logger);
    registry.log(false, makeRecord(line("r", 0, 29)));  // 30 bytes a line

    auto gate = holdLoggingQueue();
    for (int i = 1; i <= 9; ++i) registry.log(true, makeRecord(line("r", i, 29)));
    gate->set_value();
    QLLog::loggingQueue()->sync([] {});

    // A file rolls right after the line that takes it to 100 bytes or more.
    auto lines = [&](std::initializer_list<int> numbers) {
        std::string text;
        for (int i : numbers) text += line("r", i, 29) + "\n";
        return text;
    };
    const auto files = logFiles(*manager);  // newest first
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[2].second, lines({0, 1, 2, 3}));
    EXPECT_EQ(files[1].second, lines({4, 5, 6, 7}));
    EXPECT_EQ(files[0].second, lines({8, 9}));
    registry.removeAllLoggers();
    registry.flushLog();
}

TEST_F(QLFileLoggerTurnTest, ARollOrRemovalInsideATurnWritesTheCollectedRecordsFirst) {
    auto manager = makeRecordingManager();
    auto logger = makeLogger(manager);
    setFormatter(logger, nullptr);
    QLLog registry;
    registry.addLogger(logger);
    registry.log(false, makeRecord("a 0"));

    auto gate = holdLoggingQueue();
    for (int i = 1; i <= 3; ++i) registry.log(true, makeRecord(line("a", i)));
    logger->rollLogFile();
    for (int i = 1; i <= 3; ++i) registry.log(true, makeRecord(line("b", i)));
    registry.removeLogger(logger);
    registry.log(true, makeRecord("after removal"));  // the turn goes on past the removal
    gate->set_value();
    QLLog::loggingQueue()->sync([] {});
    logger->loggerQueue()->sync([] {});

    const auto files = logFiles(*manager);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].second, "a 0\na 1\na 2\na 3\n");
    EXPECT_EQ(files[0].second, "b 1\nb 2\nb 3\n");
}

TEST_F(QLFileLoggerTurnTest, ALoggerThatMissesTheLastRecordOfATurnStillWritesItsRecords) {
    auto errorsManager = makeRecordingManager(logsDirectory_ + "/errors");
    auto errors = makeLogger(errorsManager);
    auto everything = makeLogger(makeRecordingManager(logsDirectory_ + "/all"));
    setFormatter(errors, nullptr);
    setFormatter(everything, nullptr);
    QLLog registry;
    registry.addLogger(errors, static_cast<QLLogLevel>(rawValue(QLLogFlag::error)));
    registry.addLogger(everything);
    registry.log(false, makeRecord(QLLogFlag::error, "e 0"));

    auto gate = holdLoggingQueue();
    for (int i = 1; i <= 3; ++i) registry.log(true, makeRecord(QLLogFlag::error, line("e", i)));
    registry.log(true, makeRecord(QLLogFlag::info, "i 1"));  // the last record passes one logger only
    gate->set_value();
    QLLog::loggingQueue()->sync([] {});

    EXPECT_EQ(readText(errors->currentLogFileInfo()->filePath()), "e 0\ne 1\ne 2\ne 3\n");
    EXPECT_EQ(readText(everything->currentLogFileInfo()->filePath()), "e 0\ne 1\ne 2\ne 3\ni 1\n");
    registry.removeAllLoggers();
    registry.flushLog();
}

}  // namespace
}  // namespace tervolo::logging
