#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A line-oriented writer for the process's own diagnostics: standardError()
// for the platform's "standard error log" (NSLog-like lines), standardOutput()
// for plain prints. Each line goes out in one write(2) with its newline, so
// lines from several threads never interleave. Tests capture the lines with
// LineCapture.
class LineWriter {
  public:
    using Sink = std::function<void(std::string_view line)>;

    static LineWriter& standardError();
    static LineWriter& standardOutput();

    // `line` without its newline; an embedded newline is written as is.
    void writeLine(std::string_view line);

    // Replaces the descriptor output (empty: back to the descriptor); returns
    // the previous sink.
    Sink setSink(Sink sink);

  private:
    explicit LineWriter(int fd) : fd_(fd) {}
    int fd_;
    std::mutex mutex_;
    Sink sink_;
};

// Captures the lines of a LineWriter while alive (restoring the previous sink
// afterwards).
class LineCapture {
  public:
    explicit LineCapture(LineWriter& writer);
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    std::vector<std::string> lines() const;
    void clear();

  private:
    struct Storage {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    LineWriter& writer_;
    std::shared_ptr<Storage> storage_;
    LineWriter::Sink previous_;
};

}  // namespace platform
