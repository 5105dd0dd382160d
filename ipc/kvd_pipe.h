#pragma once

// The platform's local, named, duplex byte-stream endpoint behind the pipe
// server and client. On Linux it is a Unix-domain stream socket (mode 0600) in
// a folder only the user can enter; peers of the same user id, and root (which
// the elevated updater runs as), are accepted. A Windows named-pipe
// implementation of the same interface can sit beside it. The byte stream on
// it (frames, closing mark) is the same on every platform.

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

// A signal that, once set, stays set and wakes every wait on the endpoint
// that was given it (the listener's and every connection's). An eventfd on Linux.
class TStopSignal
{
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;

    void Set();
    bool IsSet() const { return FSet.load(std::memory_order_acquire); }
    // The waitable handle (a file descriptor on Linux).
    int Handle() const { return FHandle; }

private:
    int FHandle = -1;
    std::atomic<bool> FSet{false};
};
using PStopSignal = std::shared_ptr<TStopSignal>;

// One connected end. Reads and writes repeat short transfers until the field is
// whole, and fail when the other end closes, on an error, when the stop signal
// is set, or when the deadline has passed. Used by one thread at a time.
class IPipeConnection
{
public:
    virtual ~IPipeConnection() = default;
    // From now on, a read or write that has to wait for the other end fails
    // once aMilliseconds have passed from this call; what has already arrived
    // can still be read. A negative value lifts the limit (the default).
    virtual void SetDeadline(int aMilliseconds) = 0;
    // Reads exactly aSize bytes through ReadSome; false when they cannot all arrive.
    bool ReadExact(void* aTarget, int64_t aSize)
    {
        char* target = static_cast<char*>(aTarget);
        while (aSize > 0) {
            const int64_t got = ReadSome(target, aSize);
            if (got <= 0)
                return false;
            target += got;
            aSize -= got;
        }
        return true;
    }
    // Reads what is there, at least 1 and at most aMax bytes; 0 at the end of the
    // stream, -1 on failure.
    virtual int64_t ReadSome(void* aTarget, int64_t aMax) = 0;
    // Writes all aSize bytes; false when they cannot.
    virtual bool WriteAll(const void* aSource, int64_t aSize) = 0;
    // Writes two pieces back to back, in one transfer where the platform allows.
    virtual bool WriteAll(const void* aFirst, int64_t aFirstSize, const void* aSecond,
                          int64_t aSecondSize) = 0;
    // Makes everything written readable by the other end.
    virtual void Flush() = 0;
    // Disconnects and closes the handle; harmless when already closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};
using PPipeConnection = std::unique_ptr<IPipeConnection>;

enum class TAcceptResult
{
    arConnected, // a client is connected; its handle is given
    arIdle,      // the time slice passed with no client
    arStopped,   // the stop signal is set
    arRetry,     // this client could not be taken (e.g. another user); go on
    arFailed,    // the endpoint cannot accept any more; the error code is given
};

// The listening endpoint of one pipe name.
class IPipeListener
{
public:
    virtual ~IPipeListener() = default;
    // Waits up to aSliceMs for a client or the stop signal.
    virtual TAcceptResult Accept(int aSliceMs, int& aHandle, int& aErrorCode) = 0;
    // Stops accepting and removes the endpoint's name.
    virtual void Close() = 0;
};
using PPipeListener = std::unique_ptr<IPipeListener>;

// Where the endpoint of aPipeName lives: $XDG_RUNTIME_DIR/NAME, or /tmp/NAME-UID/NAME.
QString PipePathOf(const QString& aPipeName);
// Creates the endpoint at aPipePath (its folder too, mode 0700); a stale endpoint
// that nobody answers on is replaced. nullptr when it cannot, with aErrorCode set.
PPipeListener CreatePipeListener(const QString& aPipePath, PStopSignal aStop, int& aErrorCode);
// Takes over a connected handle from Accept; the stop signal may be null.
PPipeConnection AdoptPipeConnection(int aHandle, PStopSignal aStop);
// Connects to the endpoint at aPipePath, trying for up to aTimeoutMs while it is
// not there yet. nullptr when it cannot, with aErrorCode set.
PPipeConnection ConnectPipe(const QString& aPipePath, int aTimeoutMs, int& aErrorCode);
// Two connected ends, for tests and fuzzing.
std::pair<PPipeConnection, PPipeConnection> CreatePipePair();
// The raw handles of a connected pair (socketpair on Linux); false on failure.
bool CreatePipeHandlePair(int& aFirst, int& aSecond);
