#include "crash/CrashReportModel.hpp"

namespace tervolo::crash {

QCrashReportBinaryImageInfo::QCrashReportBinaryImageInfo(std::optional<QCrashReportProcessorInfo> codeType,
                                                         uint64_t baseAddress, uint64_t size,
                                                         std::string_view name,
                                                         const std::optional<std::vector<uint8_t>>& uuid)
    : codeType_(codeType), imageBaseAddress_(baseAddress), imageSize_(size), imageName_(name) {
    if (uuid) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text;
        text.reserve(uuid->size() * 2);
        for (uint8_t byte : *uuid) {
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0xF]);
        }
        imageUUID_ = std::move(text);
    }
}

}  // namespace tervolo::crash
