// The instance lock on Linux: an exclusive flock on a file beside the
// channel's socket, in the same folder of the user's own. The kernel drops
// the lock with the last descriptor, so an instance that crashed or was
// killed holds nothing; and the descriptor is closed on exec, so a program
// that the instance starts (the updater) does not keep it.

#include "cli/tasks_instance.h"

#include "ipc/kvd_pipe.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TUnixInstanceLock : public TInstanceLock
{
public:
    explicit TUnixInstanceLock(int aHandle) : FHandle(aHandle) {}
    ~TUnixInstanceLock() override { ::close(FHandle); }

private:
    int FHandle;
};

QString SystemError(int aError)
{
    return QString::fromLocal8Bit(std::strerror(aError));
}

} // namespace

std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const QString& aChannel, TState& aState,
                                                         QString& aError)
{
    aState = TState::Failed;
    const QString socket = PipePathOf(aChannel);
    const QString folder = QFileInfo(socket).absolutePath();
    const QByteArray folderName = QFile::encodeName(folder);
    // The folder rules of the pipe: made for the user alone when missing,
    // and refused when another user owns it or may write in it, since
    // whoever may write there could put a socket of theirs in our place.
    if (::mkdir(folderName.constData(), 0700) != 0 && errno != EEXIST) {
        aError = QStringLiteral("the folder %1 cannot be made: %2").arg(folder, SystemError(errno));
        return nullptr;
    }
    struct stat info;
    if (::lstat(folderName.constData(), &info) != 0) {
        aError = QStringLiteral("the folder %1 cannot be read: %2").arg(folder, SystemError(errno));
        return nullptr;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 022) != 0) {
        aError = QStringLiteral("the folder %1 is not the user's alone").arg(folder);
        return nullptr;
    }

    const QString file = socket + QStringLiteral(".lock");
    const int handle = ::open(QFile::encodeName(file).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0) {
        aError =
            QStringLiteral("the lock file %1 cannot be opened: %2").arg(file, SystemError(errno));
        return nullptr;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(handle);
        if (error == EWOULDBLOCK) {
            aState = TState::Held;
            return nullptr;
        }
        aError =
            QStringLiteral("the lock file %1 cannot be locked: %2").arg(file, SystemError(error));
        return nullptr;
    }
    aState = TState::Acquired;
    return std::make_unique<TUnixInstanceLock>(handle);
}
