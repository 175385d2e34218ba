#pragma once

// The decoded crash report: small immutable values, one per section of the
// report file, built by the reader (QCrashReport) and read by the text
// formatter. Strings are UTF-8; absent values are empty optionals; dates are
// seconds since 2001 (platform::Date). Any thread.
//
// Strings are views, not copies: a report holds thousands of symbol names, and
// the reader keeps the unpacked message they point into for as long as the
// report lives. Whoever builds a value by hand keeps its texts alive as long.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Date.hpp"

namespace tervolo::crash {

class QCrashReportProcessorInfo {
  public:
    // typeEncoding: 0 unknown, 1 Mach CPU type and subtype numbers.
    QCrashReportProcessorInfo(int32_t typeEncoding, uint64_t type, uint64_t subtype)
        : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}
    int32_t typeEncoding() const { return typeEncoding_; }
    uint64_t type() const { return type_; }
    uint64_t subtype() const { return subtype_; }

  private:
    int32_t typeEncoding_;
    uint64_t type_;
    uint64_t subtype_;
};

class QCrashReportSystemInfo {
  public:
    QCrashReportSystemInfo(int32_t operatingSystem, std::string_view operatingSystemVersion,
                           std::optional<std::string_view> operatingSystemBuild, int32_t architecture,
                           std::optional<QCrashReportProcessorInfo> processorInfo,
                           std::optional<platform::Date> timestamp)
        : operatingSystem_(operatingSystem),
          operatingSystemVersion_(operatingSystemVersion),
          operatingSystemBuild_(operatingSystemBuild),
          architecture_(architecture),
          timestamp_(timestamp),
          processorInfo_(processorInfo) {}
    int32_t operatingSystem() const { return operatingSystem_; }
    std::string_view operatingSystemVersion() const { return operatingSystemVersion_; }
    std::optional<std::string_view> operatingSystemBuild() const { return operatingSystemBuild_; }
    int32_t architecture() const { return architecture_; }
    const std::optional<platform::Date>& timestamp() const { return timestamp_; }
    const std::optional<QCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }

  private:
    int32_t operatingSystem_;
    std::string_view operatingSystemVersion_;
    std::optional<std::string_view> operatingSystemBuild_;
    int32_t architecture_;
    std::optional<platform::Date> timestamp_;
    std::optional<QCrashReportProcessorInfo> processorInfo_;
};

class QCrashReportMachineInfo {
  public:
    QCrashReportMachineInfo(std::optional<std::string_view> modelName,
                            std::optional<QCrashReportProcessorInfo> processorInfo, uint64_t processorCount,
                            uint64_t logicalProcessorCount)
        : modelName_(modelName),
          processorInfo_(processorInfo),
          processorCount_(processorCount),
          logicalProcessorCount_(logicalProcessorCount) {}
    std::optional<std::string_view> modelName() const { return modelName_; }
    const std::optional<QCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }
    uint64_t processorCount() const { return processorCount_; }
    uint64_t logicalProcessorCount() const { return logicalProcessorCount_; }

  private:
    std::optional<std::string_view> modelName_;
    std::optional<QCrashReportProcessorInfo> processorInfo_;
    uint64_t processorCount_;
    uint64_t logicalProcessorCount_;
};

class QCrashReportApplicationInfo {
  public:
    QCrashReportApplicationInfo(std::string_view applicationIdentifier, std::string_view applicationVersion,
                                std::optional<std::string_view> applicationMarketingVersion)
        : applicationIdentifier_(applicationIdentifier),
          applicationVersion_(applicationVersion),
          applicationMarketingVersion_(applicationMarketingVersion) {}
    std::string_view applicationIdentifier() const { return applicationIdentifier_; }
    std::string_view applicationVersion() const { return applicationVersion_; }
    std::optional<std::string_view> applicationMarketingVersion() const {
        return applicationMarketingVersion_;
    }

  private:
    std::string_view applicationIdentifier_;
    std::string_view applicationVersion_;
    std::optional<std::string_view> applicationMarketingVersion_;
};

class QCrashReportProcessInfo {
  public:
    QCrashReportProcessInfo(std::optional<std::string_view> processName, uint64_t processID,
                            std::optional<std::string_view> processPath,
                            std::optional<platform::Date> processStartTime,
                            std::optional<std::string_view> parentProcessName, uint64_t parentProcessID,
                            bool native)
        : processName_(processName),
          processID_(processID),
          processPath_(processPath),
          processStartTime_(processStartTime),
          parentProcessName_(parentProcessName),
          parentProcessID_(parentProcessID),
          native_(native) {}
    std::optional<std::string_view> processName() const { return processName_; }
    uint64_t processID() const { return processID_; }
    std::optional<std::string_view> processPath() const { return processPath_; }
    const std::optional<platform::Date>& processStartTime() const { return processStartTime_; }
    std::optional<std::string_view> parentProcessName() const { return parentProcessName_; }
    uint64_t parentProcessID() const { return parentProcessID_; }
    bool native() const { return native_; }

  private:
    std::optional<std::string_view> processName_;
    uint64_t processID_;
    std::optional<std::string_view> processPath_;
    std::optional<platform::Date> processStartTime_;
    std::optional<std::string_view> parentProcessName_;
    uint64_t parentProcessID_;
    bool native_;
};

class QCrashReportSignalInfo {
  public:
    QCrashReportSignalInfo(std::string_view name, std::string_view code, uint64_t address)
        : name_(name), code_(code), address_(address) {}
    std::string_view name() const { return name_; }
    std::string_view code() const { return code_; }
    uint64_t address() const { return address_; }

  private:
    std::string_view name_;
    std::string_view code_;
    uint64_t address_;
};

class QCrashReportMachExceptionInfo {
  public:
    QCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
        : type_(type), codes_(std::move(codes)) {}
    uint64_t type() const { return type_; }
    const std::vector<uint64_t>& codes() const { return codes_; }

  private:
    uint64_t type_;
    std::vector<uint64_t> codes_;
};

class QCrashReportSymbolInfo {
  public:
    QCrashReportSymbolInfo(std::string_view symbolName, uint64_t startAddress, uint64_t endAddress)
        : symbolName_(symbolName), startAddress_(startAddress), endAddress_(endAddress) {}
    std::string_view symbolName() const { return symbolName_; }
    uint64_t startAddress() const { return startAddress_; }
    // 0 when the report gives none.
    uint64_t endAddress() const { return endAddress_; }

  private:
    std::string_view symbolName_;
    uint64_t startAddress_;
    uint64_t endAddress_;
};

class QCrashReportStackFrameInfo {
  public:
    QCrashReportStackFrameInfo(uint64_t instructionPointer, std::optional<QCrashReportSymbolInfo> symbolInfo)
        : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) {}
    uint64_t instructionPointer() const { return instructionPointer_; }
    const std::optional<QCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

  private:
    uint64_t instructionPointer_;
    std::optional<QCrashReportSymbolInfo> symbolInfo_;
};

class QCrashReportRegisterInfo {
  public:
    QCrashReportRegisterInfo(std::string_view registerName, uint64_t registerValue)
        : registerName_(registerName), registerValue_(registerValue) {}
    std::string_view registerName() const { return registerName_; }
    uint64_t registerValue() const { return registerValue_; }

  private:
    std::string_view registerName_;
    uint64_t registerValue_;
};

class QCrashReportThreadInfo {
  public:
    QCrashReportThreadInfo(int64_t threadNumber, std::vector<QCrashReportStackFrameInfo> stackFrames,
                           bool crashed, std::vector<QCrashReportRegisterInfo> registers)
        : threadNumber_(threadNumber),
          stackFrames_(std::move(stackFrames)),
          crashed_(crashed),
          registers_(std::move(registers)) {}
    int64_t threadNumber() const { return threadNumber_; }
    const std::vector<QCrashReportStackFrameInfo>& stackFrames() const { return stackFrames_; }
    bool crashed() const { return crashed_; }
    const std::vector<QCrashReportRegisterInfo>& registers() const { return registers_; }

  private:
    int64_t threadNumber_;
    std::vector<QCrashReportStackFrameInfo> stackFrames_;
    bool crashed_;
    std::vector<QCrashReportRegisterInfo> registers_;
};

class QCrashReportBinaryImageInfo {
  public:
    // `uuid`: the image's identifier bytes (a Mach-O UUID, an ELF build ID),
    // shown as lower-case hexadecimal without separators.
    QCrashReportBinaryImageInfo(std::optional<QCrashReportProcessorInfo> codeType, uint64_t baseAddress,
                                uint64_t size, std::string_view name,
                                const std::optional<std::vector<uint8_t>>& uuid);
    const std::optional<QCrashReportProcessorInfo>& codeType() const { return codeType_; }
    uint64_t imageBaseAddress() const { return imageBaseAddress_; }
    uint64_t imageSize() const { return imageSize_; }
    std::string_view imageName() const { return imageName_; }
    bool hasImageUUID() const { return imageUUID_.has_value(); }
    // Made from the bytes, so the value owns it.
    const std::optional<std::string>& imageUUID() const { return imageUUID_; }

  private:
    std::optional<QCrashReportProcessorInfo> codeType_;
    uint64_t imageBaseAddress_;
    uint64_t imageSize_;
    std::string_view imageName_;
    std::optional<std::string> imageUUID_;
};

class QCrashReportExceptionInfo {
  public:
    QCrashReportExceptionInfo(
        std::string_view exceptionName, std::string_view exceptionReason,
        std::optional<std::vector<QCrashReportStackFrameInfo>> stackFrames = std::nullopt)
        : exceptionName_(exceptionName),
          exceptionReason_(exceptionReason),
          stackFrames_(std::move(stackFrames)) {}
    std::string_view exceptionName() const { return exceptionName_; }
    std::string_view exceptionReason() const { return exceptionReason_; }
    // Absent (not empty) when the exception was built without frames.
    const std::optional<std::vector<QCrashReportStackFrameInfo>>& stackFrames() const { return stackFrames_; }

  private:
    std::string_view exceptionName_;
    std::string_view exceptionReason_;
    std::optional<std::vector<QCrashReportStackFrameInfo>> stackFrames_;
};

}  // namespace tervolo::crash
