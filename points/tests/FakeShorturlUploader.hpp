#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "points/QuovaMapPoint.hpp"
#include "points/ShorturlUploader.hpp"

namespace tervolo::points::testing {

// An uploader that records each started upload and completes it only when the
// test says so (from any thread), or never. Thread-safe.
class FakeShorturlUploader : public ShorturlUploader {
  public:
    enum class Mode {
        hold,    // keep the completion until complete()
        refuse,  // start nothing (return null)
    };

    struct Upload {
        std::string identifier;
        std::string title;
        Completion completion;
    };

    explicit FakeShorturlUploader(Mode mode = Mode::hold) : mode_(mode) {}

    std::shared_ptr<void> startUpload(const QuovaMapPoint& point, Completion completion) override {
        std::lock_guard lock(mutex_);
        ++started_;
        if (mode_ == Mode::refuse) return nullptr;
        uploads_.push_back({point.uuid().value_or(""), point.title().value_or(""), std::move(completion)});
        return std::make_shared<int>(static_cast<int>(uploads_.size()));
    }

    // Ends upload `index` with the link (none: failure). Outside the lock, as
    // a session's completion runs.
    void complete(size_t index, std::optional<std::string> shorturl) {
        Completion completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(uploads_.at(index).completion);
        }
        if (completion) completion(std::move(shorturl));
    }

    int startedCount() {
        std::lock_guard lock(mutex_);
        return started_;
    }

    std::vector<std::string> identifiers() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> result;
        for (const auto& upload : uploads_) result.push_back(upload.identifier);
        return result;
    }

  private:
    std::mutex mutex_;
    Mode mode_;
    int started_ = 0;
    std::vector<Upload> uploads_;
};

}  // namespace tervolo::points::testing
