#pragma once

#include <QApplication>

#include <memory>

namespace tervolo::testsupport {

// The Qt application a widget test needs (fonts, widgets, painting). Test
// binaries differ in whether one application lives for the whole run or each
// test gets a fresh one; both forms reuse an application that exists already.
// Main thread only. `name` is the program name the application reports.

// The binary's one application, made at the first call and never destroyed.
QApplication& sharedTestApplication(const char* name);

// An application for the lifetime of this object, made only when none exists
// (and then destroyed with it), so tests that make their own still can.
class ScopedTestApplication {
  public:
    explicit ScopedTestApplication(const char* name);
    ~ScopedTestApplication();
    ScopedTestApplication(const ScopedTestApplication&) = delete;
    ScopedTestApplication& operator=(const ScopedTestApplication&) = delete;

  private:
    std::unique_ptr<QApplication> owned_;
};

}  // namespace tervolo::testsupport
