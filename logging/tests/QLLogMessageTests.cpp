#include "logging/QLLogMessage.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace tervolo::logging {
namespace {

QLLogMessage messageFromFile(std::string_view file, std::optional<platform::Date> timestamp = std::nullopt) {
    return QLLogMessage("text", QLLogLevel::all, QLLogFlag::info, 7, file, "function", 12, std::string("tag"),
                        3, timestamp);
}

TEST(QLLogMessageTest, FileNameIsTheBaseNameWithoutTheLastExtension) {
    struct Case {
        const char* file;
        const char* fileName;
    };
    const Case cases[] = {
        {"/a/b/Point.source", "Point"},
        {"/a/b/Makefile", "Makefile"},
        {"/a/b/.abc", ""},
        {"MapView.source", "MapView"},
        {"archive.tar.gz", "archive.tar"},
        {"/a/b.d/Name", "Name"},  // a dot in a folder name is not an extension
        {"", ""},                 // no file text: no file name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto record = messageFromFile(c.file);
        EXPECT_EQ(record.file(), c.file);
        EXPECT_EQ(record.fileName(), c.fileName);
        if (*c.file != '\0') {
            EXPECT_EQ(QLExtractFileNameWithoutExtension(c.file), c.fileName);
        }
        // A log call site finds the same name when the program is built.
        const QLLogCallSite site(QLLogFlag::info, c.file, "function", 12);
        ASSERT_NE(site.fileNameOffset, QLLogCallSite::kFileNameUnknown);
        EXPECT_EQ(site.file.substr(site.fileNameOffset, site.fileNameLength), c.fileName);
    }
    static constexpr QLLogCallSite kBuilt(QLLogFlag::debug, "/a/b/Point.source", "fn", 3);
    static_assert(kBuilt.fileNameOffset == 5 && kBuilt.fileNameLength == 5);
    EXPECT_EQ(QLExtractFileNameWithoutExtension(nullptr), std::nullopt);
}

TEST(QLLogMessageTest, CurrentFileNameCutsFoldersAndTheLastExtension) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"a/b/Name.ext", "Name"}, {"Name", "Name"}, {"y.tar.gz", "y.tar"}, {"/x/y.tar.gz", "y.tar"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(currentFileName(c.path), c.name) << c.path;
        EXPECT_EQ(CurrentFileName(c.path), c.name) << c.path;
    }
    EXPECT_EQ(currentFileName(), "QLLogMessageTests");
}

TEST(QLLogMessageTest, KeepsEveryFieldGiven) {
    const auto record = messageFromFile("/src/QuovaMapPoint.cpp", platform::Date{123.5});
    EXPECT_EQ(record.message(), "text");
    EXPECT_EQ(record.level(), QLLogLevel::all);
    EXPECT_EQ(record.flag(), QLLogFlag::info);
    EXPECT_EQ(record.context(), 7);
    EXPECT_EQ(record.fileName(), "QuovaMapPoint");
    EXPECT_EQ(record.function(), "function");
    EXPECT_EQ(record.line(), 12u);
    EXPECT_EQ(record.options(), 3);
    EXPECT_EQ(record.timestamp(), platform::Date{123.5});
    // `tag` and `representedObject` are one value.
    EXPECT_EQ(&record.tag(), &record.representedObject());
    EXPECT_EQ(std::any_cast<std::string>(record.tag()), "tag");
}

TEST(QLLogMessageTest, WithoutATimestampTheRecordTakesTheClocksTimeOfCreation) {
    auto clock = std::make_shared<platform::VirtualClock>(1'700'000'000.0);
    platform::Clock::install(clock);
    const auto first = messageFromFile("f");
    clock->advance(2.5);
    const auto second = messageFromFile("f");
    platform::Clock::install(nullptr);

    EXPECT_EQ(first.timestamp(), platform::Date::fromUnix(1'700'000'000.0));
    EXPECT_DOUBLE_EQ(second.timestamp().timeIntervalSince(first.timestamp()), 2.5);
}

TEST(QLLogMessageTest, SnapshotDescribesTheCallerAndSurvivesCopyingElsewhere) {
    auto queue = platform::DispatchQueue::serial("test.snapshot", platform::QoS::Utility);
    std::shared_ptr<QLLogMessage> record;
    int64_t callerThread = 0;
    queue->sync([&] {
        callerThread = platform::ProcessInfo::currentThreadID();
        record = std::make_shared<QLLogMessage>(messageFromFile("f"));
    });
    EXPECT_EQ(record->threadID(), std::to_string(callerThread));
    EXPECT_EQ(record->queueLabel(), "test.snapshot");
    EXPECT_EQ(record->qos(), platform::QoS::Utility);

    // Copied on another thread, outside any queue: still the caller's snapshot.
    QLLogMessage copy;
    std::thread([&] {
        platform::ProcessInfo::setCurrentThreadName("copier");
        copy = *record;
    }).join();
    EXPECT_EQ(copy.threadID(), record->threadID());
    EXPECT_EQ(copy.threadName(), record->threadName());
    EXPECT_EQ(copy.queueLabel(), "test.snapshot");
    EXPECT_EQ(copy.timestamp(), record->timestamp());
    EXPECT_EQ(copy.message(), "text");

    // On a named plain thread: its name, no queue.
    QLLogMessage plain;
    std::thread([&] {
        platform::ProcessInfo::setCurrentThreadName("plain-worker");
        plain = messageFromFile("f");
    }).join();
    EXPECT_EQ(plain.threadName(), "plain-worker");
    EXPECT_EQ(plain.queueLabel(), "");
    EXPECT_EQ(plain.qos(), platform::QoS::Unspecified);
    EXPECT_NE(plain.threadID(), record->threadID());
}

TEST(QLLogMessageTest, SnapshotFollowsTheThreadsNameAndQueueFromRecordToRecord) {
    // A thread's snapshot is kept between records: a rename or a queue
    // entered or left in between must still show in the next record.
    std::vector<QLLogMessage> records;
    auto queue = platform::DispatchQueue::serial("test.snapshot.next", platform::QoS::Background);
    std::thread([&] {
        platform::ProcessInfo::setCurrentThreadName("before");
        records.push_back(messageFromFile("f"));
        records.push_back(messageFromFile("f"));
        platform::ProcessInfo::setCurrentThreadName("after");
        records.push_back(messageFromFile("f"));
        queue->sync([&] { records.push_back(messageFromFile("f")); });
        records.push_back(messageFromFile("f"));
    }).join();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].threadName(), "before");
    EXPECT_EQ(records[1].threadName(), "before");
    EXPECT_EQ(records[2].threadName(), "after");
    EXPECT_EQ(records[2].queueLabel(), "");
    EXPECT_EQ(records[3].queueLabel(), "test.snapshot.next");
    EXPECT_EQ(records[3].qos(), platform::QoS::Background);
    EXPECT_EQ(records[4].queueLabel(), "");
    EXPECT_EQ(records[4].qos(), platform::QoS::Unspecified);
    for (const auto& r : records) EXPECT_EQ(r.threadID(), records[0].threadID());
}

TEST(QLLogMessageTest, AQueueMadeWhereAnEndedOneWasShowsItsOwnLabel) {
    // A thread keeps its snapshot between records; a queue that ended and a
    // new one made in its memory must not pass for the same queue.
    std::thread([] {
        for (int round = 0; round < 20; ++round) {
            const std::string label = fmt::format("test.remade.{}", round);
            const auto qos = round % 2 == 0 ? platform::QoS::Background : platform::QoS::Utility;
            auto queue = platform::DispatchQueue::serial(label, qos);
            QLLogMessage made;
            queue->sync([&] { made = messageFromFile("f"); });
            EXPECT_EQ(made.queueLabel(), label);
            EXPECT_EQ(made.qos(), qos);
            queue.reset();
        }
    }).join();
}

TEST(QLLogMessageTest, RecordsMadeInReusedMemoryCarryOnlyTheirOwnFields) {
    // Buffers and blocks of finished records are reused: nothing of an
    // earlier, longer record may show in a later one.
    const std::string longText(300, 'x');
    for (int round = 0; round < 200; ++round) {
        std::string buffer = QLLogMessage::takeMessageBuffer();
        EXPECT_TRUE(buffer.empty());
        buffer.assign(round % 2 == 0 ? longText : std::string("short text, longer than sixteen"));
        auto r = QLLogMessage::make(std::move(buffer), QLLogLevel::all, QLLogFlag::warning, round,
                                    QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 9,
                                    std::any(round), 3);
        EXPECT_EQ(r->message(), round % 2 == 0 ? longText : "short text, longer than sixteen");
        EXPECT_EQ(r->context(), round);
        EXPECT_EQ(std::any_cast<int>(r->tag()), round);
        EXPECT_EQ(r->fileName(), "QLLogMessageTests");
        EXPECT_EQ(r->function(), "fn");
    }
}

TEST(QLLogMessageTest, ARecordOutlivingItsThreadsReuseStockIsReleasedSafely) {
    // A thread-local made before the thread's first record outlives the
    // thread's stock of reusable memory; releasing its record at thread end
    // must not touch the stock that is already gone.
    std::thread([] {
        thread_local std::shared_ptr<const QLLogMessage> kept;
        std::string text = QLLogMessage::takeMessageBuffer();
        text.assign(100, 'k');
        kept = QLLogMessage::make(std::move(text), QLLogLevel::all, QLLogFlag::info, 0,
                                  QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 1, std::any{}, 3);
        auto released = QLLogMessage::make("a record released at once, long enough to keep its buffer",
                                           QLLogLevel::all, QLLogFlag::info, 0, QLLogText::borrowed(__FILE__),
                                           QLLogText::borrowed("fn"), 2, std::any{}, 3);
        released.reset();
        EXPECT_EQ(kept->message(), std::string(100, 'k'));
    }).join();
}

TEST(QLLogMessageTest, RecordsKeptLongKeepTheirBytesWhileThousandsMoreComeAndGo) {
    // A thread's records share memory with the records made around them; it is
    // used again only once all of them ended. A few records kept while their
    // thread makes and ends thousands more, of every size, then released on
    // another thread after their own ended, must keep their bytes throughout.
    auto textOf = [](int i) {
        std::string text = std::to_string(i);
        text.append(static_cast<size_t>(i % 300), static_cast<char>('a' + i % 26));
        return text;
    };
    std::vector<std::pair<int, QLLogMessagePtr>> kept;
    std::thread([&] {
        for (int i = 0; i < 20000; ++i) {
            auto made = QLLogMessage::make(textOf(i), QLLogFlag::info, QLLogText::borrowed(__FILE__),
                                           QLLogText::borrowed("fn"), static_cast<uint64_t>(i));
            if (i % 997 == 0) kept.emplace_back(i, std::move(made));
        }
    }).join();
    // New records on this thread may take the memory the ended ones left.
    std::vector<QLLogMessagePtr> later;
    for (int i = 0; i < 5000; ++i) {
        later.push_back(QLLogMessage::make(std::string(static_cast<size_t>(i % 200), '#'), QLLogFlag::info,
                                           QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 1));
    }
    ASSERT_EQ(kept.size(), 21u);
    for (size_t k = kept.size(); k-- > 0;) {
        const auto& [i, record] = kept[k];
        EXPECT_EQ(record->messageText(), textOf(i)) << i;
        EXPECT_EQ(record->line(), static_cast<uint64_t>(i));
        kept[k].second.reset();
    }
    for (int i = 0; i < 5000; ++i)
        EXPECT_EQ(later[static_cast<size_t>(i)]->messageText().size(), size_t(i % 200));
}

TEST(QLLogMessageTest, CopiesAndMovesKeepTheirTextsWhenTheOriginalIsGone) {
    // Owned texts, long (heap) and short (kept inside the string object), and
    // borrowed literals must all survive the original record.
    const std::string longPath = "/home/someone/projects/TervoloNG/points/QuovaMapPointStore.cpp";
    struct Case {
        QLLogText file;
        std::string_view expectedFile;
        std::string_view expectedName;
    };
    std::vector<Case> cases;
    cases.push_back({QLLogText::copied(longPath), longPath, "QuovaMapPointStore"});
    cases.push_back({QLLogText::copied("a/X.c"), "a/X.c", "X"});
    cases.push_back({QLLogText::borrowed(__FILE__), __FILE__, "QLLogMessageTests"});
    for (auto& c : cases) {
        auto original =
            std::make_unique<QLLogMessage>("m", QLLogLevel::all, QLLogFlag::info, 0, c.file,
                                           QLLogText::copied("function"), 1, std::any{}, 3, std::nullopt);
        QLLogMessage copy = *original;
        QLLogMessage assigned;
        assigned = *original;
        QLLogMessage moved = std::move(*original);
        original.reset();
        for (const QLLogMessage* r : {&copy, &assigned, &moved}) {
            EXPECT_EQ(r->file(), c.expectedFile);
            EXPECT_EQ(r->fileName(), c.expectedName);
            EXPECT_EQ(r->function(), "function");
        }
    }
}

TEST(QLLogMessageTest, MessagesOfEveryLengthStayWithTheRecordAndItsCopies) {
    // Made records keep their bytes in their own block, of a size class by
    // length (or none for long ones); copies take the text with them.
    for (const size_t length : {0, 1, 15, 16, 40, 41, 200, 991, 992, 1000, 5000, 100000}) {
        SCOPED_TRACE(length);
        std::string text(length, ' ');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + length) % 26);
        auto made = QLLogMessage::make(text, QLLogLevel::all, QLLogFlag::info, 0,
                                       QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 1, {}, 3);
        EXPECT_EQ(made->messageText(), text);
        EXPECT_EQ(made->message(), text);
        EXPECT_EQ(&made->message(), &made->message());
        QLLogMessage copy = *made;
        QLLogMessage assigned;
        assigned = *made;
        made.reset();
        // Another record made in the block just given back.
        const auto next =
            QLLogMessage::make(std::string(length, '#'), QLLogLevel::all, QLLogFlag::info, 0,
                               QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 2, {}, 3);
        QLLogMessage moved = std::move(assigned);
        for (const QLLogMessage* r : {&copy, &moved}) {
            EXPECT_EQ(r->messageText(), text);
            EXPECT_EQ(r->message(), text);
        }
        EXPECT_EQ(next->messageText(), std::string(length, '#'));
    }
}

TEST(QLLogMessageTest, FieldsACallerSetsSurviveCopiesOfReleasedOriginals) {
    // Level, context, tag and options are kept out of line: shared for the
    // common values, the record's own for the others.
    struct Case {
        const char* name;
        QLLogLevel level;
        int64_t context;
        std::any tag;
        int64_t options;
    };
    const Case cases[] = {
        {"a log call's", QLLogLevel::all, 0, {}, 3},
        {"an empty record's", QLLogLevel::off, 0, {}, 0},
        {"another level", QLLogLevel{7}, 0, {}, 3},
        {"a context", QLLogLevel::all, -42, {}, 3},
        {"a tag", QLLogLevel::all, 0, std::string("tag"), 3},
        {"other options", QLLogLevel::all, 0, {}, 4},
        {"the highest common options", QLLogLevel{15}, 0, {}, 7},
        {"options beyond the common ones", QLLogLevel{15}, 0, {}, 8},
        {"negative options", QLLogLevel::all, 0, {}, -1},
        {"an uncommon level", QLLogLevel{2}, 0, {}, 0},
        {"everything", QLLogLevel{31}, 9, 17, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto made =
            QLLogMessage::make("m", c.level, QLLogFlag::debug, c.context, QLLogText::copied("/x/F.cpp"),
                               QLLogText::copied("fn"), 5, c.tag, c.options);
        auto built = std::make_unique<QLLogMessage>("m", c.level, QLLogFlag::debug, c.context, "/x/F.cpp",
                                                    "fn", 5, c.tag, c.options, std::nullopt);
        const QLLogMessage madeCopy = *made;
        const QLLogMessage builtCopy = *built;
        made.reset();
        built.reset();
        for (const QLLogMessage* r : {&madeCopy, &builtCopy}) {
            EXPECT_EQ(r->level(), c.level);
            EXPECT_EQ(r->context(), c.context);
            EXPECT_EQ(r->options(), c.options);
            EXPECT_EQ(r->tag().has_value(), c.tag.has_value());
            if (c.tag.type() == typeid(std::string)) {
                EXPECT_EQ(std::any_cast<std::string>(r->tag()), "tag");
            } else if (c.tag.type() == typeid(int)) {
                EXPECT_EQ(std::any_cast<int>(r->tag()), 17);
            }
            EXPECT_EQ(r->fileName(), "F");
            EXPECT_EQ(r->function(), "fn");
            EXPECT_EQ(r->flag(), QLLogFlag::debug);
        }
    }
}

TEST(QLLogMessageTest, AFileNameFarIntoALongPathIsFound) {
    // Past the offsets a record keeps in its own fields.
    struct Case {
        std::string path;
        std::string fileName;
    };
    // Joined by append: GCC 12 sees an overlap that is not there in operator+ here.
    auto joined = [](std::string text, const std::string& middle, const char* end) {
        text.append(middle);
        text.append(end);
        return text;
    };
    const Case cases[] = {
        {joined("/", std::string(70000, 'd'), "/Name.cpp"), "Name"},                // far in
        {joined("/a/", std::string(70000, 'n'), ".cpp"), std::string(70000, 'n')},  // long
    };
    for (const auto& c : cases) {
        const QLLogMessage record("m", QLLogLevel::all, QLLogFlag::info, 0, c.path, "fn", 1, {}, 3,
                                  std::nullopt);
        const QLLogMessage copy = record;
        EXPECT_EQ(record.fileName(), c.fileName);
        EXPECT_EQ(copy.fileName(), c.fileName);

        // A log call written in such a file.
        QLLog registry;
        auto logger = std::make_shared<testsupport::LogRecorder>();
        registry.addLogger(logger);
        const QLLogCallSite site(QLLogFlag::info, c.path, "fn", 1);
        EXPECT_EQ(site.fileNameOffset, QLLogCallSite::kFileNameUnknown);
        registry.logCall(site, false, "m");
        const auto records = logger->records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->fileName(), c.fileName);
    }
}

TEST(QLLogMessageTest, SnapshotsOfAnEndedThreadStayWithItsRecords) {
    // A thread makes many records under two names, ends, and its records are
    // released in an order of their own.
    std::vector<QLLogMessagePtr> records;
    std::thread([&] {
        platform::ProcessInfo::setCurrentThreadName("first-name");
        for (int i = 0; i < 700; ++i) {
            if (i == 400) platform::ProcessInfo::setCurrentThreadName("second-name");
            records.push_back(QLLogMessage::make("m", QLLogLevel::all, QLLogFlag::info, 0,
                                                 QLLogText::borrowed(__FILE__), QLLogText::borrowed("fn"), 1,
                                                 {}, 3));
        }
    }).join();
    for (size_t i = 0; i < records.size(); i += 2) records[i].reset();
    for (size_t i = 1; i < records.size(); i += 2) {
        EXPECT_EQ(records[i]->threadName(), i < 400 ? "first-name" : "second-name") << i;
    }
    records.clear();
}

TEST(QLLogFlagTest, ConversionsCopyTheBitsAndMasksTestTheAnd) {
    EXPECT_EQ(QLLogFlagFrom(QLLogLevel{7}), QLLogFlag::error | QLLogFlag::warning | QLLogFlag::info);
    EXPECT_EQ(toLogLevel(QLLogFlag::debug), QLLogLevel{8});
    EXPECT_TRUE(passes(QLLogFlag::verbose, QLLogLevel::all));
    EXPECT_FALSE(passes(QLLogFlag::error, QLLogLevel::off));
    EXPECT_FALSE(passes(QLLogFlag{0}, QLLogLevel::all));
    EXPECT_FALSE(passes(QLLogFlag::info, QLLogLevel{2}));
}

}  // namespace
}  // namespace tervolo::logging
