// The pipe endpoint on Linux: a Unix-domain stream socket in a folder only the
// user can enter, accepting only peers of the same user id.

#include "ipc/kvd_pipe.h"
#include "ipc/kvd_pipe_buffered.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

bool FillAddress(const QByteArray& aPath, sockaddr_un& aAddress)
{
    std::memset(&aAddress, 0, sizeof(aAddress));
    aAddress.sun_family = AF_UNIX;
    if (aPath.isEmpty() || static_cast<size_t>(aPath.size()) >= sizeof(aAddress.sun_path))
        return false;
    std::memcpy(aAddress.sun_path, aPath.constData(), static_cast<size_t>(aPath.size()));
    return true;
}

// Makes the socket's folder if needed (for the user alone) and checks that it
// is ours and writable by nobody else, so no other user can replace the
// socket. A folder others may enter is fine (some systems make the runtime
// folder 0755): the socket's mode 0600 and the peer check keep them out.
int PreparePrivateFolder(const QByteArray& aFolder)
{
    if (::mkdir(aFolder.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat info;
    if (::lstat(aFolder.constData(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 022) != 0)
        return EACCES;
    return 0;
}

// A socket file nobody answers on is left over from a run that ended without
// cleaning up; a live one belongs to a running server and is kept.
int RemoveStaleSocket(const QByteArray& aPath, const sockaddr_un& aAddress)
{
    struct stat info;
    if (::lstat(aPath.constData(), &info) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISSOCK(info.st_mode))
        return EEXIST;
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0)
        return errno;
    const int result =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&aAddress), sizeof(aAddress));
    const int error = errno;
    ::close(probe);
    if (result == 0 || error == EAGAIN || error == EINPROGRESS)
        return EADDRINUSE;
    if (::unlink(aPath.constData()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

class TUnixConnection : public TBufferedPipeConnection
{
public:
    TUnixConnection(int aHandle, PStopSignal aStop)
        : TBufferedPipeConnection(std::move(aStop)), FHandle(aHandle)
    {
    }
    ~TUnixConnection() override { Close(); }

    bool WriteAll(const void* aSource, int64_t aSize) override
    {
        return WriteAll(aSource, aSize, nullptr, 0);
    }

    bool WriteAll(const void* aFirst, int64_t aFirstSize, const void* aSecond,
                  int64_t aSecondSize) override
    {
        if (FHandle < 0 || Stopped())
            return false;
        iovec parts[2] = {{const_cast<void*>(aFirst), static_cast<size_t>(aFirstSize)},
                          {const_cast<void*>(aSecond), static_cast<size_t>(aSecondSize)}};
        int first = 0;
        while (first < 2) {
            if (parts[first].iov_len == 0) {
                ++first;
                continue;
            }
            msghdr message{};
            message.msg_iov = parts + first;
            message.msg_iovlen = static_cast<size_t>(2 - first);
            const ssize_t sent = ::sendmsg(FHandle, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR)
                    continue;
                if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(POLLOUT))
                    continue;
                return false;
            }
            size_t rest = static_cast<size_t>(sent);
            while (first < 2 && rest >= parts[first].iov_len) {
                rest -= parts[first].iov_len;
                ++first;
            }
            if (first < 2) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + rest;
                parts[first].iov_len -= rest;
            }
        }
        return true;
    }

    // What was written already sits in the peer's receive queue and stays
    // readable after the close, so there is nothing to push out.
    void Flush() override {}

    void Close() override
    {
        if (FHandle < 0)
            return;
        ::shutdown(FHandle, SHUT_RDWR);
        ::close(FHandle);
        FHandle = -1;
    }

    bool IsOpen() const override { return FHandle >= 0; }

private:
    // Waits until the socket is ready for aEvents; fails on the stop signal and
    // when the deadline passes first.
    bool WaitFor(short aEvents)
    {
        pollfd fds[2] = {{FHandle, aEvents, 0}, {FStop ? FStop->Handle() : -1, POLLIN, 0}};
        for (;;) {
            int timeout = -1;
            if (const std::optional<int64_t> left = MillisecondsLeft()) {
                if (*left <= 0)
                    return false;
                timeout = static_cast<int>(std::min<int64_t>(*left, 1 << 30));
            }
            const int ready = ::poll(fds, FStop ? 2 : 1, timeout);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready < 0 || (FStop && fds[1].revents != 0))
                return false;
            return true;
        }
    }

    int64_t Receive(void* aTarget, int64_t aMax) override
    {
        for (;;) {
            const ssize_t got = ::recv(FHandle, aTarget, static_cast<size_t>(aMax), MSG_DONTWAIT);
            if (got >= 0)
                return got;
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(POLLIN))
                continue;
            return -1;
        }
    }

    int FHandle;
};

class TUnixListener : public IPipeListener
{
public:
    TUnixListener(int aHandle, QByteArray aPath, ino_t aInode, PStopSignal aStop)
        : FHandle(aHandle), FPath(std::move(aPath)), FInode(aInode), FStop(std::move(aStop))
    {
    }
    ~TUnixListener() override { Close(); }

    TAcceptResult Accept(int aSliceMs, int& aHandle, int& aErrorCode) override
    {
        if (FHandle < 0)
            return TAcceptResult::arStopped;
        pollfd fds[2] = {{FHandle, POLLIN, 0}, {FStop ? FStop->Handle() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, FStop ? 2 : 1, aSliceMs);
        if (FStop && (FStop->IsSet() || fds[1].revents != 0))
            return TAcceptResult::arStopped;
        if (ready < 0)
            return errno == EINTR ? TAcceptResult::arIdle : Failed(errno, aErrorCode);
        if (ready == 0)
            return TAcceptResult::arIdle;
        // A socket that reports a hang-up or an error can accept no one any
        // more; accepting would only find nothing, again and again at once.
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            int error = 0;
            socklen_t length = sizeof(error);
            if (::getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error == 0)
                error = (fds[0].revents & POLLNVAL) ? EBADF : EINVAL;
            return Failed(error, aErrorCode);
        }

        const int client = ::accept4(FHandle, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            switch (errno) {
            case EAGAIN:
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                return TAcceptResult::arIdle;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                // Out of resources for now: the waiting client stays queued, so
                // pause instead of spinning on a socket that stays readable.
                std::this_thread::sleep_for(std::chrono::milliseconds(aSliceMs));
                return TAcceptResult::arRetry;
            default:
                return Failed(errno, aErrorCode);
            }
        }
        // Only the same user may talk to the program. Root is let in as well:
        // it could take over the user's processes anyway, and the updater
        // runs elevated.
        ucred peer{};
        socklen_t length = sizeof(peer);
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            (peer.uid != ::geteuid() && peer.uid != 0)) {
            ::close(client);
            return TAcceptResult::arRetry;
        }
        aHandle = client;
        return TAcceptResult::arConnected;
    }

    void Close() override
    {
        if (FHandle < 0)
            return;
        ::close(FHandle);
        FHandle = -1;
        // Remove the name only while it is still our socket, not one that a
        // newer server has put in its place.
        struct stat info;
        if (::lstat(FPath.constData(), &info) == 0 && info.st_ino == FInode)
            ::unlink(FPath.constData());
    }

private:
    TAcceptResult Failed(int aError, int& aErrorCode)
    {
        aErrorCode = aError;
        return TAcceptResult::arFailed;
    }

    int FHandle;
    QByteArray FPath;
    ino_t FInode;
    PStopSignal FStop;
};

} // namespace

TStopSignal::TStopSignal() : FHandle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TStopSignal::~TStopSignal()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

void TStopSignal::Set()
{
    // The event is never read, so it stays readable and wakes every poll on it.
    FSet.store(true, std::memory_order_release);
    const uint64_t one = 1;
    if (FHandle >= 0) [[maybe_unused]]
        ssize_t written = ::write(FHandle, &one, sizeof(one));
}

QString PipePathOf(const QString& aPipeName)
{
    QString name = aPipeName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QLatin1Char('/') + name;
    return QStringLiteral("/tmp/%1-%2/%1").arg(name).arg(::geteuid());
}

PPipeListener CreatePipeListener(const QString& aPipePath, PStopSignal aStop, int& aErrorCode)
{
    const QByteArray path = QFile::encodeName(aPipePath);
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        aErrorCode = ENAMETOOLONG;
        return nullptr;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(aPipePath).absolutePath());
    if ((aErrorCode = PreparePrivateFolder(folder)) != 0)
        return nullptr;
    if ((aErrorCode = RemoveStaleSocket(path, address)) != 0)
        return nullptr;

    const int handle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (handle < 0) {
        aErrorCode = errno;
        return nullptr;
    }
    struct stat info;
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::chmod(path.constData(), 0600) != 0 || ::listen(handle, SOMAXCONN) != 0 ||
        ::lstat(path.constData(), &info) != 0) {
        aErrorCode = errno;
        ::close(handle);
        return nullptr;
    }
    aErrorCode = 0;
    return std::make_unique<TUnixListener>(handle, path, info.st_ino, std::move(aStop));
}

PPipeConnection AdoptPipeConnection(int aHandle, PStopSignal aStop)
{
    return std::make_unique<TUnixConnection>(aHandle, std::move(aStop));
}

PPipeConnection ConnectPipe(const QString& aPipePath, int aTimeoutMs, int& aErrorCode)
{
    sockaddr_un address;
    if (!FillAddress(QFile::encodeName(aPipePath), address)) {
        aErrorCode = ENAMETOOLONG;
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    for (;;) {
        const int handle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (handle < 0) {
            aErrorCode = errno;
            return nullptr;
        }
        if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            aErrorCode = 0;
            return AdoptPipeConnection(handle, nullptr);
        }
        aErrorCode = errno;
        ::close(handle);
        // Not there yet, or its queue is full for a moment: try again until the time is up.
        const bool worthRetry =
            aErrorCode == ENOENT || aErrorCode == ECONNREFUSED || aErrorCode == EAGAIN;
        if (!worthRetry || std::chrono::steady_clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool CreatePipeHandlePair(int& aFirst, int& aSecond)
{
    int handles[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, handles) != 0)
        return false;
    aFirst = handles[0];
    aSecond = handles[1];
    return true;
}

std::pair<PPipeConnection, PPipeConnection> CreatePipePair()
{
    int first = -1;
    int second = -1;
    if (!CreatePipeHandlePair(first, second))
        return {};
    return {AdoptPipeConnection(first, nullptr), AdoptPipeConnection(second, nullptr)};
}
