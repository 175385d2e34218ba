#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class OSLogType { Default, Info, Debug, Error, Fault };

// The unified system log: records go to syslog(3) (the journal collects them)
// as "[subsystem:category] text". The text is always data, never a format.
// Priorities: Error and Fault → LOG_ERR, Info and Default → LOG_INFO,
// Debug → LOG_DEBUG. Debug records are dropped unless the environment
// variable TERVOLO_LOG_DEBUG is set (read once), like the platform that keeps
// debug logging off by default.
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
