#include "logging/QLLogging.hpp"

#include <memory>

namespace tervolo::logging {

namespace {

constexpr int64_t kFunctionsOptions = QLLogMessage::kOptionCopyFile | QLLogMessage::kOptionCopyFunction;

}  // namespace

std::string currentFileName(std::string_view file) {
    return std::string(detail::fileNameWithoutExtension(file));
}

std::string CurrentFileName(std::string_view file) {
    return currentFileName(file);
}

namespace detail {

void submitLogMessage(std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                      const char* file, const char* function, uint64_t line, std::any tag, bool asynchronous,
                      QLLog& qllog) {
    qllog.log(asynchronous, QLLogMessage::make(
                                std::move(message), level, flag, context,
                                QLLogText::copied(file ? std::string_view(file) : std::string_view{}),
                                QLLogText::copied(function ? std::string_view(function) : std::string_view{}),
                                line, std::move(tag), kFunctionsOptions));
}

}  // namespace detail

}  // namespace tervolo::logging
