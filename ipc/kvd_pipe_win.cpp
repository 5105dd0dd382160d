// The pipe endpoint on Windows: the named pipe \\.\pipe\NAME in byte mode,
// duplex, with unlimited instances. Every instance carries a security
// descriptor that admits only the user who runs the program, SYSTEM and the
// Administrators (the updater runs elevated), and remote clients are
// rejected. All waits are overlapped and run in slices of at most 100 ms
// together with the stop event, so that Stop never waits on a client.
//
// A handle travels through the interface as an int: Windows gives handles
// whose value fits in 32 bits (sign-extended back), so that 32- and 64-bit
// processes can share them.

#include "ipc/kvd_pipe_win.h"
#include "ipc/kvd_pipe.h"
#include "ipc/kvd_pipe_buffered.h"

#include <QAtomicInt>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

constexpr DWORD kBufferSize = 65536;
// The longest single wait; the stop event and the deadline are checked at
// least this often.
constexpr DWORD kSliceMs = 100;
// Pieces up to this size are joined so that a frame goes out in one write.
constexpr int64_t kJoinLimit = 65536;
const QString kPipePrefix = QStringLiteral("\\\\.\\pipe\\");

HANDLE ToHandle(int aHandle)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(aHandle));
}

int FromHandle(HANDLE aHandle)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(aHandle));
}

std::wstring Wide(const QString& aText)
{
    return aText.toStdWString();
}

// A security descriptor built from SDDL, freed with the object.
class TSecurity
{
public:
    TSecurity()
    {
        const std::wstring sddl = Wide(PipeSecuritySddl(CurrentUserSid()));
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                    &FDescriptor, nullptr))
            FDescriptor = nullptr;
        FAttributes.nLength = sizeof(FAttributes);
        FAttributes.lpSecurityDescriptor = FDescriptor;
        FAttributes.bInheritHandle = FALSE;
    }
    ~TSecurity()
    {
        if (FDescriptor)
            ::LocalFree(FDescriptor);
    }
    TSecurity(const TSecurity&) = delete;
    TSecurity& operator=(const TSecurity&) = delete;

    bool IsValid() const { return FDescriptor != nullptr; }
    SECURITY_ATTRIBUTES* Attributes() { return &FAttributes; }

private:
    PSECURITY_DESCRIPTOR FDescriptor = nullptr;
    SECURITY_ATTRIBUTES FAttributes{};
};

// One instance of the pipe, ready for ConnectNamedPipe; INVALID_HANDLE_VALUE
// when it cannot be made (GetLastError tells why). Only the first instance of
// a server claims the name: when another process holds it already, that one
// is a running server and the name stays its own.
HANDLE CreateInstance(const std::wstring& aPath, TSecurity& aSecurity, bool aFirst)
{
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (aFirst)
        openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    return ::CreateNamedPipeW(
        aPath.c_str(), openMode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, aSecurity.Attributes());
}

bool IsServerEnd(HANDLE aHandle)
{
    DWORD flags = 0;
    return ::GetNamedPipeInfo(aHandle, &flags, nullptr, nullptr, nullptr) &&
           (flags & PIPE_SERVER_END) != 0;
}

// An overlapped operation that has not completed is cancelled, and its end
// awaited, before its buffer and OVERLAPPED go away.
void CancelAndSettle(HANDLE aHandle, OVERLAPPED& aOverlapped)
{
    ::CancelIoEx(aHandle, &aOverlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(aHandle, &aOverlapped, &ignored, TRUE);
}

bool IsEndOfStream(DWORD aError)
{
    return aError == ERROR_BROKEN_PIPE || aError == ERROR_PIPE_NOT_CONNECTED ||
           aError == ERROR_NO_DATA;
}

class TWinConnection : public TBufferedPipeConnection
{
public:
    TWinConnection(HANDLE aHandle, PStopSignal aStop)
        : TBufferedPipeConnection(std::move(aStop)), FHandle(aHandle),
          FEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), FServerEnd(IsServerEnd(aHandle))
    {
    }
    ~TWinConnection() override
    {
        Close();
        if (FEvent)
            ::CloseHandle(FEvent);
    }

    bool WriteAll(const void* aSource, int64_t aSize) override
    {
        return Send(static_cast<const char*>(aSource), aSize);
    }

    bool WriteAll(const void* aFirst, int64_t aFirstSize, const void* aSecond,
                  int64_t aSecondSize) override
    {
        if (aFirstSize + aSecondSize <= kJoinLimit) {
            std::vector<char> joined(static_cast<size_t>(aFirstSize + aSecondSize));
            if (aFirstSize > 0)
                std::memcpy(joined.data(), aFirst, static_cast<size_t>(aFirstSize));
            if (aSecondSize > 0)
                std::memcpy(joined.data() + aFirstSize, aSecond, static_cast<size_t>(aSecondSize));
            return Send(joined.data(), static_cast<int64_t>(joined.size()));
        }
        return Send(static_cast<const char*>(aFirst), aFirstSize) &&
               Send(static_cast<const char*>(aSecond), aSecondSize);
    }

    // A completed write sits in the pipe, and the other end can still read it
    // after this end is closed (Close does not disconnect after a normal
    // end), so there is nothing to push out. FlushFileBuffers would wait,
    // without a time limit, for a client that does not read.
    void Flush() override {}

    void Close() override
    {
        if (FHandle == INVALID_HANDLE_VALUE)
            return;
        // A connection ended by the stop signal or the time limit is cut off
        // at once, discarding what the client has not read; otherwise the
        // client may still read the last reply before it finds the end.
        if (FServerEnd && (FCutOff || Stopped()))
            ::DisconnectNamedPipe(FHandle);
        ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return FHandle != INVALID_HANDLE_VALUE; }

private:
    // Waits for the overlapped operation in slices, watching the stop signal
    // and the deadline. The bytes moved, or -1 (the operation cancelled) when
    // the stop signal or the deadline came first; aError is set on failure.
    int64_t Await(OVERLAPPED& aOverlapped, DWORD& aError)
    {
        HANDLE events[2] = {FEvent, FStop ? ToHandle(FStop->Handle()) : nullptr};
        const DWORD count = FStop ? 2 : 1;
        for (;;) {
            DWORD slice = kSliceMs;
            if (const std::optional<int64_t> left = MillisecondsLeft()) {
                if (*left <= 0) {
                    CancelAndSettle(FHandle, aOverlapped);
                    FCutOff = true;
                    aError = ERROR_TIMEOUT;
                    return -1;
                }
                slice = static_cast<DWORD>(std::min<int64_t>(*left, kSliceMs));
            }
            const DWORD ready = ::WaitForMultipleObjects(count, events, FALSE, slice);
            if (ready == WAIT_OBJECT_0) {
                DWORD moved = 0;
                if (::GetOverlappedResult(FHandle, &aOverlapped, &moved, FALSE))
                    return moved;
                aError = ::GetLastError();
                return -1;
            }
            if (ready == WAIT_TIMEOUT)
                continue;
            // The stop signal, or a wait that failed.
            CancelAndSettle(FHandle, aOverlapped);
            FCutOff = true;
            aError = ready == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : ::GetLastError();
            return -1;
        }
    }

    int64_t Receive(void* aTarget, int64_t aMax) override
    {
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(aMax, 1 << 30));
        for (;;) {
            if (Stopped())
                return -1;
            OVERLAPPED overlapped{};
            overlapped.hEvent = FEvent;
            ::ResetEvent(FEvent);
            DWORD error = ERROR_SUCCESS;
            int64_t got = -1;
            if (::ReadFile(FHandle, aTarget, want, nullptr, &overlapped)) {
                DWORD moved = 0;
                if (::GetOverlappedResult(FHandle, &overlapped, &moved, FALSE))
                    got = moved;
                else
                    error = ::GetLastError();
            } else {
                error = ::GetLastError();
                if (error == ERROR_IO_PENDING) {
                    error = ERROR_SUCCESS;
                    got = Await(overlapped, error);
                }
            }
            if (got > 0)
                return got;
            if (got < 0)
                return IsEndOfStream(error) ? 0 : -1;
            // A write of zero bytes by the other end arrives as an empty read.
        }
    }

    bool Send(const char* aSource, int64_t aSize)
    {
        while (aSize > 0) {
            if (!IsOpen() || Stopped())
                return false;
            const DWORD piece = static_cast<DWORD>(std::min<int64_t>(aSize, 1 << 30));
            OVERLAPPED overlapped{};
            overlapped.hEvent = FEvent;
            ::ResetEvent(FEvent);
            DWORD error = ERROR_SUCCESS;
            int64_t sent = -1;
            if (::WriteFile(FHandle, aSource, piece, nullptr, &overlapped)) {
                DWORD moved = 0;
                if (::GetOverlappedResult(FHandle, &overlapped, &moved, FALSE))
                    sent = moved;
            } else if (::GetLastError() == ERROR_IO_PENDING) {
                sent = Await(overlapped, error);
            }
            if (sent <= 0)
                return false;
            aSource += sent;
            aSize -= sent;
        }
        return true;
    }

    HANDLE FHandle;
    HANDLE FEvent;
    bool FServerEnd;
    bool FCutOff = false;
};

class TWinListener : public IPipeListener
{
public:
    TWinListener(std::wstring aPath, std::unique_ptr<TSecurity> aSecurity, HANDLE aFirst,
                 PStopSignal aStop)
        : FPath(std::move(aPath)), FSecurity(std::move(aSecurity)), FPending(aFirst),
          FStop(std::move(aStop)), FEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~TWinListener() override
    {
        Close();
        if (FEvent)
            ::CloseHandle(FEvent);
    }

    // One instance waits for a client at a time (ConnectNamedPipe, overlapped).
    // Between calls it keeps waiting, so a client arriving then is connected
    // and taken at the next call; more clients wait for an instance
    // (WaitNamedPipe) until a connection ends and the listener calls again.
    TAcceptResult Accept(int aSliceMs, int& aHandle, int& aErrorCode) override
    {
        if (FClosed || (FStop && FStop->IsSet()))
            return TAcceptResult::arStopped;
        if (FPending == INVALID_HANDLE_VALUE) {
            FPending = CreateInstance(FPath, *FSecurity, false);
            if (FPending == INVALID_HANDLE_VALUE) {
                const DWORD error = ::GetLastError();
                // Out of resources for now: pause instead of spinning.
                if (error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_NOT_ENOUGH_MEMORY ||
                    error == ERROR_NOT_ENOUGH_QUOTA) {
                    ::Sleep(static_cast<DWORD>(std::max(aSliceMs, 0)));
                    return TAcceptResult::arRetry;
                }
                return Failed(error, aErrorCode);
            }
        }
        if (!FConnecting) {
            FOverlapped = OVERLAPPED{};
            FOverlapped.hEvent = FEvent;
            ::ResetEvent(FEvent);
            if (!::ConnectNamedPipe(FPending, &FOverlapped)) {
                const DWORD error = ::GetLastError();
                switch (error) {
                case ERROR_IO_PENDING:
                    FConnecting = true;
                    break;
                case ERROR_PIPE_CONNECTED: // the client came before the call
                    return Connected(aHandle);
                case ERROR_NO_DATA: // the client came and left already
                    Drop();
                    return TAcceptResult::arRetry;
                default:
                    return Failed(error, aErrorCode);
                }
            } else {
                return Connected(aHandle);
            }
        }

        HANDLE events[2] = {FEvent, FStop ? ToHandle(FStop->Handle()) : nullptr};
        const DWORD ready = ::WaitForMultipleObjects(FStop ? 2 : 1, events, FALSE,
                                                     static_cast<DWORD>(std::max(aSliceMs, 0)));
        if (ready == WAIT_TIMEOUT)
            return TAcceptResult::arIdle;
        if (ready == WAIT_OBJECT_0 + 1)
            return TAcceptResult::arStopped;
        if (ready != WAIT_OBJECT_0)
            return Failed(::GetLastError(), aErrorCode);
        FConnecting = false;
        DWORD ignored = 0;
        if (::GetOverlappedResult(FPending, &FOverlapped, &ignored, FALSE))
            return Connected(aHandle);
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            return Connected(aHandle);
        if (IsEndOfStream(error) || error == ERROR_OPERATION_ABORTED) {
            Drop();
            return TAcceptResult::arRetry;
        }
        return Failed(error, aErrorCode);
    }

    // The waiting instance goes; with the last instance the name goes too.
    void Close() override
    {
        if (FClosed)
            return;
        FClosed = true;
        Drop();
    }

private:
    TAcceptResult Connected(int& aHandle)
    {
        aHandle = FromHandle(FPending);
        FPending = INVALID_HANDLE_VALUE;
        FConnecting = false;
        return TAcceptResult::arConnected;
    }

    TAcceptResult Failed(DWORD aError, int& aErrorCode)
    {
        aErrorCode = static_cast<int>(aError);
        return TAcceptResult::arFailed;
    }

    void Drop()
    {
        if (FPending == INVALID_HANDLE_VALUE)
            return;
        if (FConnecting)
            CancelAndSettle(FPending, FOverlapped);
        FConnecting = false;
        ::DisconnectNamedPipe(FPending);
        ::CloseHandle(FPending);
        FPending = INVALID_HANDLE_VALUE;
    }

    std::wstring FPath;
    std::unique_ptr<TSecurity> FSecurity;
    HANDLE FPending;
    PStopSignal FStop;
    HANDLE FEvent;
    OVERLAPPED FOverlapped{};
    bool FConnecting = false;
    bool FClosed = false;
};

} // namespace

QString CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return QString();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    QString result;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR text = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                     &text)) {
            result = QString::fromWCharArray(text);
            ::LocalFree(text);
        }
    }
    ::CloseHandle(token);
    return result;
}

QString PipeSecuritySddl(const QString& aUserSid)
{
    // D:P a protected list, nothing inherited; A allow; GA generic all;
    // SY local system; BA built-in administrators.
    return QStringLiteral("D:P(A;;GA;;;%1)(A;;GA;;;SY)(A;;GA;;;BA)").arg(aUserSid);
}

QString PipeSecurityOf(int aHandle)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(ToHandle(aHandle), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return QString();
    QString result;
    LPWSTR text = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = QString::fromWCharArray(text);
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return result;
}

TStopSignal::TStopSignal() : FHandle(FromHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)))
{
    if (FHandle == 0)
        FHandle = -1;
}

TStopSignal::~TStopSignal()
{
    if (FHandle != -1)
        ::CloseHandle(ToHandle(FHandle));
}

void TStopSignal::Set()
{
    // A manual-reset event: once set it stays set and wakes every wait on it.
    FSet.store(true, std::memory_order_release);
    if (FHandle != -1)
        ::SetEvent(ToHandle(FHandle));
}

QString PipePathOf(const QString& aPipeName)
{
    if (aPipeName.startsWith(kPipePrefix, Qt::CaseInsensitive))
        return aPipeName;
    QString name = aPipeName;
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return kPipePrefix + name;
}

PPipeListener CreatePipeListener(const QString& aPipePath, PStopSignal aStop, int& aErrorCode)
{
    auto security = std::make_unique<TSecurity>();
    if (!security->IsValid()) {
        aErrorCode = static_cast<int>(::GetLastError());
        return nullptr;
    }
    std::wstring path = Wide(aPipePath);
    const HANDLE first = CreateInstance(path, *security, true);
    if (first == INVALID_HANDLE_VALUE) {
        aErrorCode = static_cast<int>(::GetLastError());
        return nullptr;
    }
    aErrorCode = 0;
    return std::make_unique<TWinListener>(std::move(path), std::move(security), first,
                                          std::move(aStop));
}

PPipeConnection AdoptPipeConnection(int aHandle, PStopSignal aStop)
{
    return std::make_unique<TWinConnection>(ToHandle(aHandle), std::move(aStop));
}

PPipeConnection ConnectPipe(const QString& aPipePath, int aTimeoutMs, int& aErrorCode)
{
    const std::wstring path = Wide(aPipePath);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    for (;;) {
        // The server may identify the client but not act as it.
        const HANDLE handle = ::CreateFileW(
            path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            aErrorCode = 0;
            return AdoptPipeConnection(FromHandle(handle), nullptr);
        }
        aErrorCode = static_cast<int>(::GetLastError());
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return nullptr;
        if (aErrorCode == ERROR_PIPE_BUSY) {
            // Every instance is taken: wait for one, in slices, and race the
            // other waiting clients for it.
            ::WaitNamedPipeW(path.c_str(),
                             static_cast<DWORD>(std::min<int64_t>(left.count(), kSliceMs)));
        } else if (aErrorCode == ERROR_FILE_NOT_FOUND) {
            // Not there yet.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            return nullptr;
        }
    }
}

bool CreatePipeHandlePair(int& aFirst, int& aSecond)
{
    // A pipe of its own, with a name nobody else uses and a single instance.
    static QAtomicInt counter;
    const std::wstring path = Wide(QStringLiteral("\\\\.\\pipe\\ulmora_pair_%1_%2")
                                       .arg(::GetCurrentProcessId())
                                       .arg(counter.fetchAndAddRelaxed(1)));
    TSecurity security;
    if (!security.IsValid())
        return false;
    const HANDLE server = ::CreateNamedPipeW(
        path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kBufferSize, kBufferSize, 0, security.Attributes());
    if (server == INVALID_HANDLE_VALUE)
        return false;
    const HANDLE client = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
        ::CloseHandle(server);
        return false;
    }
    // The client is connected already; ConnectNamedPipe only confirms it.
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool connected = ::ConnectNamedPipe(server, &overlapped) != FALSE;
    if (!connected) {
        const DWORD error = ::GetLastError();
        DWORD ignored = 0;
        connected = error == ERROR_PIPE_CONNECTED ||
                    (error == ERROR_IO_PENDING &&
                     ::GetOverlappedResult(server, &overlapped, &ignored, TRUE));
    }
    if (overlapped.hEvent)
        ::CloseHandle(overlapped.hEvent);
    if (!connected) {
        ::CloseHandle(client);
        ::CloseHandle(server);
        return false;
    }
    aFirst = FromHandle(server);
    aSecond = FromHandle(client);
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
