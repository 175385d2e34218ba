#pragma once

#include <QRect>
#include <QSize>

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ApplicationMain.hpp"

namespace platform {
class MainWindow;
class ViewController;
}  // namespace platform

namespace tervolo::app {

struct CommandLine;

// The whole program from its command line to its exit status: --help and
// --version answered without a display, the no-display message, then the
// application main with the AppDelegate and the map screen as the window's
// root. Main thread.
int runProgram(int argc, char** argv);

// The C heap's settings the program runs with (runProgram sets them first; the end-to-end runs of
// the composition too). Before any other thread starts.
void configureMemory();

// Installs the system log as the program's logger. runProgram calls it
// first, so every record from the start of main on reaches the log. Any
// thread; adding it again later changes nothing.
void startLogging();

// One running program per user and data folder. The first start claims the
// local socket and listens on it (`listeningFd`; none when no socket can be
// made, said on standard error); a later start hands `line`'s links to the
// running one and gets the status to exit with (0 once they are all taken).
// A start that cannot tell whether a program runs (another start holds the
// claim's lock) gets status 1, having said why on standard error: it must not
// open a second window on the same data. A start that cannot open a window
// (`mayListen` false) only hands over: `running` says whether a running
// program was found.
struct InstanceStart {
    std::optional<int> exitStatus;
    std::optional<int> listeningFd;
    std::string socketPath;
    bool running = false;
};
InstanceStart claimInstance(const CommandLine& line, bool mayListen = true);

// What runProgram hands the application main for a run with `line`: the
// delegate with the command line's links, the map screen as the window's
// root, the window's configuration, the restoration archive, the services'
// ports and, for the first start, the listener of later starts. The
// end-to-end tests run the same composition inside their own process. Main
// thread.
platform::ApplicationMainConfiguration programConfiguration(const CommandLine& line,
                                                            const InstanceStart& instance = {});

// The window's root: the map screen, its factories filled with what lies
// above it. Main thread, after the application object exists.
std::shared_ptr<platform::ViewController> makeMapScreen();

// The map screen now: the root of the first window that has it; none before
// the window exists. Main thread.
std::shared_ptr<platform::ViewController> currentMapScreen();

// The first window's size where the screen has room, in points.
inline constexpr QSize kFirstWindowSize{1280, 800};

// Where the first window opens on a screen whose free area (without panels and docks) is
// `available`: kFirstWindowSize, or at most nine tenths of the free area each way on a smaller
// screen, centred in it.
QRect firstWindowGeometry(const QRect& available);

// The window's title and size, and its map opening on the whole world with
// the user's position shown (the map screen follows it itself). Main thread,
// after the window has its root.
void configureMainWindow(platform::MainWindow& window);

// The ports the services wait for, filled with the program's own: where
// positions come from, who uploads short links, where the secure-connection
// alert shows, the analytics client's view of the user interface. Main thread, after the application object
// exists.
void installServicePorts();

}  // namespace tervolo::app
