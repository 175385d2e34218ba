#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

namespace tervolo::logging {

// What a StreamLogHandler writes its lines to: anything that accepts a text in
// one write. A write must be atomic with respect to other writes on the same
// output, so that lines from several threads never interleave.
class TextOutputStream {
  public:
    virtual ~TextOutputStream() = default;
    virtual void write(std::string_view text) = 0;
};

// A thin writer on a C standard I/O stream. Each write takes the stream's own
// lock (flockfile), writes the bytes in one fwrite and, with flush mode always,
// flushes before unlocking: a whole line reaches the stream, and with always
// the file, before another thread's line can start.
//
// A value: copies write to the same FILE. The stream does not own the FILE.
class StdioOutputStream final : public TextOutputStream {
  public:
    enum class FlushMode { undefined, always };

    StdioOutputStream(std::FILE* file, FlushMode flushMode) : file_(file), flushMode_(flushMode) {}

    // The shared writers on the process's standard output and standard error,
    // made once on first use, both with flush mode always.
    static const std::shared_ptr<StdioOutputStream>& standardOutput();
    static const std::shared_ptr<StdioOutputStream>& standardError();

    std::FILE* file() const { return file_; }
    FlushMode flushMode() const { return flushMode_; }

    void write(std::string_view text) override;

  private:
    std::FILE* file_;
    FlushMode flushMode_;
};

}  // namespace tervolo::logging
