// The instance lock on Windows: a named mutex in the session's namespace,
// named by a digest of the channel (a mutex name may hold no backslash).
// Its existence is the lock: the system destroys it with the last handle,
// so an instance that crashed or was killed holds nothing, and the handle is
// not inherited, so a program that the instance starts (the updater) does
// not keep it.

#include "cli/tasks_instance.h"

#include <QCryptographicHash>

#include <windows.h>

namespace {

class TWinInstanceLock : public TInstanceLock
{
public:
    explicit TWinInstanceLock(HANDLE aHandle) : FHandle(aHandle) {}
    ~TWinInstanceLock() override { CloseHandle(FHandle); }

private:
    HANDLE FHandle;
};

} // namespace

std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const QString& aChannel, TState& aState,
                                                         QString& aError)
{
    aState = TState::Failed;
    aError.clear();
    const QByteArray digest =
        QCryptographicHash::hash(aChannel.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QString name = QStringLiteral("Local\\io.github.ulmora.Ulmora-") + QLatin1String(digest);
    HANDLE handle = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.utf16()));
    const DWORD error = GetLastError();
    if (handle == nullptr) {
        // Another user's object of the same name cannot be opened; it holds
        // the name as surely as an instance of ours would.
        if (error == ERROR_ACCESS_DENIED) {
            aState = TState::Held;
            return nullptr;
        }
        aError = QStringLiteral("the lock %1 cannot be made: error %2").arg(name).arg(error);
        return nullptr;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        aState = TState::Held;
        return nullptr;
    }
    aState = TState::Acquired;
    return std::make_unique<TWinInstanceLock>(handle);
}
