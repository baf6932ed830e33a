// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "app/qt/single_instance.h"

namespace app {

namespace {

// Abstract socket names are shared by every user of the machine; a named
// mutex without a prefix is per session. The user id in the name keeps one
// user's copy from locking out another's.
sockaddr_un AddressOf(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = name + "." + std::to_string(getuid());
    // sun_path[0] stays 0: the abstract namespace, which no file backs.
    const std::size_t n = std::min(text.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, text.data(), n);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return address;
}

}  // namespace

bool ClaimSingleInstance(const std::string& name) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    socklen_t length = 0;
    const sockaddr_un address = AddressOf(name, length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        close(fd);
        return error != EADDRINUSE;
    }
    // Listening lets IsSingleInstanceHeld see the holder; nobody is ever
    // accepted, the running copy is not told about later starts. The socket
    // is never closed: it is the token, and it goes when the process goes.
    listen(fd, 1);
    return true;
}

bool IsSingleInstanceHeld(const std::string& name) {
    // Non-blocking: the holder never accepts, so once its backlog is full a
    // blocking connect would wait for ever. A full backlog (EAGAIN) is an
    // answer too: someone listens.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    socklen_t length = 0;
    const sockaddr_un address = AddressOf(name, length);
    const bool held =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 || errno == EAGAIN;
    close(fd);
    return held;
}

}  // namespace app
