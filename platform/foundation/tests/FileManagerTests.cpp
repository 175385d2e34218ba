#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/foundation/FileHandle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::Data;
using platform::FileManager;
using platform::FileType;
using platform::WriteOptions;
using tervolo::testsupport::TemporaryFolder;

namespace {

FileManager& files() {
    return FileManager::defaultManager();
}

std::string contentOf(const std::string& path) {
    auto bytes = files().readFile(path);
    if (!bytes) return "<" + bytes.error().description + ">";
    return std::string(bytes->begin(), bytes->end());
}

std::vector<std::string> sortedListing(const std::string& folder) {
    auto names = files().contentsOfDirectory(folder);
    EXPECT_TRUE(names.ok());
    if (!names) return {};
    std::sort(names->begin(), names->end());
    return *names;
}

TEST(FileManagerTest, FoldersFollowTheXDGVariablesAndAreCreatedOnDemand) {
    TemporaryFolder folder;
    EXPECT_EQ(files().documentsDirectory(), folder.dataHome() + "/TervoloNG");
    EXPECT_EQ(files().cachesDirectory(), folder.cacheHome() + "/TervoloNG");
    EXPECT_EQ(files().preferencesDirectory(), folder.configHome() + "/TervoloNG");
    for (const std::string& path : {folder.dataHome(), folder.cacheHome(), folder.configHome()}) {
        EXPECT_TRUE(files().isDirectory(path + "/TervoloNG")) << path;
    }

    // A relative value is not a valid XDG base: the home fallback applies.
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    ::setenv("HOME", folder.file("home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(files().documentsDirectory(), folder.file("home/.local/share/TervoloNG"));
    EXPECT_TRUE(files().isDirectory(folder.file("home/.local/share/TervoloNG")));
    ::setenv("HOME", home.c_str(), 1);

    ::setenv("TMPDIR", (folder.path() + "/").c_str(), 1);
    EXPECT_EQ(files().temporaryDirectory(), folder.path());
    ::unsetenv("TMPDIR");
    EXPECT_EQ(files().temporaryDirectory(), "/tmp");
}

TEST(FileManagerTest, CreatesFoldersAndListsOneLevelIncludingHiddenEntries) {
    TemporaryFolder folder;
    EXPECT_FALSE(files().createDirectory(folder.file("a/b/c"), true));
    EXPECT_FALSE(files().createDirectory(folder.file("a/b/c"), true)) << "existing folder is fine";
    auto existing = files().createDirectory(folder.file("a/b/c"), false);
    ASSERT_TRUE(existing);
    EXPECT_TRUE(existing->isFileExists());
    auto missingParent = files().createDirectory(folder.file("x/y"), false);
    ASSERT_TRUE(missingParent);
    EXPECT_TRUE(missingParent->isNoSuchFile());

    ASSERT_FALSE(files().writeFile(folder.file("a/file"), "x"));
    EXPECT_TRUE(files().createDirectory(folder.file("a/file/sub"), true)) << "a file is in the way";

    ASSERT_FALSE(files().writeFile(folder.file("a/.hidden"), "x"));
    EXPECT_EQ(sortedListing(folder.file("a")), (std::vector<std::string>{".hidden", "b", "file"}));
    EXPECT_FALSE(files().contentsOfDirectory(folder.file("a/file")).ok());
    auto missing = files().contentsOfDirectory(folder.file("nowhere"));
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().isNoSuchFile());
}

TEST(FileManagerTest, WriteOptionsReplaceOrRefuseAndLeaveNoTemporaryFiles) {
    struct Case {
        WriteOptions options;
        bool destinationExists;
        bool expectExistsError;
        const char* expectedContent;
    };
    const Case cases[] = {
        {WriteOptions::None, false, false, "new"},
        {WriteOptions::None, true, false, "new"},
        {WriteOptions::Atomic, false, false, "new"},
        {WriteOptions::Atomic, true, false, "new"},
        {WriteOptions::WithoutOverwriting, false, false, "new"},
        {WriteOptions::WithoutOverwriting, true, true, "old"},
        {WriteOptions::Atomic | WriteOptions::WithoutOverwriting, false, false, "new"},
        {WriteOptions::Atomic | WriteOptions::WithoutOverwriting, true, true, "old"},
    };
    int index = 0;
    for (const Case& test : cases) {
        SCOPED_TRACE(index++);
        TemporaryFolder folder;
        const std::string path = folder.file("target.json");
        if (test.destinationExists) {
            ASSERT_FALSE(files().writeFile(path, "old"));
        }
        auto error = files().writeFile(path, "new", test.options);
        if (test.expectExistsError) {
            ASSERT_TRUE(error);
            EXPECT_TRUE(error->isFileExists());
            EXPECT_EQ(error->code, platform::Error::kFileWriteFileExists);
        } else {
            EXPECT_FALSE(error) << error->description;
        }
        EXPECT_EQ(contentOf(path), test.expectedContent);
        EXPECT_EQ(sortedListing(folder.path()),
                  (std::vector<std::string>{"cache", "config", "data", "state", "target.json"}));
    }
}

// A plain atomic write replaces whatever entry holds the name (a link
// included); written through links, the link stays and its target changes.
TEST(FileManagerTest, AtomicWriteThroughSymbolicLinksReplacesTheTarget) {
    TemporaryFolder folder;
    ASSERT_FALSE(files().createDirectory(folder.file("real"), true));
    ASSERT_FALSE(files().writeFile(folder.file("real/file"), "old"));
    ASSERT_EQ(::symlink("real/file", folder.file("link").c_str()), 0);
    ASSERT_EQ(::symlink("link", folder.file("chain").c_str()), 0);

    ASSERT_FALSE(files().writeFile(folder.file("chain"), "through",
                                   WriteOptions::Atomic | WriteOptions::ThroughSymbolicLinks));
    EXPECT_EQ(contentOf(folder.file("real/file")), "through");
    EXPECT_EQ(files().attributesOfItem(folder.file("chain"))->type, FileType::SymbolicLink);
    EXPECT_EQ(files().attributesOfItem(folder.file("link"))->type, FileType::SymbolicLink);
    EXPECT_EQ(sortedListing(folder.file("real")), std::vector<std::string>{"file"});

    auto resolved = files().resolvingSymbolicLinks(folder.file("chain"));
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(*resolved, folder.file("real/file"));
    ASSERT_EQ(::symlink("loop", folder.file("loop").c_str()), 0);
    auto loop = files().resolvingSymbolicLinks(folder.file("loop"));
    ASSERT_FALSE(loop.ok());
    EXPECT_EQ(loop.error().posixCode, ELOOP);

    ASSERT_FALSE(files().writeFile(folder.file("link"), "plain", WriteOptions::Atomic));
    EXPECT_EQ(files().attributesOfItem(folder.file("link"))->type, FileType::Regular);
    EXPECT_EQ(contentOf(folder.file("real/file")), "through");
}

// Leftovers of interrupted atomic writes: only our own pattern, only regular
// files, only when old enough (a write running elsewhere keeps its file).
TEST(FileManagerTest, AbandonedTemporaryFilesAreRemovedWhenOldEnough) {
    struct Case {
        const char* name;
        bool isTemporary;
    };
    const Case names[] = {
        {".a.json.tmp-Ab12Cd", true},
        {".x.tmp-zzzzzz", true},
        {"a.json.tmp-Ab12Cd", false},
        {".a.json.tmp-Ab12C", false},
        {".a.json.tmp-Ab12Cd~", false},
        {".tmp-Ab12Cd", false},
        {"a.json", false},
    };
    for (const Case& test : names)
        EXPECT_EQ(FileManager::isTemporaryFileName(test.name), test.isTemporary) << test.name;

    TemporaryFolder folder;
    const std::string dir = folder.file("points");
    ASSERT_FALSE(files().createDirectory(dir, true));
    const auto make = [&](const std::string& name, double ageSeconds) {
        ASSERT_FALSE(files().writeFile(dir + "/" + name, "partial"));
        struct timespec times[2];
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= static_cast<time_t>(ageSeconds);
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "/" + name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    make(".a.json.tmp-old111", 120);
    make(".b.json.tmp-old222", 61);
    make(".a.json.tmp-new333", 10);
    make("a.json.tmp-old444", 120);  // not hidden: not ours
    make("a.json", 120);
    ASSERT_EQ(::mkdir((dir + "/.c.json.tmp-folder").c_str(), 0700), 0);

    EXPECT_EQ(files().removeAbandonedTemporaryFiles(dir, 60.0, "b.json"),
              std::vector<std::string>{".b.json.tmp-old222"});
    EXPECT_EQ(files().removeAbandonedTemporaryFiles(dir), std::vector<std::string>{".a.json.tmp-old111"});
    EXPECT_EQ(sortedListing(dir), (std::vector<std::string>{".a.json.tmp-new333", ".c.json.tmp-folder",
                                                            "a.json", "a.json.tmp-old444"}));
    EXPECT_TRUE(files().removeAbandonedTemporaryFiles(folder.file("missing")).empty());
}

TEST(FileManagerTest, AtomicWriteKeepsPermissionsOfTheReplacedFile) {
    TemporaryFolder folder;
    const std::string path = folder.file("private");
    ASSERT_FALSE(files().writeFile(path, "old"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_FALSE(files().writeFile(path, "new", WriteOptions::Atomic));
    auto attributes = files().attributesOfItem(path);
    ASSERT_TRUE(attributes.ok());
    EXPECT_EQ(attributes->permissions, 0640u);
}

// Fault injection: the step named in gFailingStep fails with ENOSPC.
const char* gFailingStep = nullptr;
int failStep(const char* step, const char*) {
    return gFailingStep != nullptr && std::string(step) == gFailingStep ? ENOSPC : 0;
}

TEST(FileManagerTest, FailedAtomicWriteKeepsOldContentAndRemovesTheTemporary) {
    for (const char* step : {"write", "fsync", "rename"}) {
        SCOPED_TRACE(step);
        TemporaryFolder folder;
        const std::string path = folder.file("points.json");
        ASSERT_FALSE(files().writeFile(path, "old"));
        gFailingStep = step;
        FileManager::setWriteStepHookForTesting(failStep);
        auto error = files().writeFile(path, "new", WriteOptions::Atomic);
        FileManager::setWriteStepHookForTesting(nullptr);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->posixCode, ENOSPC);
        EXPECT_EQ(error->code, platform::Error::kFileWriteOutOfSpace);
        EXPECT_EQ(contentOf(path), "old");
        EXPECT_EQ(sortedListing(folder.path()),
                  (std::vector<std::string>{"cache", "config", "data", "points.json", "state"}));
    }
}

// The child dies by SIGKILL at the named step of its atomic write.
int killAtStep(const char* step, const char*) {
    if (gFailingStep != nullptr && std::string(step) == gFailingStep) ::raise(SIGKILL);
    return 0;
}

TEST(FileManagerTest, AtomicWriteKilledAtAnyStepLeavesTheOldContent) {
    for (const char* step : {"write", "fsync", "rename"}) {
        SCOPED_TRACE(step);
        TemporaryFolder folder;
        const std::string path = folder.file("points.json");
        ASSERT_FALSE(files().writeFile(path, "old content"));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            gFailingStep = step;
            FileManager::setWriteStepHookForTesting(killAtStep);
            files().writeFile(path, std::string(100000, 'n'), WriteOptions::Atomic);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(contentOf(path), "old content");
    }
}

TEST(FileManagerTest, AtomicWriteKilledAtARandomMomentNeverLeavesATornFile) {
    TemporaryFolder folder;
    const std::string path = folder.file("tags.json");
    // Large enough that a single write(2) of it is observable half done.
    const std::string first(1 << 20, 'a');
    const std::string second(1 << 20, 'b');
    ASSERT_FALSE(files().writeFile(path, first));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (unsigned round = 0;; ++round) {
            files().writeFile(path, round % 2 == 0 ? second : first, WriteOptions::Atomic);
        }
    }
    // Read while the child rewrites the file, then kill it wherever it is.
    int reads = 0;
    for (; reads < 300; ++reads) {
        const std::string content = contentOf(path);
        if (content != first && content != second) break;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(reads, 300) << "a reader saw a torn file";
    const std::string last = contentOf(path);
    EXPECT_TRUE(last == first || last == second) << "torn file after kill, size " << last.size();
}

TEST(FileManagerTest, SafeReadRefusesSpecialFilesAndOversizedFilesWithoutBlocking) {
    TemporaryFolder folder;
    const std::string fifo = folder.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zeroLink = folder.file("zero");
    ASSERT_EQ(::symlink("/dev/zero", zeroLink.c_str()), 0);
    const std::string fifoLink = folder.file("fifo-link");
    ASSERT_EQ(::symlink(fifo.c_str(), fifoLink.c_str()), 0);
    const std::string big = folder.file("big");
    ASSERT_FALSE(files().writeFile(big, std::string(1025, 'x')));
    const std::string exact = folder.file("exact");
    ASSERT_FALSE(files().writeFile(exact, std::string(1024, 'x')));
    const std::string goodLink = folder.file("good-link");
    ASSERT_EQ(::symlink(exact.c_str(), goodLink.c_str()), 0);

    struct Case {
        std::string path;
        bool ok;
        int errnoValue;
    };
    const Case cases[] = {
        {fifo, false, EINVAL},
        {zeroLink, false, EINVAL},
        {fifoLink, false, EINVAL},
        {big, false, EFBIG},
        {exact, true, 0},
        {goodLink, true, 0},
        {folder.path(), false, EISDIR},
        {folder.file("missing"), false, ENOENT},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.path);
        auto result = files().readFileSafely(test.path, 1024);
        ASSERT_EQ(result.ok(), test.ok);
        if (test.ok) {
            EXPECT_EQ(result->size(), 1024u);
        } else {
            EXPECT_EQ(result.error().posixCode, test.errnoValue) << result.error().description;
        }
    }
    auto tooLarge = files().readFileSafely(big, 1024);
    EXPECT_EQ(tooLarge.error().code, platform::Error::kFileReadTooLarge);
    EXPECT_TRUE(files().readFileSafely(folder.file("missing")).error().isNoSuchFile());
}

TEST(FileManagerTest, MoveRefusesAnExistingDestinationAndRemoveTakesFolders) {
    TemporaryFolder folder;
    const std::string from = folder.file("from");
    const std::string to = folder.file("to");
    ASSERT_FALSE(files().writeFile(from, "from"));
    ASSERT_FALSE(files().writeFile(to, "to"));
    auto refused = files().moveItem(from, to);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->isFileExists());
    EXPECT_EQ(contentOf(from), "from");
    EXPECT_EQ(contentOf(to), "to");

    EXPECT_FALSE(files().moveItem(from, folder.file("renamed")));
    EXPECT_FALSE(files().fileExists(from));
    EXPECT_EQ(contentOf(folder.file("renamed")), "from");
    auto missing = files().moveItem(from, folder.file("again"));
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->isNoSuchFile());

    ASSERT_FALSE(files().createDirectory(folder.file("tree/a/b"), true));
    ASSERT_FALSE(files().writeFile(folder.file("tree/a/b/leaf"), "x"));
    EXPECT_FALSE(files().removeItem(folder.file("tree")));
    EXPECT_FALSE(files().fileExists(folder.file("tree")));
    auto gone = files().removeItem(folder.file("tree"));
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->isNoSuchFile());
}

TEST(FileManagerTest, AttributesDescribeTheItemItself) {
    TemporaryFolder folder;
    const std::string file = folder.file("file");
    ASSERT_FALSE(files().writeFile(file, "12345"));
    ASSERT_EQ(::symlink(file.c_str(), folder.file("link").c_str()), 0);
    struct Case {
        std::string path;
        FileType type;
    };
    for (const Case& test : {Case{file, FileType::Regular}, Case{folder.file("link"), FileType::SymbolicLink},
                             Case{folder.path(), FileType::Directory}}) {
        auto attributes = files().attributesOfItem(test.path);
        ASSERT_TRUE(attributes.ok()) << test.path;
        EXPECT_EQ(attributes->type, test.type) << test.path;
    }
    auto attributes = files().attributesOfItem(file);
    ASSERT_TRUE(attributes.ok());
    EXPECT_EQ(attributes->size, 5u);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_NEAR(attributes->modificationDate.unixTime(),
                static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec * 1e-9, 1e-6);
    if (attributes->creationDate) {
        // Birth time and modification happen within the same write here.
        EXPECT_LE(attributes->creationDate->secondsSince2001,
                  attributes->modificationDate.secondsSince2001 + 1);
    }
    EXPECT_TRUE(files().attributesOfItem(folder.file("missing")).error().isNoSuchFile());
}

TEST(FileManagerTest, ExtendedAttributesRoundTripInTheUserNamespace) {
    TemporaryFolder folder;
    const std::string file = folder.file("log.txt");
    ASSERT_FALSE(files().writeFile(file, "x"));
    const uint8_t one[] = {1};
    auto setError = files().setExtendedAttribute(file, "quova.log.archived", one);
    if (setError && setError->isNotSupported()) {
        GTEST_SKIP() << "the file system of " << folder.path() << " has no user extended attributes";
    }
    ASSERT_FALSE(setError) << setError->description;
    char raw[4] = {};
    EXPECT_EQ(::getxattr(file.c_str(), "user.quova.log.archived", raw, sizeof raw), 1) << "stored as user.*";
    auto value = files().extendedAttribute(file, "quova.log.archived");
    ASSERT_TRUE(value.ok());
    EXPECT_EQ(*value, Data{1});

    const uint8_t two[] = {1, 2};
    ASSERT_FALSE(files().setExtendedAttribute(file, "quova.log.archived", two));
    auto tooLong = files().extendedAttribute(file, "quova.log.archived");
    ASSERT_FALSE(tooLong.ok());
    EXPECT_EQ(tooLong.error().posixCode, ERANGE);

    EXPECT_FALSE(files().removeExtendedAttribute(file, "quova.log.archived"));
    auto absent = files().extendedAttribute(file, "quova.log.archived");
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error().posixCode, ENODATA);
    auto removeAbsent = files().removeExtendedAttribute(file, "quova.log.archived");
    ASSERT_TRUE(removeAbsent);
    EXPECT_EQ(removeAbsent->posixCode, ENODATA);
    EXPECT_TRUE(files().extendedAttribute(folder.file("missing"), "a").error().isNoSuchFile());
}

TEST(FileManagerTest, ExtendedAttributesReportAFileSystemWithoutThem) {
    // procfs has no extended attributes at all, on every Linux.
    const uint8_t one[] = {1};
    auto setError = files().setExtendedAttribute("/proc/self/comm", "quova.log.archived", one);
    ASSERT_TRUE(setError);
    EXPECT_TRUE(setError->isNotSupported()) << setError->description;
    auto readError = files().extendedAttribute("/proc/self/comm", "quova.log.archived");
    ASSERT_FALSE(readError.ok());
    EXPECT_TRUE(readError.error().isNotSupported()) << readError.error().description;
}

TEST(FileHandleTest, AppendsAndReportsErrorsInsteadOfThrowing) {
    TemporaryFolder folder;
    const std::string path = folder.file("log.txt");
    ASSERT_FALSE(files().writeFile(path, "abc"));
    auto handle = platform::FileHandle::forWriting(path);
    ASSERT_TRUE(handle.ok());
    auto end = (*handle)->seekToEnd();
    ASSERT_TRUE(end.ok());
    EXPECT_EQ(*end, 3u);
    EXPECT_FALSE((*handle)->write(std::string_view("defg")));
    auto offset = (*handle)->offset();
    ASSERT_TRUE(offset.ok());
    EXPECT_EQ(*offset, 7u);
    EXPECT_FALSE((*handle)->synchronize());
    EXPECT_FALSE((*handle)->close());
    EXPECT_EQ(contentOf(path), "abcdefg");

    EXPECT_TRUE((*handle)->close());
    EXPECT_TRUE((*handle)->write(std::string_view("x")));
    EXPECT_FALSE((*handle)->offset().ok());
    EXPECT_TRUE((*handle)->synchronize());

    auto missing = platform::FileHandle::forWriting(folder.file("missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().isNoSuchFile());
}

}  // namespace
