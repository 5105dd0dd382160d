#pragma once

// Where the sync password is kept: the desktop's keyring (the Secret Service
// on Linux, through QtKeychain), never the settings file. The keyring answers
// asynchronously, so a read or write hands its outcome to a callback on the
// GUI thread later and never blocks that thread. Tests put a store of their
// own in its place.

#include <QString>
#include <functional>
#include <memory>

class QObject;

struct TSyncPasswordRead
{
    enum class TStatus
    {
        Found,
        // The keyring answers but holds no password under the key.
        NotFound,
        // No keyring answers (none installed, no session bus, locked away):
        // the password is asked for and kept in memory.
        NoKeyring
    };
    TStatus status = TStatus::NoKeyring;
    QString password;
    // Why no keyring answered, in words.
    QString error;
};

class ItasksPasswordStore
{
public:
    using TReadDone = std::function<void(const TSyncPasswordRead&)>;
    // True when the keyring took the password; otherwise the reason.
    using TWriteDone = std::function<void(bool aStored, const QString& aError)>;

    virtual ~ItasksPasswordStore() = default;
    // aDone runs later on the calling thread, never inside the call, and not
    // at all once aContext is destroyed.
    virtual void Read(const QString& aKey, QObject* aContext, TReadDone aDone) = 0;
    virtual void Write(const QString& aKey, const QString& aPassword, QObject* aContext,
                       TWriteDone aDone) = 0;
};

// The desktop's keyring where the build has one; otherwise a store that
// always answers that no keyring is there.
std::shared_ptr<ItasksPasswordStore> CreateKeyringPasswordStore();
