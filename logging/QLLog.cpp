#include "logging/QLLog.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Assertion.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace tervolo::logging {

using platform::DispatchQueue;

namespace {

constexpr const char* kNotOnLoggingQueueText = "This method should only be run on the logging thread/queue";
constexpr const char* kFlushOnLoggingQueueText =
    "This method shouldn't be run on the logging thread/queue that make flush fast enough";

// Depth of logger calls the registry is waiting for on this thread (a record
// being delivered or a flush). A synchronous hand-over from inside such a call
// would wait for the logging queue, which waits for this very call.
thread_local int tWaitedLoggerCallDepth = 0;

// Set around a logMessage delivery: more records are queued behind this one.
thread_local bool tDeliveryTurnContinues = false;

// Records queued on the logging queue and not yet being delivered, for every
// registry (they share the queue). Raised before a record's block is queued
// and lowered when it starts, so a delivery that sees more than zero is
// certain another record's block follows.
constinit std::atomic<int64_t> gRecordsQueued{0};

// Nodes given a record with more to follow whose turn has not ended yet;
// touched only on the logging queue. Never destroyed: blocks may still run at exit.
std::vector<std::shared_ptr<QLLoggerNode>>& openTurnNodes() {
    static auto* nodes = new std::vector<std::shared_ptr<QLLoggerNode>>();
    return *nodes;
}

struct WaitedLoggerCall {
    WaitedLoggerCall() { ++tWaitedLoggerCallDepth; }
    ~WaitedLoggerCall() { --tWaitedLoggerCallDepth; }
    WaitedLoggerCall(const WaitedLoggerCall&) = delete;
    WaitedLoggerCall& operator=(const WaitedLoggerCall&) = delete;
};

// The framework never reports its own failures through itself.
void reportLoggerException(const char* what) {
    platform::LineWriter::standardError().writeLine(std::string("QLLog: a logger threw an exception: ") +
                                                    what);
}

template <typename Fn>
void callLogger(Fn&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        reportLoggerException(e.what());
    } catch (...) {
        reportLoggerException("unknown exception");
    }
}

void assertOnLoggingQueue() {
    if (!QLLog::isOnLoggingQueue()) {
        platform::assertionFailure("QLLog::isOnLoggingQueue()", "QLLog", kNotOnLoggingQueueText);
    }
}

platform::DispatchGroup& loggingGroup() {
    // Class-wide and never destroyed, like the queue it serves; used only on the
    // logging queue, so only one wait on it is ever in progress.
    return platform::SharedInstance<platform::DispatchGroup, QLLog>::get();
}

struct ClassList {
    std::mutex mutex;
    std::vector<std::shared_ptr<const QLLogClass>> classes;
};

ClassList& classList() {
    return platform::SharedInstance<ClassList>::get();
}

std::shared_ptr<const QLLogClass> classNamed(std::string_view name) {
    auto& list = classList();
    std::lock_guard lock(list.mutex);
    for (const auto& cls : list.classes) {
        if (cls->name == name) return cls;
    }
    return nullptr;
}

}  // namespace

// MARK: - QLLoggerNode

QLLoggerNode::QLLoggerNode(std::shared_ptr<QLLogger> logger, std::shared_ptr<DispatchQueue> loggerQueue,
                           QLLogLevel level)
    : logger_(std::move(logger)), level_(level) {
    if (loggerQueue) loggerQueue_ = std::move(loggerQueue);
}

std::shared_ptr<QLLoggerNode> QLLoggerNode::nodeWithLogger(std::shared_ptr<QLLogger> logger,
                                                           std::shared_ptr<DispatchQueue> loggerQueue,
                                                           QLLogLevel level) {
    return std::make_shared<QLLoggerNode>(std::move(logger), std::move(loggerQueue), level);
}

// MARK: - Class-wide state

namespace {

std::shared_ptr<DispatchQueue>* makeLoggingQueue() {
    return new std::shared_ptr<DispatchQueue>(DispatchQueue::serial("quova.logging"));
}

QLLog* makeSharedRegistry() {
    auto* made = new QLLog();
    // A normal exit ends the process with records still queued for the
    // loggers (and bytes not yet synchronised): deliver and flush them
    // first. The application's will-terminate notice does the same
    // earlier; this covers every other way out through exit().
    std::atexit([] { QLLog::sharedInstance().flushLog(); });
    return made;
}

// Inline in this file: a log call asks for both.
[[gnu::always_inline]] inline const std::shared_ptr<DispatchQueue>& theLoggingQueue() {
    return platform::SharedInstance<std::shared_ptr<DispatchQueue>, QLLog>::get(makeLoggingQueue);
}
[[gnu::always_inline]] inline QLLog& theSharedRegistry() {
    return platform::SharedInstance<QLLog>::get(makeSharedRegistry);
}

}  // namespace

const std::shared_ptr<DispatchQueue>& QLLog::loggingQueue() {
    return theLoggingQueue();
}

bool QLLog::isOnLoggingQueue() {
    // The queue whose block runs here, compared with the logging queue: no
    // lock, as every delivered record asks.
    return DispatchQueue::current() == theLoggingQueue().get();
}

QLLog& QLLog::sharedInstance() {
    return theSharedRegistry();
}

QLLog::QLLog() {
    loggingQueue();  // the class-wide state exists before the first instance is used
    const int count = platform::processorCount();
    processorCount_ = count > 0 ? static_cast<unsigned>(count) : 1u;
    loggers_.reserve(4);
    willTerminateObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        kWillTerminateNotification, nullptr,
        [this](const platform::NotificationCenter::Notification&) { applicationWillTerminate(); });
}

QLLog::~QLLog() {
    willTerminateObservation_.reset();
    // Blocks already queued for this registry refer to it: let them run first.
    if (!isOnLoggingQueue()) loggingQueue()->sync([] {});
}

// MARK: - Public operations

void QLLog::addLogger(std::shared_ptr<QLLogger> logger) {
    addLogger(std::move(logger), QLLogLevel::all);
}

void QLLog::addLogger(std::shared_ptr<QLLogger> logger, QLLogLevel withLevel) {
    if (!logger) return;
    loggingQueue()->async([this, logger = std::move(logger), withLevel] { lt_addLogger(logger, withLevel); });
}

void QLLog::removeLogger(const std::shared_ptr<QLLogger>& logger) {
    if (!logger) return;
    loggingQueue()->async([this, logger] { lt_removeLogger(logger); });
}

void QLLog::removeAllLoggers() {
    loggingQueue()->async([this] { lt_removeAllLoggers(); });
}

bool QLLog::isInsideWaitedLoggerCall() {
    return tWaitedLoggerCallDepth > 0;
}

bool QLLog::deliveryTurnContinues() {
    return tDeliveryTurnContinues;
}

// Runs `work` on the logging queue and waits for it: inline when the caller is
// already there. From a logger call the registry waits for, waiting would never
// end: that misuse is reported and nothing runs.
template <typename Work>
bool QLLog::runWaitingOnLoggingQueue(const char* operation, Work&& work) {
    if (isOnLoggingQueue()) {
        work();
        return true;
    }
    if (isInsideWaitedLoggerCall()) {
        platform::assertionFailure("!QLLog::isInsideWaitedLoggerCall()", "QLLog",
                                   std::string("QLLog: ") + operation +
                                       " called from a logger the registry is waiting for would deadlock");
        return false;
    }
    loggingQueue()->sync(work);
    return true;
}

std::vector<std::shared_ptr<QLLogger>> QLLog::allLoggers() {
    std::vector<std::shared_ptr<QLLogger>> result;
    runWaitingOnLoggingQueue("allLoggers", [&] { result = lt_allLoggers(); });
    return result;
}

std::vector<QLLoggerInformation> QLLog::allLoggersWithLevel() {
    std::vector<QLLoggerInformation> result;
    runWaitingOnLoggingQueue("allLoggersWithLevel", [&] { result = lt_allLoggersWithLevel(); });
    return result;
}

void QLLog::log(bool asynchronous, QLLogMessagePtr message) {
    if (!message) return;
    if (asynchronous) {
        queueAsynchronously(std::move(message));
    } else {
        queueLogMessage(std::move(message), false);
    }
}

void QLLog::log(bool asynchronous, std::string message, QLLogLevel level, QLLogFlag flag, int64_t context,
                const char* file, const char* function, uint64_t line, std::any tag) {
    queueLogMessage(
        QLLogMessage::make(std::move(message), level, flag, context,
                           QLLogText::copied(file ? std::string_view(file) : std::string_view{}),
                           QLLogText::copied(function ? std::string_view(function) : std::string_view{}),
                           line, std::move(tag), 0),
        asynchronous);
}

void QLLog::logCall(const QLLogCallSite& site, bool asynchronous, std::string_view text) {
    handOverMade(asynchronous, QLLogMessage::makeForLogCall(text, site));
}

void QLLog::logCall(const QLLogCallSite& site, bool asynchronous, fmt::string_view format,
                    fmt::format_args args) {
    logFormatted(site, asynchronous, format, args);
}

void QLLog::sharedLogCall(const QLLogCallSite& site, bool asynchronous, std::string_view text) {
    theSharedRegistry().logCall(site, asynchronous, text);
}

void QLLog::sharedLogCall(const QLLogCallSite& site, bool asynchronous, fmt::string_view format,
                          fmt::format_args args) {
    theSharedRegistry().logFormatted(site, asynchronous, format, args);
}

// Inline in both entry points: a log call passes through one function of
// the registry on its way.
[[gnu::always_inline]] inline void QLLog::logFormatted(const QLLogCallSite& site, bool asynchronous,
                                                       fmt::string_view format, fmt::format_args args) {
    // Formatted on the stack (fmt's own buffer is the fastest to append to),
    // then copied once, into the record's block.
    fmt::memory_buffer formatted;
    fmt::vformat_to(fmt::appender(formatted), format, args);
    handOverMade(asynchronous,
                 QLLogMessage::makeForLogCall(std::string_view(formatted.data(), formatted.size()), site));
}

// Queues the block of a record whose hand-over this caller has claimed
// (see queueAsynchronously).
inline void QLLog::queueClaimed(QLLogMessagePtr logMessage) {
    const QLLogMessage* record = logMessage.get();
    record->handOver_ = std::move(logMessage);
    gRecordsQueued.fetch_add(1, std::memory_order_relaxed);
    try {
        theLoggingQueue()->async([this, record] { lt_logHandedOver(record); });
    } catch (...) {
        gRecordsQueued.fetch_sub(1, std::memory_order_relaxed);
        record->handOver_.reset();
        record->handOverBusy_.store(false, std::memory_order_release);
        throw;
    }
}

inline void QLLog::handOverMade(bool asynchronous, QLLogMessagePtr logMessage) {
    if (!asynchronous) {
        queueLogMessage(std::move(logMessage), false);
        return;
    }
    // Nobody else holds the record yet, so nobody else can be handing it
    // over: it is claimed without an atomic exchange.
    logMessage->handOverBusy_.store(true, std::memory_order_relaxed);
    queueClaimed(std::move(logMessage));
}

void QLLog::logWithFormatArgs(bool asynchronous, QLLogLevel level, QLLogFlag flag, int64_t context,
                              const char* file, const char* function, uint64_t line, std::any tag,
                              const char* format, fmt::format_args args) {
    if (format == nullptr) return;
    std::string text;
    try {
        text = fmt::vformat(format, args);
    } catch (const std::exception& e) {
        platform::LineWriter::standardError().writeLine(std::string("QLLog: invalid log format \"") + format +
                                                        "\": " + e.what());
        return;
    }
    log(asynchronous, std::move(text), level, flag, context, file, function, line, std::move(tag));
}

// Each record queues one block on the logging queue, and the block delivers
// that record, so records keep the order of their blocks and go before
// everything queued on the logging queue after them. The block carries only
// the registry and the record's address, so it fits the block's own storage
// and costs no allocation; the record holds the registry's reference itself
// until its block runs. A record already on its way (the same record handed
// over twice at once) travels in a block of its own instead.
void QLLog::queueAsynchronously(QLLogMessagePtr logMessage) {
    // Unbounded on purpose: an asynchronous caller never blocks.
    if (logMessage->handOverBusy_.exchange(true, std::memory_order_acquire)) {
        gRecordsQueued.fetch_add(1, std::memory_order_relaxed);
        try {
            loggingQueue()->async([this, logMessage = std::move(logMessage)] {
                lt_log(logMessage, gRecordsQueued.fetch_sub(1, std::memory_order_relaxed) > 1);
            });
        } catch (...) {
            gRecordsQueued.fetch_sub(1, std::memory_order_relaxed);
            throw;
        }
        return;
    }
    queueClaimed(std::move(logMessage));
}

void QLLog::lt_logHandedOver(const QLLogMessage* record) {
    const QLLogMessagePtr logMessage = std::move(record->handOver_);
    record->handOverBusy_.store(false, std::memory_order_release);
    lt_log(logMessage, gRecordsQueued.fetch_sub(1, std::memory_order_relaxed) > 1);
}

void QLLog::queueLogMessage(QLLogMessagePtr logMessage, bool asynchronously) {
    if (asynchronously) {
        queueAsynchronously(std::move(logMessage));
    } else if (isOnLoggingQueue()) {
        lt_log(logMessage);
    } else if (tWaitedLoggerCallDepth > 0) {
        // A logger logging synchronously while the registry waits for it (from
        // its logMessage or flush) would wait for the logging queue, which waits
        // for the logger: a deadlock. Hand the record over asynchronously; it is
        // delivered right after the current one.
        queueAsynchronously(std::move(logMessage));
    } else {
        loggingQueue()->sync([&] { lt_log(logMessage); });
    }
}

void QLLog::flushLog() {
    if (isOnLoggingQueue()) {
        platform::assertionFailure("!QLLog::isOnLoggingQueue()", "QLLog", kFlushOnLoggingQueueText);
        // Waiting for the logging queue from the logging queue would never end;
        // flush the loggers from here instead.
        lt_flush();
        return;
    }
    runWaitingOnLoggingQueue("flushLog", [this] { lt_flush(); });
}

void QLLog::applicationWillTerminate() {
    flushLog();
}

// MARK: - Work on the logging queue

void QLLog::lt_addLogger(const std::shared_ptr<QLLogger>& logger, QLLogLevel level) {
    for (const auto& node : loggers_) {
        if (node->logger() == logger && node->level() == level) return;
    }
    assertOnLoggingQueue();

    auto queue = logger->loggerQueue();
    if (!queue) queue = DispatchQueue::serial(logger->loggerName());
    loggers_.push_back(QLLoggerNode::nodeWithLogger(logger, queue, level));

    queue->async([logger, queue] { callLogger([&] { logger->didAddLogger(queue); }); });
}

void QLLog::lt_removeLogger(const std::shared_ptr<QLLogger>& logger) {
    assertOnLoggingQueue();
    const auto it = std::find_if(loggers_.begin(), loggers_.end(),
                                 [&](const auto& node) { return node->logger() == logger; });
    if (it == loggers_.end()) return;
    (*it)->loggerQueue()->async([logger] { callLogger([&] { logger->willRemoveLogger(); }); });
    loggers_.erase(it);
}

void QLLog::lt_removeAllLoggers() {
    assertOnLoggingQueue();
    for (const auto& node : loggers_) {
        node->loggerQueue()->async(
            [logger = node->logger()] { callLogger([&] { logger->willRemoveLogger(); }); });
    }
    loggers_.clear();
}

std::vector<std::shared_ptr<QLLogger>> QLLog::lt_allLoggers() {
    assertOnLoggingQueue();
    std::vector<std::shared_ptr<QLLogger>> result;
    result.reserve(loggers_.size());
    for (const auto& node : loggers_) result.push_back(node->logger());
    return result;
}

std::vector<QLLoggerInformation> QLLog::lt_allLoggersWithLevel() {
    assertOnLoggingQueue();
    std::vector<QLLoggerInformation> result;
    result.reserve(loggers_.size());
    for (const auto& node : loggers_) {
        result.push_back(QLLoggerInformation::informationWithLogger(node->logger(), node->level()));
    }
    return result;
}

void QLLog::deliver(const QLLoggerNode& node, const QLLogMessagePtr& logMessage, bool turnContinues) {
    WaitedLoggerCall waited;
    tDeliveryTurnContinues = turnContinues;
    callLogger([&] { node.logger()->logMessage(logMessage); });
    tDeliveryTurnContinues = false;
}

void QLLog::lt_noteDelivered(const std::shared_ptr<QLLoggerNode>& node, bool turnContinues) {
    if (!turnContinues) {
        // The logger wrote what it had collected with this record.
        node->turnOpen_ = false;
    } else if (!node->turnOpen_) {
        node->turnOpen_ = true;
        openTurnNodes().push_back(node);
    }
}

// The last record queued so far has been delivered: loggers still holding
// records of this turn (they did not receive the last one) write them, and
// delivery ends when they have.
void QLLog::lt_endDeliveryTurn() {
    auto& nodes = openTurnNodes();
    if (nodes.empty()) return;
    auto& group = loggingGroup();
    for (const auto& node : nodes) {
        if (!node->turnOpen_) continue;
        node->turnOpen_ = false;
        node->loggerQueue()->async(group, [logger = node->logger()] {
            WaitedLoggerCall waited;
            callLogger([&] { logger->didEndDeliveryTurn(); });
        });
    }
    nodes.clear();
    group.wait();
}

void QLLog::lt_log(const QLLogMessagePtr& logMessage, bool turnContinues) {
    assertOnLoggingQueue();
    // Only the node's mask decides; the record's own level plays no part.
    if (processorCount_ < 2) {
        // One after the other, each on its own queue.
        for (const auto& node : loggers_) {
            if (!passes(logMessage->flag(), node->level())) continue;
            node->loggerQueue()->sync([&] { deliver(*node, logMessage, turnContinues); });
            lt_noteDelivered(node, turnContinues);
        }
        if (!turnContinues) lt_endDeliveryTurn();
        return;
    }
    // In parallel; delivery ends when every logger returned, so each logger
    // still sees records one at a time, in logging-queue order. The last
    // receiving logger is served on this thread (sync onto its queue) while the
    // others run on theirs: one thread hand-over fewer per record, and none at
    // all in the common case of a single receiving logger.
    const std::shared_ptr<QLLoggerNode>* last = nullptr;
    for (const auto& node : loggers_) {
        if (passes(logMessage->flag(), node->level())) last = &node;
    }
    if (last == nullptr) {
        if (!turnContinues) lt_endDeliveryTurn();
        return;
    }
    auto& group = loggingGroup();
    bool grouped = false;
    for (const auto& node : loggers_) {
        if (&node == last) break;
        if (!passes(logMessage->flag(), node->level())) continue;
        grouped = true;
        node->loggerQueue()->async(
            group, [node, logMessage, turnContinues] { deliver(*node, logMessage, turnContinues); });
        lt_noteDelivered(node, turnContinues);
    }
    const QLLoggerNode& lastNode = **last;
    lastNode.loggerQueue()->sync([&] { deliver(lastNode, logMessage, turnContinues); });
    lt_noteDelivered(*last, turnContinues);
    if (grouped) group.wait();
    if (!turnContinues) lt_endDeliveryTurn();
}

void QLLog::lt_flush() {
    assertOnLoggingQueue();
    auto& group = loggingGroup();
    for (const auto& node : loggers_) {
        node->loggerQueue()->async(group, [logger = node->logger()] {
            WaitedLoggerCall waited;
            callLogger([&] { logger->flush(); });
        });
    }
    group.wait();
}

// MARK: - Per-class level registry

void QLLog::registerClass(std::shared_ptr<const QLLogClass> cls) {
    if (!cls) return;
    auto& list = classList();
    std::lock_guard lock(list.mutex);
    list.classes.push_back(std::move(cls));
}

bool QLLog::isRegisteredClass(const QLLogClass& cls) {
    return static_cast<bool>(cls.qlLogLevel) && static_cast<bool>(cls.qlSetLogLevel);
}

std::vector<std::shared_ptr<const QLLogClass>> QLLog::registeredClasses() {
    auto& list = classList();
    std::lock_guard lock(list.mutex);
    std::vector<std::shared_ptr<const QLLogClass>> result;
    for (const auto& cls : list.classes) {
        if (isRegisteredClass(*cls)) result.push_back(cls);
    }
    return result;
}

std::vector<std::string> QLLog::registeredClassNames() {
    std::vector<std::string> names;
    for (const auto& cls : registeredClasses()) names.push_back(cls->name);
    return names;
}

QLLogLevel QLLog::levelForClass(const QLLogClass& cls) {
    return isRegisteredClass(cls) ? cls.qlLogLevel() : QLLogLevel::all;
}

QLLogLevel QLLog::levelForClassWithName(std::string_view name) {
    const auto cls = classNamed(name);
    return cls ? levelForClass(*cls) : QLLogLevel::all;
}

void QLLog::setLevel(QLLogLevel level, const QLLogClass& forClass) {
    if (isRegisteredClass(forClass)) forClass.qlSetLogLevel(level);
}

void QLLog::setLevel(QLLogLevel level, std::string_view forClassWithName) {
    if (const auto cls = classNamed(forClassWithName)) setLevel(level, *cls);
}

}  // namespace tervolo::logging
