#pragma once

#include <sys/un.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/incoming/InstanceServer.hpp"

namespace tervolo::testsupport {

// The running program's part, played by the test: serves the socket `fd` that the first start
// claimed at `path`, appends the links each later start hands over to `received`, and answers
// that the last `dropping` of them were not opened.
app::InstanceServer recordingInstanceServer(int fd, const std::string& path,
                                            std::vector<std::vector<std::string>>& received,
                                            size_t dropping = 0);

// The address of the Unix socket at `path`, for connect and bind.
sockaddr_un unixSocketAddress(const std::string& path);

// Leaves a socket file at `path` that nobody listens at, as a program that ended without
// removing its socket does; false (with the test failed) when it could not.
bool leaveStaleSocket(const std::string& path);

}  // namespace tervolo::testsupport
