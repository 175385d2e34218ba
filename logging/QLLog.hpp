#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "logging/QLLogCallSite.hpp"
#include "logging/QLLogFlag.hpp"
#include "logging/QLLogMessage.hpp"
#include "logging/QLLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::logging {

// One installed logger: immutable after creation.
class QLLoggerNode {
  public:
    QLLoggerNode(std::shared_ptr<QLLogger> logger, std::shared_ptr<platform::DispatchQueue> loggerQueue,
                 QLLogLevel level);
    static std::shared_ptr<QLLoggerNode> nodeWithLogger(std::shared_ptr<QLLogger> logger,
                                                        std::shared_ptr<platform::DispatchQueue> loggerQueue,
                                                        QLLogLevel level);

    const std::shared_ptr<QLLogger>& logger() const { return logger_; }
    QLLogLevel level() const { return level_; }
    const std::shared_ptr<platform::DispatchQueue>& loggerQueue() const { return loggerQueue_; }

  private:
    std::shared_ptr<QLLogger> logger_;
    QLLogLevel level_;
    std::shared_ptr<platform::DispatchQueue> loggerQueue_;

    friend class QLLog;
    // Delivered a record with more to follow and not yet told that the turn
    // ended; touched only on the logging queue.
    bool turnOpen_ = false;
};

// A logger with the level it was installed with (an element of allLoggersWithLevel).
struct QLLoggerInformation {
    std::shared_ptr<QLLogger> logger;
    QLLogLevel level = QLLogLevel::all;

    static QLLoggerInformation informationWithLogger(std::shared_ptr<QLLogger> logger, QLLogLevel andLevel) {
        return {std::move(logger), andLevel};
    }
};

// A class taking part in the per-class level registry. C++ has no list of
// classes to scan, so a class is made known by registering one of these
// (QLLog::registerClass); it takes part when it gives both functions.
struct QLLogClass {
    std::string name;
    std::function<QLLogLevel()> qlLogLevel;         // empty: the class does not implement it
    std::function<void(QLLogLevel)> qlSetLogLevel;  // empty: the class does not implement it
};

// The logger registry: keeps the installed loggers, each with its level mask and
// its own serial queue, and hands every record to the loggers whose mask holds
// the record's flag.
//
// All registry work runs on one process-wide serial queue, the logging queue
// ("quova.logging"); the list of nodes is read and changed only there, so it
// needs no lock. Lock order of the framework: logging queue first, then a
// logger's queue, never the reverse.
//
// The class-method forms of the platform (+[QLLog addLogger:]) are the instance
// methods of QLLog::sharedInstance().
class QLLog {
  public:
    // The shared registry: made on first use, never destroyed.
    // The registry of the program; it flushes at a normal exit (exit()).
    static QLLog& sharedInstance();

    // A registry of its own (tests; a program uses the shared one). It shares
    // the process-wide logging queue, reads the processor count once, here, and
    // flushes its loggers when UIApplicationWillTerminateNotification is posted.
    QLLog();
    // Waits until every block already queued for this registry has run.
    virtual ~QLLog();
    QLLog(const QLLog&) = delete;
    QLLog& operator=(const QLLog&) = delete;

    // The process-wide serial logging queue, labelled "quova.logging".
    static const std::shared_ptr<platform::DispatchQueue>& loggingQueue();
    // True when the caller runs on the logging queue.
    static bool isOnLoggingQueue();
    // True inside a logger call the registry is waiting for (logMessage during
    // delivery, flush during flushLog). Anything that waits for the logging
    // queue from there would wait forever.
    static bool isInsideWaitedLoggerCall();
    // True inside a logMessage delivery when more records are already queued
    // on the logging queue behind this one: a logger may collect the record
    // and write it with the next ones. The registry ends every such turn with
    // a delivery that answers false or with QLLogger::didEndDeliveryTurn, so
    // nothing waits past the moment the logging queue runs out of records.
    // False everywhere else (a record handed over synchronously, a direct call).
    static bool deliveryTurnContinues();

    // With level all.
    void addLogger(std::shared_ptr<QLLogger> logger);
    // Asynchronous: the logger is installed when the logging queue gets to it.
    // The same logger with the same level twice leaves one node; with another
    // level it gets a second node. A null logger is ignored.
    void addLogger(std::shared_ptr<QLLogger> logger, QLLogLevel withLevel);
    // Asynchronous; removes the first node of that logger only.
    void removeLogger(const std::shared_ptr<QLLogger>& logger);
    void removeAllLoggers();
    // Synchronous (inline on the logging queue): every node's logger in order of
    // installation (a logger with two nodes is listed twice).
    std::vector<std::shared_ptr<QLLogger>> allLoggers();
    std::vector<QLLoggerInformation> allLoggersWithLevel();

    // Hands one record over (log:message:). Asynchronous: queue it and return.
    // Synchronous: return after every receiving logger handled it; runs inline
    // when the caller is already on the logging queue.
    void log(bool asynchronous, QLLogMessagePtr message);
    // Builds the record (options 0, now) and hands it over.
    void log(bool asynchronous, std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
             const char* file, const char* function, uint64_t line, std::any tag);
    // The format entry point: the text is `format` applied to `args` (fmt
    // syntax). The format is never taken from the message text.
    template <typename... Args>
    void log(bool asynchronous, QLLogLevel level, QLLogFlag flag, int64_t context, const char* file,
             const char* function, uint64_t line, std::any tag, fmt::format_string<Args...> format,
             Args&&... args) {
        log(asynchronous, fmt::format(format, std::forward<Args>(args)...), level, flag, context, file,
            function, line, std::move(tag));
    }
    // The log macros' hand-over: makes the record of a log call (level all,
    // options 3, now, the call site's file and function literals borrowed)
    // with `text`, or with `format` applied to `args` (fmt syntax), and hands
    // it over as log() does.
    void logCall(const QLLogCallSite& site, bool asynchronous, std::string_view text);
    void logCall(const QLLogCallSite& site, bool asynchronous, fmt::string_view format,
                 fmt::format_args args);
    // The same on the shared registry: the log macros' entry points.
    static void sharedLogCall(const QLLogCallSite& site, bool asynchronous, std::string_view text);
    static void sharedLogCall(const QLLogCallSite& site, bool asynchronous, fmt::string_view format,
                              fmt::format_args args);
    // The same with an argument list made by fmt::make_format_args; a null
    // format does nothing, a malformed one is reported on standard error.
    void logWithFormatArgs(bool asynchronous, QLLogLevel level, QLLogFlag flag, int64_t context,
                           const char* file, const char* function, uint64_t line, std::any tag,
                           const char* format, fmt::format_args args);

    // Returns after every record queued before it reached every logger and
    // every logger flushed. Must not be called on the logging queue.
    void flushLog();
    // The will-terminate handler: flushes.
    void applicationWillTerminate();

    // Per-class level registry (class-wide; nothing in the program uses it).
    // `registerClass` is the stand-in for the runtime's class list.
    static void registerClass(std::shared_ptr<const QLLogClass> cls);
    static bool isRegisteredClass(const QLLogClass& cls);
    static std::vector<std::shared_ptr<const QLLogClass>> registeredClasses();
    static std::vector<std::string> registeredClassNames();
    static QLLogLevel levelForClass(const QLLogClass& cls);
    static QLLogLevel levelForClassWithName(std::string_view name);
    static void setLevel(QLLogLevel level, const QLLogClass& forClass);
    static void setLevel(QLLogLevel level, std::string_view forClassWithName);

    // The notification that flushes every registry.
    static constexpr const char* kWillTerminateNotification = "UIApplicationWillTerminateNotification";

  protected:
    // Registry work; runs only on the logging queue (asserts it).
    void lt_addLogger(const std::shared_ptr<QLLogger>& logger, QLLogLevel level);
    void lt_removeLogger(const std::shared_ptr<QLLogger>& logger);
    void lt_removeAllLoggers();
    std::vector<std::shared_ptr<QLLogger>> lt_allLoggers();
    std::vector<QLLoggerInformation> lt_allLoggersWithLevel();
    // `turnContinues`: more records are queued behind this one (see deliveryTurnContinues).
    void lt_log(const QLLogMessagePtr& logMessage, bool turnContinues = false);
    void lt_flush();

    // Installed loggers in order of installation; touched only on the logging queue.
    std::vector<std::shared_ptr<QLLoggerNode>> loggers_;

  private:
    void logFormatted(const QLLogCallSite& site, bool asynchronous, fmt::string_view format,
                      fmt::format_args args);
    // A log call's record, which no one else holds yet.
    void handOverMade(bool asynchronous, QLLogMessagePtr logMessage);
    void queueClaimed(QLLogMessagePtr logMessage);
    void queueLogMessage(QLLogMessagePtr logMessage, bool asynchronously);
    void queueAsynchronously(QLLogMessagePtr logMessage);
    void lt_logHandedOver(const QLLogMessage* logMessage);
    static void deliver(const QLLoggerNode& node, const QLLogMessagePtr& logMessage, bool turnContinues);
    static void lt_noteDelivered(const std::shared_ptr<QLLoggerNode>& node, bool turnContinues);
    static void lt_endDeliveryTurn();
    template <typename Work>
    bool runWaitingOnLoggingQueue(const char* operation, Work&& work);

    unsigned processorCount_;
    std::unique_ptr<platform::NotificationCenter::Token> willTerminateObservation_;
};

}  // namespace tervolo::logging
