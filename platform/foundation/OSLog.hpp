#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class OSLogType { Default, Info, Debug, Error, Fault };

// The unified system log: records go to the system log socket ("/dev/log",
// the one syslog(3) writes to and the journal collects) as
// "[subsystem:category] text", in syslog(3)'s own message form with the
// process name and id. The text is always data, never a format.
// Priorities: Error and Fault → LOG_ERR, Info and Default → LOG_INFO,
// Debug → LOG_DEBUG. Debug records are dropped unless the environment
// variable TERVOLO_LOG_DEBUG is set (read once), like the platform that keeps
// debug logging off by default.
//
// One connection to the system log is kept open for the whole process and
// made again only when a send finds it broken (the log daemon restarted).
// Where no system log listens, a write costs no system call: the next
// attempt to connect waits at least kReconnectDelay seconds of monotonic
// time, and records written meanwhile are dropped, as syslog(3) drops them
// there. Any thread; writes are serialised.
class OSLog {
  public:
    struct Record {
        std::string subsystem;
        std::string category;
        OSLogType type;
        std::string text;
    };
    // Where records go instead of syslog (tests).
    class Sink {
      public:
        virtual ~Sink() = default;
        virtual void write(const Record& record) = 0;
    };

    // Subsystem and category empty; never destroyed.
    static std::shared_ptr<OSLog> defaultLog();
    static std::shared_ptr<OSLog> make(std::string subsystem, std::string category);

    bool isEnabled(OSLogType type) const;
    void write(OSLogType type, std::string_view text) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    // Replaces the syslog backend for every log (null: back to syslog).
    static void setSink(std::shared_ptr<Sink> sink);
    // Forces debug records on or off (nothing: back to the environment).
    static void setDebugEnabledForTesting(std::optional<bool> enabled);

    // Seconds after a failed connection before the next attempt.
    static constexpr double kReconnectDelay = 1.0;
    // Points the writer at another socket (empty: back to "/dev/log"); the
    // current connection is closed and the next write connects at once.
    static void setSystemLogPathForTesting(std::string path);
    // Connection attempts made so far, failed ones included (tests check
    // that the connection is kept).
    static uint64_t systemLogConnectionAttempts();

    OSLog(std::string subsystem, std::string category);

  private:
    std::string subsystem_;
    std::string category_;
};

// A sink that keeps records in memory: install() makes it the sink of every
// log until uninstall().
class OSLogCapture : public OSLog::Sink {
  public:
    static std::shared_ptr<OSLogCapture> install();
    ~OSLogCapture() override = default;
    void write(const OSLog::Record& record) override;
    std::vector<OSLog::Record> records() const;
    std::vector<std::string> texts() const;
    void clear();
    void uninstall();

  private:
    mutable std::mutex mutex_;
    std::vector<OSLog::Record> records_;
};

}  // namespace platform
