#pragma once

// A handcrafted crash report as a protobuf-c message built in memory, for
// the reader's and the formatter's tests and the fuzz target's seeds. Every
// part can be changed or removed before packing.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "crash/CrashReport.pb-c.h"

namespace tervolo::crash::testing {

class ReportFixture {
  public:
    ReportFixture();
    ReportFixture(const ReportFixture&) = delete;
    ReportFixture& operator=(const ReportFixture&) = delete;

    // The bytes of a report file: header (version `version`) and message.
    std::vector<uint8_t> file(uint8_t version = 1) const;

    Qcrash__CrashReport report;
    Qcrash__CrashReport__SystemInfo system;
    Qcrash__CrashReport__ApplicationInfo application;
    Qcrash__CrashReport__ProcessInfo process;
    Qcrash__CrashReport__MachineInfo machine;
    Qcrash__CrashReport__Processor machineProcessor;
    Qcrash__CrashReport__ReportInfo reportInfo;
    Qcrash__CrashReport__Signal signal;
    Qcrash__CrashReport__Signal__MachException mach;
    Qcrash__CrashReport__Exception exception;

    // Keeps strings and nested messages alive.
    char* text(const std::string& value);
    Qcrash__CrashReport__Thread* addThread(uint32_t number, bool crashed);
    void addFrame(Qcrash__CrashReport__Thread* thread, uint64_t pc, const char* symbol = nullptr,
                  uint64_t start = 0);
    void addRegister(Qcrash__CrashReport__Thread* thread, const char* name, uint64_t value);
    Qcrash__CrashReport__BinaryImage* addImage(uint64_t base, uint64_t size, const std::string& name,
                                               const std::vector<uint8_t>& uuid, uint64_t type,
                                               uint64_t subtype);
    void addExceptionFrame(uint64_t pc);
    std::vector<uint64_t> machCodes;

  private:
    std::deque<std::string> strings_;
    std::deque<Qcrash__CrashReport__Thread> threads_;
    std::vector<Qcrash__CrashReport__Thread*> threadPointers_;
    std::deque<Qcrash__CrashReport__Thread__StackFrame> frames_;
    std::deque<std::vector<Qcrash__CrashReport__Thread__StackFrame*>> framePointers_;
    std::deque<Qcrash__CrashReport__Symbol> symbols_;
    std::deque<Qcrash__CrashReport__Thread__RegisterValue> registers_;
    std::deque<std::vector<Qcrash__CrashReport__Thread__RegisterValue*>> registerPointers_;
    std::deque<Qcrash__CrashReport__BinaryImage> images_;
    std::vector<Qcrash__CrashReport__BinaryImage*> imagePointers_;
    std::deque<Qcrash__CrashReport__Processor> processors_;
    std::deque<std::vector<uint8_t>> bytes_;
    std::vector<Qcrash__CrashReport__Thread__StackFrame*> exceptionFrames_;
    std::vector<uint8_t> uuid_;
};

}  // namespace tervolo::crash::testing
