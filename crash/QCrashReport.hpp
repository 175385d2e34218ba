#pragma once

// A crash report file decoded into the report model. The file is the 8-byte
// header ("qcrash", a zero byte, version 1) and one protocol-buffer message
// (CrashReport.proto), unpacked with protobuf-c. Every defect gives an
// error of "QCrashReporterErrorDomain" with code 2 and a fixed message (the
// English text is the localization key). Immutable; any thread.

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "crash/CrashReport.pb-c.h"
#include "crash/CrashReportModel.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::crash {

class UnpackArena;

class QCrashReport {
  public:
    // Files larger than this are refused as undecodable.
    static constexpr size_t kMaxReportBytes = 16u << 20;

    // Header checks, unpack and model build; null with `error` on the first
    // defect.
    static std::shared_ptr<QCrashReport> create(std::span<const uint8_t> data,
                                                platform::Error* error = nullptr);

    // The two steps on their own: protobuf-c refuses messages without their
    // required fields, so the model build's own checks are reached only with
    // messages made in memory. A report made by build() refers to the
    // message's strings: the message must outlive it.
    using Message = std::unique_ptr<Qcrash__CrashReport, void (*)(Qcrash__CrashReport*)>;
    static Message decode(std::span<const uint8_t> data, platform::Error* error = nullptr);
    static std::shared_ptr<QCrashReport> build(const Qcrash__CrashReport& message,
                                               platform::Error* error = nullptr);

    const QCrashReportSystemInfo& systemInfo() const { return *systemInfo_; }
    const std::optional<QCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
    const QCrashReportApplicationInfo& applicationInfo() const { return *applicationInfo_; }
    const std::optional<QCrashReportProcessInfo>& processInfo() const { return processInfo_; }
    const QCrashReportSignalInfo& signalInfo() const { return *signalInfo_; }
    const std::optional<QCrashReportMachExceptionInfo>& machExceptionInfo() const {
        return machExceptionInfo_;
    }
    const std::vector<QCrashReportThreadInfo>& threads() const { return threads_; }
    const std::vector<QCrashReportBinaryImageInfo>& images() const { return images_; }
    const std::optional<QCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
    const std::optional<std::vector<uint8_t>>& customData() const { return customData_; }
    const std::optional<platform::UUID>& uuidRef() const { return uuid_; }

    bool hasMachineInfo() const { return machineInfo_.has_value(); }
    bool hasProcessInfo() const { return processInfo_.has_value(); }
    bool hasExceptionInfo() const { return exceptionInfo_.has_value(); }

    // The first image with base <= address < base + size; null when none.
    const QCrashReportBinaryImageInfo* imageForAddress(uint64_t address) const;

    ~QCrashReport();
    QCrashReport(const QCrashReport&) = delete;
    QCrashReport& operator=(const QCrashReport&) = delete;

  private:
    QCrashReport();
    friend class ReportBuilder;

    // What create() unpacked into; the model's strings point into it.
    std::unique_ptr<UnpackArena> arena_;

    std::optional<QCrashReportSystemInfo> systemInfo_;
    std::optional<QCrashReportMachineInfo> machineInfo_;
    std::optional<QCrashReportApplicationInfo> applicationInfo_;
    std::optional<QCrashReportProcessInfo> processInfo_;
    std::optional<QCrashReportSignalInfo> signalInfo_;
    std::optional<QCrashReportMachExceptionInfo> machExceptionInfo_;
    std::vector<QCrashReportThreadInfo> threads_;
    std::vector<QCrashReportBinaryImageInfo> images_;
    std::optional<QCrashReportExceptionInfo> exceptionInfo_;
    std::optional<std::vector<uint8_t>> customData_;
    std::optional<platform::UUID> uuid_;
};

}  // namespace tervolo::crash
