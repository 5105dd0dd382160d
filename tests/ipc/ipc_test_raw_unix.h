#pragma once

// Bare client sockets on the Linux pipe endpoint (a Unix-domain socket), for
// clients that send little or nothing, and the process's file handle count.

#include "ipc/kvd_ipc.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A bare client socket on the pipe of aPipeName, for clients that send little
// or nothing; -1 when it cannot connect. A client the server has not accepted
// yet is connected too: it waits in the endpoint's queue.
inline int RawSocket(const QString& aPipeName)
{
    const QByteArray path = QFile::encodeName(PipePathOf(aPipeName));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof(address.sun_path))
        return -1;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int handle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle >= 0 &&
        ::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(handle);
        return -1;
    }
    return handle;
}

// True once the server has ended the connection of aSocket (the end of the
// stream or a reset), false when it sends something instead or has not ended
// it after aWaitMs. The wait is only a bound that keeps a server which never
// closes from hanging the test.
inline bool ClosedByServer(int aSocket, int aWaitMs = 60000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{aSocket, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char byte;
        const ssize_t got = ::recv(aSocket, &byte, 1, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return true;
        if (got > 0)
            return false;
    }
}

// The number of file handles the process holds.
inline int OpenHandleCount()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}
