#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>

#include <string>
#include <vector>

#include "ReportFixture.hpp"
#include "crash/QCrashProcessInfo.hpp"
#include "crash/QCrashReport.hpp"
#include "crash/QCrashReportTextFormatter.hpp"
#include "platform/foundation/OSLog.hpp"

namespace tervolo::crash {
namespace {

using testing::ReportFixture;

std::string decodeError(const std::vector<uint8_t>& bytes) {
    platform::Error error;
    EXPECT_EQ(QCrashReport::create(bytes, &error), nullptr);
    EXPECT_EQ(error.domain, "QCrashReporterErrorDomain");
    EXPECT_EQ(error.code, 2);
    return error.description;
}

TEST(CrashReportReader, HeaderAndUnpackFailures) {
    ReportFixture f;
    f.addImage(0x1000, 0x100, "/bin/a", {}, 0, 0);
    f.addFrame(f.addThread(0, true), 0x1010);
    const auto good = f.file();
    ASSERT_NE(QCrashReport::create(good), nullptr);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string message;
    } cases[] = {
        {"eight bytes", std::vector<uint8_t>(good.begin(), good.begin() + 8),
         "Could not decode truncated crash log"},
        {"empty", {}, "Could not decode truncated crash log"},
        {"bad magic",
         [&] {
             auto b = good;
             b[0] = 'Q';
             return b;
         }(),
         "Could not decode invalid crash log header"},
        {"no pad byte",
         [&] {
             auto b = good;
             b[6] = 1;
             return b;
         }(),
         "Could not decode invalid crash log header"},
        {"version 2", f.file(2), "Could not decode unsupported crash report version: 2"},
        {"garbage body",
         [&] {
             auto b = std::vector<uint8_t>(good.begin(), good.begin() + 8);
             b.push_back(0xFF);
             return b;
         }(),
         "An unknown error occured decoding the crash report"},
        {"cut body", std::vector<uint8_t>(good.begin(), good.end() - 3),
         "An unknown error occured decoding the crash report"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeError(c.bytes), c.message);
    }
    // No error slot: still nothing.
    EXPECT_EQ(QCrashReport::create(cases[0].bytes), nullptr);
}

TEST(CrashReportReader, ModelChecks) {
    struct Case {
        const char* name;
        void (*change)(ReportFixture&);
        std::string message;  // empty: builds
    } cases[] = {
        {"UUID of 15 bytes", [](ReportFixture& f) { f.reportInfo.uuid.len = 15; },
         "Report UUID value is not a standard 16 bytes"},
        {"no machine info, unknown architecture",
         [](ReportFixture& f) {
             f.report.machine_info = nullptr;
             f.system.architecture = QCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
         },
         "Crash report has an unknown architecture"},
        {"machine without processor", [](ReportFixture& f) { f.machine.processor = nullptr; }, ""},
        {"no system info", [](ReportFixture& f) { f.report.system_info = nullptr; },
         "Crash report is missing System Information section"},
        {"no OS version", [](ReportFixture& f) { f.system.os_version = nullptr; },
         "Crash report is missing System Information OS version field"},
        {"no application", [](ReportFixture& f) { f.report.application_info = nullptr; },
         "Crash report is missing Application Information section"},
        {"no identifier", [](ReportFixture& f) { f.application.identifier = nullptr; },
         "Crash report is missing Application Information app identifier field"},
        {"no version", [](ReportFixture& f) { f.application.version = nullptr; },
         "Crash report is missing Application Information app version field"},
        {"no signal", [](ReportFixture& f) { f.report.signal = nullptr; },
         "Crash report is missing Signal Information section"},
        {"no signal name", [](ReportFixture& f) { f.signal.name = nullptr; },
         "Crash report is missing signal name field"},
        {"no signal code", [](ReportFixture& f) { f.signal.code = nullptr; },
         "Crash report is missing signal code field"},
        {"255 Mach codes",
         [](ReportFixture& f) {
             f.machCodes.assign(255, 1);
             f.mach.n_codes = 255;
             f.mach.codes = f.machCodes.data();
             f.signal.mach_exception = &f.mach;
         },
         ""},
        {"256 Mach codes",
         [](ReportFixture& f) {
             f.machCodes.assign(256, 1);
             f.mach.n_codes = 256;
             f.mach.codes = f.machCodes.data();
             f.signal.mach_exception = &f.mach;
         },
         "Crash report includes too many Mach Exception codes"},
        {"no threads", [](ReportFixture& f) { f.report.n_threads = 0; },
         "Crash report is missing thread state information"},
        {"register without name", [](ReportFixture& f) { f.addRegister(f.report.threads[0], nullptr, 1); },
         "Missing register name in register value"},
        {"no images", [](ReportFixture& f) { f.report.n_binary_images = 0; },
         "Crash report is missing binary image information"},
        {"image without name", [](ReportFixture& f) { f.report.binary_images[0]->name = nullptr; },
         "Missing image name in image record"},
        {"exception without name",
         [](ReportFixture& f) {
             f.exception.reason = f.text("r");
             f.report.exception = &f.exception;
         },
         "Crash report is missing exception name field"},
        {"exception without reason",
         [](ReportFixture& f) {
             f.exception.name = f.text("n");
             f.report.exception = &f.exception;
         },
         "Crash report is missing exception reason field"},
        {"symbol without name",
         [](ReportFixture& f) { f.report.threads[0]->frames[0]->symbol->name = nullptr; },
         "Crash report is missing symbol information"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReportFixture f;
        f.addImage(0x1000, 0x100, "/bin/a", {}, 0, 0);
        f.addFrame(f.addThread(0, true), 0x1010, "_f", 0x1000);
        c.change(f);
        platform::Error error;
        const auto report = QCrashReport::build(f.report, &error);
        if (c.message.empty()) {
            EXPECT_NE(report, nullptr) << error.description;
        } else {
            EXPECT_EQ(report, nullptr);
            EXPECT_EQ(error.description, c.message);
            EXPECT_EQ(error.code, 2);
        }
    }
}

TEST(CrashReportReader, ModelValues) {
    ReportFixture f;
    f.addImage(0x1000, 0x100, "/bin/a", {0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 16777223,
               3);
    f.addImage(0x2000, 0x100, "/bin/b", {}, 0, 0);
    auto* t = f.addThread(0, true);
    f.addFrame(t, 0xFFFF000000001010ull);
    f.addRegister(t, "rip", 7);
    f.report.has_custom_data = 1;
    uint8_t custom[] = {1, 2, 3};
    f.report.custom_data = {3, custom};
    f.exception.name = f.text("E");
    f.exception.reason = f.text("R");
    f.report.exception = &f.exception;
    f.report.report_info = nullptr;
    const auto report = QCrashReport::create(f.file());
    ASSERT_NE(report, nullptr);
    EXPECT_FALSE(report->uuidRef());
    EXPECT_TRUE(report->hasMachineInfo());
    EXPECT_TRUE(report->hasProcessInfo());
    EXPECT_TRUE(report->hasExceptionInfo());
    EXPECT_FALSE(report->exceptionInfo()->stackFrames());  // no frames: no list at all
    EXPECT_EQ(report->images()[0].imageUUID(), "0a0102030405060708090a0b0c0d0e0f");
    EXPECT_FALSE(report->images()[1].hasImageUUID());
    EXPECT_EQ(report->systemInfo().timestamp()->unixTime(), 1600000000.0);
    EXPECT_EQ(report->applicationInfo().applicationMarketingVersion(), "1.0.0");
    EXPECT_EQ(report->processInfo()->processStartTime()->unixTime(), 1599999000.0);
    EXPECT_EQ(*report->customData(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(report->threads()[0].stackFrames()[0].instructionPointer(),
              0xFFFF000000001010ull);  // x86-64: kept
    EXPECT_EQ(report->threads()[0].registers()[0].registerName(), "rip");
    EXPECT_EQ(report->imageForAddress(0x10FF), &report->images()[0]);
    EXPECT_EQ(report->imageForAddress(0x1100), nullptr);  // base + size is outside
    EXPECT_EQ(report->imageForAddress(0x2000), &report->images()[1]);

    // No machine information: the processor comes from the architecture.
    f.report.machine_info = nullptr;
    f.system.architecture = QCRASH__ARCHITECTURE__ARMV7;
    auto synthesised = QCrashReport::build(f.report);
    ASSERT_NE(synthesised, nullptr);
    EXPECT_EQ(synthesised->systemInfo().processorInfo()->type(), 12u);
    EXPECT_EQ(synthesised->systemInfo().processorInfo()->subtype(), 9u);

    // 64-bit ARM with pointer authentication (subtype 2): pcs keep 36 bits.
    f.report.machine_info = &f.machine;
    f.machineProcessor.type = 16777228;
    f.machineProcessor.subtype = 2;
    auto arm = QCrashReport::build(f.report);
    ASSERT_NE(arm, nullptr);
    EXPECT_EQ(arm->threads()[0].stackFrames()[0].instructionPointer(), 0x1010u);
    f.machineProcessor.subtype = 0;
    EXPECT_EQ(QCrashReport::build(f.report)->threads()[0].stackFrames()[0].instructionPointer(),
              0xFFFF000000001010ull);
}

// The handcrafted report of the golden text.
void goldenReport(ReportFixture& f) {
    f.addImage(
        0x400000, 0x10000, "/opt/tervolo/bin/app",
        {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71, 0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9},
        16777223, 3);
    f.addImage(0x7FFF0000, 0x1000, "/usr/lib/libsystem.dylib", {}, 0, 0);
    f.addImage(0x7FFF0000, 0x2000, "/usr/lib/duplicate.dylib", {}, 0, 0);
    f.addImage(0x9000000, 0, "/lib/empty.so", {}, 16777223, 3);
    auto* crashed = f.addThread(0, true);
    f.addFrame(crashed, 0x401234, "_main", 0x401200);
    f.addFrame(crashed, 0x7FFF0010);
    f.addFrame(crashed, 0x5);
    for (auto [name, value] : std::vector<std::pair<const char*, uint64_t>>{
             {"rip", 0x401234}, {"rbp", 0x7FFE00000010}, {"rsp", 0x7FFE00000000}, {"rax", 1}, {"rbx", 2}}) {
        f.addRegister(crashed, name, value);
    }
    f.addFrame(f.addThread(1, false), 0x402000);
    f.exception.name = f.text("NSRangeException");
    f.exception.reason = f.text("index 3 beyond bounds");
    f.addExceptionFrame(0x401300);
    f.report.exception = &f.exception;
}

std::string pad(const std::string& name) {
    return name + std::string(35 - name.size(), ' ');
}

TEST(CrashReportFormatter, GoldenText) {
    ReportFixture f;
    goldenReport(f);
    const auto report = QCrashReport::create(f.file());
    ASSERT_NE(report, nullptr);
    auto log = platform::OSLogCapture::install();
    const std::string expected =
        "Incident Identifier: 12345678-9ABC-DEF0-0123-456789ABCDEF\n"
        "Hardware Model:      MacBookPro15,1\n"
        "Process:         app [1234]\n"
        "Path:            /opt/tervolo/bin/app\n"
        "Identifier:      com.example.tervolo\n"
        "Version:         1.0.0 (42)\n"
        "Code Type:       X86-64\n"
        "Parent Process:  launchd [1]\n"
        "\n"
        "Date/Time:       2020-09-13 12:26:40 +0000\n"
        "OS Version:      Mac OS X 10.15.7 (19H15)\n"
        "Report Version:  104\n"
        "\n"
        "Exception Type:  SIGSEGV\n"
        "Exception Codes: SEGV_MAPERR at 0x10\n"
        "Crashed Thread:  0\n"
        "\n"
        "Application Specific Information:\n"
        "*** Terminating app due to uncaught exception 'NSRangeException', reason: 'index 3 beyond bounds'\n"
        "\n"
        "Last Exception Backtrace:\n"
        "0   " +
        pad("app") +
        " 0x0000000000401300 0x400000 + 4864\n"
        "\n"
        "Thread 0 Crashed:\n"
        "0   " +
        pad("app") +
        " 0x0000000000401234 main + 52\n"
        "1   " +
        pad("libsystem.dylib") +
        " 0x000000007fff0010 0x7fff0000 + 16\n"
        "2   " +
        pad("\?\?\?") +
        " 0x0000000000000005 0x0 + 0\n"
        "\n"
        "Thread 1:\n"
        "0   " +
        pad("app") +
        " 0x0000000000402000 0x400000 + 8192\n"
        "\n"
        "Thread 0 crashed with X86-64 Thread State:\n"
        "   rip: 0x0000000000401234    rbp: 0x00007ffe00000010    rsp: 0x00007ffe00000000    rax: "
        "0x0000000000000001 \n"
        "   rbx: 0x0000000000000002 \n"
        "\n"
        "Binary Images:\n"
        "          0x400000 -           0x40ffff +app x86_64  <0a1b2c3d4e5f60718293a4b5c6d7e8f9> "
        "/opt/tervolo/bin/app\n"
        "         0x9000000 -          0x9000000  empty.so x86_64  <\?\?\?> /lib/empty.so\n"
        "        0x7fff0000 -         0x7fff0fff  libsystem.dylib \?\?\?  <\?\?\?> "
        "/usr/lib/libsystem.dylib\n";
    const QCrashReportTextFormatter formatter(0, QCrashReportTextFormatter::kUTF8StringEncoding);
    const auto bytes = formatter.formatReport(*report);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    const auto texts = log->texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "[QCrashReporter] Cannot find image for 0x5"),
              texts.end());
}

// The date line is UTC whatever the process's time zone, for any 64-bit time: dates before the
// common era, past year 9999 and beyond what the C library's calendar takes.
TEST(CrashReportFormatter, DateLineIsUTCForAnyZoneAndTime) {
    const char* savedZone = std::getenv("TZ");
    const std::optional<std::string> saved = savedZone ? std::optional<std::string>(savedZone) : std::nullopt;
    struct Case {
        int64_t timestamp;
        const char* line;
    } cases[] = {
        {1600000000, "2020-09-13 12:26:40 +0000"},
        {-1, "1969-12-31 23:59:59 +0000"},
        {951782400, "2000-02-29 00:00:00 +0000"},
        {4107542399, "2100-02-28 23:59:59 +0000"},
        {4107542400, "2100-03-01 00:00:00 +0000"},
        {-62135596801, "0-12-31 23:59:59 +0000"},
        {-62170156800, "-1-11-28 00:00:00 +0000"},
        {253402300800, "10000-01-01 00:00:00 +0000"},
        {std::numeric_limits<int64_t>::max(), "292277026596-12-04 15:30:07 +0000"},
        {std::numeric_limits<int64_t>::min(), "-292277022657-01-27 08:29:52 +0000"},
    };
    for (const char* zone : {"UTC0", "IST-5:30", "NZST-12NZDT,M9.5.0,M4.1.0/3", "HST10"}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(zone) + " " + std::to_string(c.timestamp));
            ReportFixture f;
            goldenReport(f);
            f.system.timestamp = c.timestamp;
            const auto report = QCrashReport::create(f.file());
            ASSERT_NE(report, nullptr);
            const std::string text = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
            EXPECT_NE(text.find(std::string("\nDate/Time:       ") + c.line + "\n"), std::string::npos)
                << text;
        }
    }
    if (saved) {
        ::setenv("TZ", saved->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

// The report's texts are views into what it unpacked, not into the file's bytes: they stay
// whole when the bytes are overwritten and freed.
TEST(CrashReportReader, TextsOutliveTheFileBytes) {
    ReportFixture f;
    goldenReport(f);
    const std::string expected =
        QCrashReportTextFormatter::stringValueForCrashReport(*QCrashReport::create(f.file()), 0);
    auto bytes = std::make_unique<std::vector<uint8_t>>(f.file());
    const auto report = QCrashReport::create(*bytes);
    ASSERT_NE(report, nullptr);
    std::fill(bytes->begin(), bytes->end(), uint8_t{0x5A});
    bytes.reset();
    EXPECT_EQ(report->threads()[0].stackFrames()[0].symbolInfo()->symbolName(), "_main");
    EXPECT_EQ(report->images()[0].imageName(), "/opt/tervolo/bin/app");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "index 3 beyond bounds");
    EXPECT_EQ(QCrashReportTextFormatter::stringValueForCrashReport(*report, 0), expected);
}

TEST(CrashReportFormatter, MissingPartsAndOtherSystems) {
    ReportFixture f;
    goldenReport(f);
    f.report.process_info = nullptr;
    f.report.report_info = nullptr;
    f.machine.model = nullptr;
    f.system.operating_system = QCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
    f.system.os_build = nullptr;
    f.system.timestamp = 0;
    f.application.marketing_version = nullptr;
    f.report.threads[1]->crashed = 1;  // two crashed threads
    f.addRegister(f.report.threads[1], "r12", 9);
    const auto report = QCrashReport::create(f.file());
    ASSERT_NE(report, nullptr);
    auto log = platform::OSLogCapture::install();
    const std::string text = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
    for (const char* line :
         {"Incident Identifier: \?\?\?\n", "Hardware Model:      \?\?\?\n",
          "Process:         \?\?\? [\?\?\?]\n", "Path:            \?\?\?\n", "Version:         42\n",
          "Parent Process:  \?\?\? [\?\?\?]\n", "Date/Time:       (null)\n",
          "OS Version:      Unknown (3) 10.15.7 (\?\?\?)\n", "Crashed Thread:  0\n", "Thread 1 Crashed:\n",
          // the registers of the last crashed thread; "r12" only becomes "ip" on ARM
          "Thread 1 crashed with X86-64 Thread State:\n   r12: 0x0000000000000009 \n\n",
          // another system: the underscore stays
          " 0x0000000000401234 _main + 52\n",
          // no process path: no "+" marker
          "          0x400000 -           0x40ffff  app x86_64"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    const auto texts = log->texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "[QCrashReporter] Symbol \"_main\" prefix rules are unknown for this OS!"),
              texts.end());

    // ARM: r12 is shown as ip; 32-bit lines are narrower.
    f.machineProcessor.type = 12;
    f.machineProcessor.subtype = 9;
    f.report.binary_images[0]->code_type->type = 12;
    f.report.binary_images[0]->code_type->subtype = 9;
    const auto arm = QCrashReport::create(f.file());
    ASSERT_NE(arm, nullptr);
    const std::string armText = QCrashReportTextFormatter::stringValueForCrashReport(*arm, 0);
    EXPECT_NE(armText.find("Code Type:       ARM\n"), std::string::npos);
    EXPECT_NE(armText.find("    ip: 0x00000009 \n"), std::string::npos);
    EXPECT_NE(armText.find("  0x400000 -   0x40ffff  app armv7  <"), std::string::npos);
    EXPECT_NE(armText.find("0   " + pad("app") + " 0x00401234 _main + 52\n"), std::string::npos);
}

TEST(CrashReportFormatter, ArchitectureNamesAndLossyAscii) {
    struct Case {
        uint64_t type, subtype;
        const char* name;
    } cases[] = {
        {16777228, 0, "arm64"},
        {16777228, 1, "armv8"},
        {16777228, 2, "arm64e"},
        {16777228, 0x80000002, "arm64e"},
        {16777228, 7, "arm64-unknown"},
        {12, 6, "armv6"},
        {12, 11, "armv7s"},
        {12, 5, "arm-unknown"},
        {7, 3, "i386"},
        {18, 0, "powerpc"},
        {99, 0, "\?\?\?"},
    };
    for (const auto& c : cases) {
        ReportFixture f;
        f.addImage(0x1000, 0x10, "/lib/x", {}, c.type, c.subtype);
        f.addFrame(f.addThread(0, true), 0x1000);
        const auto report = QCrashReport::create(f.file());
        ASSERT_NE(report, nullptr);
        const std::string text = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
        EXPECT_NE(text.find(std::string(" x ") + c.name + "  <\?\?\?>"), std::string::npos) << c.name;
    }
    ReportFixture f;
    f.addImage(0x1000, 0x10, "/lib/ä", {}, 0, 0);
    f.addFrame(f.addThread(0, true), 0x1000);
    const auto report = QCrashReport::create(f.file());
    const auto ascii =
        QCrashReportTextFormatter(0, QCrashReportTextFormatter::kASCIIStringEncoding).formatReport(*report);
    const std::string text(ascii.begin(), ascii.end());
    EXPECT_NE(text.find(" /lib/?\n"), std::string::npos);
    // The image name pads by characters, not bytes.
    const std::string utf8 = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
    EXPECT_NE(utf8.find("0   ä" + std::string(34, ' ') + " 0x"), std::string::npos);
}

// Handed out in pieces, the text is the same at any piece size, lines cut nowhere but at piece
// ends; a writer that refuses a piece gets no further one.
TEST(CrashReportFormatter, PiecesMakeTheWholeText) {
    ReportFixture f;
    goldenReport(f);
    for (uint64_t i = 0; i < 200; ++i) f.addFrame(f.report.threads[1], 0x400000 + i * 4, "_work", 0x400000);
    const auto report = QCrashReport::create(f.file());
    ASSERT_NE(report, nullptr);
    const std::string whole = QCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
    for (const size_t pieceBytes : {size_t{0}, size_t{1}, size_t{100}, size_t{4096}, size_t{1} << 20}) {
        SCOPED_TRACE(pieceBytes);
        std::vector<std::string> pieces;
        EXPECT_TRUE(QCrashReportTextFormatter::writeCrashReport(
            *report,
            [&](std::string_view piece) {
                pieces.emplace_back(piece);
                return true;
            },
            pieceBytes));
        std::string joined;
        for (const auto& piece : pieces) {
            EXPECT_FALSE(piece.empty());
            joined += piece;
        }
        EXPECT_EQ(joined, whole);
        if (pieceBytes >= whole.size()) {
            EXPECT_EQ(pieces.size(), 1u);
        } else if (pieceBytes == 100) {
            EXPECT_GT(pieces.size(), whole.size() / 200);
        }
    }
    int calls = 0;
    EXPECT_FALSE(QCrashReportTextFormatter::writeCrashReport(
        *report,
        [&](std::string_view) {
            ++calls;
            return calls < 3;
        },
        100));
    EXPECT_EQ(calls, 3);
}

// The report tool on a file: stdout, stderr and exit status.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runFormatTool(const std::vector<std::string>& arguments) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                             "/tervolo-format-tool-" + std::to_string(::getpid());
    std::string command = CRASH_FORMAT_TOOL;
    for (const auto& argument : arguments) command += " '" + argument + "'";
    command += " >" + base + ".out 2>" + base + ".err";
    ToolRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(path.c_str());
        return text;
    };
    run.out = slurp(base + ".out");
    run.err = slurp(base + ".err");
    return run;
}

std::string writeReportFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                             "/tervolo-report-" + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The tool writes exactly the formatter's UTF-8 bytes, for a small report and for one large
// enough that its unpack outgrows the first block of its arena; a file it cannot read or decode
// fails with the reason, and a call without a file only shows the usage.
TEST(CrashReportTool, WritesTheFormattersTextOrFails) {
    ReportFixture small;
    goldenReport(small);
    ReportFixture large;
    goldenReport(large);
    large.machine.model = large.text("MacBookPro15,1 \xC3\xA4");
    // Frames without symbols unpack into more than the arena first guesses per file byte.
    for (int t = 0; t < 8; ++t) {
        auto* thread = large.addThread(static_cast<uint32_t>(t + 2), false);
        for (uint64_t f = 0; f < 3000; ++f) large.addFrame(thread, 0x400000 + f * 16);
    }
    for (auto* fixture : {&small, &large}) {
        const auto bytes = fixture->file();
        const auto report = QCrashReport::create(bytes);
        ASSERT_NE(report, nullptr);
        const auto expected = QCrashReportTextFormatter(0, QCrashReportTextFormatter::kUTF8StringEncoding)
                                  .formatReport(*report);
        const std::string path = writeReportFile("good", bytes);
        const ToolRun run = runFormatTool({path});
        std::remove(path.c_str());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, std::string(expected.begin(), expected.end()));
        EXPECT_EQ(run.err, "");
    }

    auto damaged = small.file();
    damaged[7] = 2;
    const std::string damagedPath = writeReportFile("damaged", damaged);
    const ToolRun refused = runFormatTool({damagedPath});
    std::remove(damagedPath.c_str());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("Could not decode unsupported crash report version: 2"), std::string::npos)
        << refused.err;

    const ToolRun missing = runFormatTool({"/nonexistent/report"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;

    const ToolRun usage = runFormatTool({});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err.find("usage"), std::string::npos);

    // Output that cannot be written fails the run with the reason, not a silent success.
    const std::string goodPath = writeReportFile("full", large.file());
    const std::string errPath = goodPath + ".err";
    const int raw = std::system(
        (std::string(CRASH_FORMAT_TOOL) + " '" + goodPath + "' >/dev/full 2>'" + errPath + "'").c_str());
    std::ifstream errIn(errPath);
    const std::string err((std::istreambuf_iterator<char>(errIn)), std::istreambuf_iterator<char>());
    std::remove(goodPath.c_str());
    std::remove(errPath.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
    EXPECT_NE(err.find("standard output: No space left on device"), std::string::npos) << err;
}

TEST(CrashProcessInfo, FromProc) {
    const auto self = QCrashProcessInfo::currentProcessInfo();
    ASSERT_TRUE(self);
    EXPECT_EQ(self->processID(), getpid());
    EXPECT_EQ(self->parentProcessID(), getppid());
    ASSERT_TRUE(self->processName());
    EXPECT_LE(self->processName()->size(), 16u);
    EXPECT_EQ(std::string("tervolo_crash_tests").rfind(*self->processName(), 0), 0u);
    const auto now = static_cast<int64_t>(time(nullptr));
    EXPECT_LE(self->startTime().seconds, now);
    EXPECT_GT(self->startTime().seconds, now - 3600);
    EXPECT_FALSE(QCrashProcessInfo::create(0x7FFFFFF0));
    const auto parent = QCrashProcessInfo::create(getppid());
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->processID(), getppid());
}

}  // namespace
}  // namespace tervolo::crash
