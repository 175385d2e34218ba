#include "testsupport/incoming/InstanceSocketSupport.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tervolo::testsupport {

app::InstanceServer recordingInstanceServer(int fd, const std::string& path,
                                            std::vector<std::vector<std::string>>& received,
                                            size_t dropping) {
    return app::InstanceServer(fd, path, [&received, dropping](const std::vector<std::string>& links) {
        received.push_back(links);
        return dropping;
    });
}

sockaddr_un unixSocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return address;
}

bool leaveStaleSocket(const std::string& path) {
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = unixSocketAddress(path);
    const bool bound = bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    EXPECT_TRUE(bound) << path;
    close(stale);  // the file stays, nobody listens
    return bound;
}

}  // namespace tervolo::testsupport
