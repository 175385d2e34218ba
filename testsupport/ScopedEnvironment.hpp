#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace tervolo::testsupport {

// Sets (or, with a null value, removes) an environment variable for the
// lifetime of this object; the previous value comes back afterwards. Not
// thread-safe with respect to other environment changes.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        if (value) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace tervolo::testsupport
