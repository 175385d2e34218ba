#include "testsupport/ui/TestApplication.hpp"

#include <cstring>

namespace tervolo::testsupport {

namespace {

// QApplication keeps references to its argc and argv for its whole life, and
// at most one exists at a time: one static set serves every application made here.
std::unique_ptr<QApplication> makeApplication(const char* name) {
    static int argc = 1;
    static char programName[128];
    static char* argv[] = {programName, nullptr};
    std::strncpy(programName, name, sizeof programName - 1);
    argc = 1;
    return std::make_unique<QApplication>(argc, argv);
}

}  // namespace

QApplication& sharedTestApplication(const char* name) {
    static QApplication* application = [name] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
        return makeApplication(name).release();
    }();
    return *application;
}

ScopedTestApplication::ScopedTestApplication(const char* name) {
    if (!QCoreApplication::instance()) owned_ = makeApplication(name);
}

ScopedTestApplication::~ScopedTestApplication() = default;

}  // namespace tervolo::testsupport
