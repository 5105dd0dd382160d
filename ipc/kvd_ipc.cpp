#include "ipc/kvd_ipc.h"

#include "ipc/kvd_taskpool.h"
#include "util/tasks_log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int64_t ChunkSize = 65536;
constexpr int ListenSliceMs = 100;
constexpr int StartWaitMs = 3000;
constexpr int StopWaitMs = 3000;

// Counts the connections being served, so that the listener stops accepting at
// the ceiling. The listener takes a slot before it hands a connection over; the
// task that serves it gives the slot back when the connection has ended.
class TConnectionSlots
{
public:
    explicit TConnectionSlots(int aMax) : FMax(aMax) {}

    // Waits up to aMilliseconds for a free slot; true when there is one.
    bool WaitFree(int aMilliseconds)
    {
        std::unique_lock<std::mutex> guard(FLock);
        return FSignal.wait_for(guard, std::chrono::milliseconds(aMilliseconds),
                                [this] { return FMax <= 0 || FCount < FMax; });
    }

    void Take()
    {
        std::lock_guard<std::mutex> guard(FLock);
        ++FCount;
    }

    void Free()
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            --FCount;
        }
        FSignal.notify_all();
    }

    int64_t Count() const
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FCount;
    }

private:
    const int FMax;
    mutable std::mutex FLock;
    std::condition_variable FSignal;
    int64_t FCount = 0;
};

// Gives a connection's slot back when serving it ends, however it ends.
class TSlotGuard
{
public:
    explicit TSlotGuard(TConnectionSlots& aSlots) : FSlots(aSlots) {}
    ~TSlotGuard() { FSlots.Free(); }
    TSlotGuard(const TSlotGuard&) = delete;
    TSlotGuard& operator=(const TSlotGuard&) = delete;

private:
    TConnectionSlots& FSlots;
};

} // namespace

int ReadFrame(IPipeConnection& aConnection, IMessageData& aMessage)
{
    char length[8];
    if (!aConnection.ReadExact(length, 8))
        return -1;
    const int64_t idLength = BytesToInt64(length);
    if (idLength == ClosingMark)
        return 0;
    // Lengths are checked before anything is allocated for them: a bad or
    // hostile frame costs the server nothing but this connection.
    if (idLength < 0 || idLength > MaxFrameIdBytes || idLength % 2 != 0)
        return -1;
    if (idLength > 0) {
        char id[MaxFrameIdBytes];
        if (!aConnection.ReadExact(id, idLength))
            return -1;
        aMessage.SetID(Utf16LeToText(id, idLength));
    } else {
        aMessage.SetID(QString());
    }

    if (!aConnection.ReadExact(length, 8))
        return -1;
    const int64_t bodyLength = BytesToInt64(length);
    if (bodyLength < 0 || bodyLength > MaxFrameBodyBytes)
        return -1;
    TMemoryStream& stream = aMessage.GetData().Stream();
    stream.Clear();
    char chunk[ChunkSize];
    for (int64_t received = 0; received < bodyLength;) {
        const int64_t got = aConnection.ReadSome(chunk, std::min(ChunkSize, bodyLength - received));
        if (got <= 0)
            return -1;
        stream.Write(chunk, got);
        received += got;
    }
    stream.Seek(0);
    aMessage.GetData().ResetIndex();
    return 1;
}

bool WriteFrame(IPipeConnection& aConnection, const IMessageData& aMessage)
{
    // The head (ID length, ID, body length) is the one part assembled in a
    // buffer of its own; the body goes out of the message's stream in chunks.
    const QByteArray id = TextToUtf16Le(aMessage.GetID());
    const QByteArray& body = aMessage.GetData().Stream().Bytes();
    QByteArray head;
    head.reserve(16 + id.size());
    head += Int64ToBytes(id.size());
    head += id;
    head += Int64ToBytes(body.size());

    const int64_t first = std::min<int64_t>(ChunkSize, body.size());
    if (!aConnection.WriteAll(head.constData(), head.size(), body.constData(), first))
        return false;
    for (int64_t sent = first; sent < body.size(); sent += ChunkSize) {
        if (!aConnection.WriteAll(body.constData() + sent,
                                  std::min<int64_t>(ChunkSize, body.size() - sent)))
            return false;
    }
    return true;
}

void ServeClient(IPipeConnection& aConnection, const TExecuteRequest& aHandler, int aRequestTimeout)
{
    for (;;) {
        // The whole frame must arrive in time, not just some byte of it, so a
        // client that trickles a frame is closed like a silent one.
        aConnection.SetDeadline(aRequestTimeout);
        TMessageData request;
        if (ReadFrame(aConnection, request) <= 0)
            break;
        TMessageData reply;
        bool handled = false;
        try {
            aHandler(request, reply);
            handled = true;
        } catch (...) {
            // The client learns of the failure by the connection closing
            // without a reply; the worker and the program go on.
        }
        reply.GetData().Stream().Seek(0);
        // A client that does not take its reply holds the task as long as a
        // silent one would: the reply gets the same time.
        aConnection.SetDeadline(aRequestTimeout);
        if (!handled || !WriteFrame(aConnection, reply))
            break;
    }
    aConnection.Flush();
    aConnection.Close();
}

// ---------------------------------------------------------------------------

// Accepts clients on the pipe and hands each connection to a pool task. It
// owns copies of everything it needs, so it can outlive a server that stopped
// waiting for it.
class TListeningThread : public std::enable_shared_from_this<TListeningThread>
{
public:
    TListeningThread(const QString& aPipePath, TExecuteRequest aHandler, int aPoolSize,
                     int aRequestTimeout, int aMaxConnections)
        : FPipePath(aPipePath), FHandler(std::move(aHandler)),
          FRequestTimeout(aRequestTimeout > 0 ? aRequestTimeout : -1),
          FStop(std::make_shared<TStopSignal>()),
          FSlots(std::make_shared<TConnectionSlots>(aMaxConnections)),
          FPool(std::make_shared<TTaskPool>(aPoolSize))
    {
        FPool->SetGrowAndShrink(true);
        FPool->StartWorkers();
    }

    ~TListeningThread() { ReleaseThread(FThread); }

    void Start()
    {
        FThread = std::thread([self = shared_from_this()] { self->Execute(); });
    }

    // Waits until the endpoint exists or the thread has ended; true for the first.
    bool WaitReady(int aMilliseconds)
    {
        std::unique_lock<std::mutex> guard(FLock);
        FSignal.wait_for(guard, std::chrono::milliseconds(aMilliseconds),
                         [this] { return FReady || FEnded; });
        return FReady;
    }

    // Sets the stop signal and waits for the thread; false when it did not end in time.
    bool Stop(int aMilliseconds)
    {
        FStop->Set();
        {
            std::unique_lock<std::mutex> guard(FLock);
            if (!FSignal.wait_for(guard, std::chrono::milliseconds(aMilliseconds),
                                  [this] { return FEnded; }))
                return false;
        }
        if (FThread.joinable())
            FThread.join();
        return true;
    }

    // A listener that did not end in time finishes by itself; nothing waits for it.
    void Abandon()
    {
        if (FThread.joinable())
            FThread.detach();
    }

    const std::shared_ptr<TTaskPool>& Pool() const { return FPool; }
    int64_t ConnectionCount() const { return FSlots->Count(); }

    QString Error() const
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FError;
    }

private:
    void Execute()
    {
        try {
            Listen();
        } catch (const std::exception& error) {
            // The listener is gone, but the program runs on without it; the log
            // (when one is configured) is where this can be found later.
            SetError(ErrorMessage(error));
            if (TtasksLog* log = GetTasksLog())
                log->LogException(error);
        } catch (...) {
            SetError(QStringLiteral("Listener failed"));
        }
        // Ending for whatever reason: close every connection still open (they
        // watch the same stop signal) so that stopping the pool does not wait
        // on clients.
        FStop->Set();
        FPool->StopWorkers();
        {
            std::lock_guard<std::mutex> guard(FLock);
            FEnded = true;
        }
        FSignal.notify_all();
    }

    void Listen()
    {
        int error = 0;
        PPipeListener listener = CreatePipeListener(FPipePath, FStop, error);
        if (!listener) {
            // The error's fixed text does not say why: the log line before it does.
            if (TtasksLog* log = GetTasksLog())
                log->Log(QStringLiteral("the pipe %1 cannot be served: %2 (error code %3)")
                             .arg(FPipePath, qt_error_string(error))
                             .arg(error));
            throw EIPCError(QStringLiteral("Could not create new pipe instance."));
        }
        {
            std::lock_guard<std::mutex> guard(FLock);
            FReady = true;
        }
        FSignal.notify_all();

        const TExecuteRequest handler = FHandler;
        const PStopSignal stop = FStop;
        const std::shared_ptr<TConnectionSlots> connectionSlots = FSlots;
        const int requestTimeout = FRequestTimeout;
        const TTaskProcedure serveClient = [handler, stop, connectionSlots,
                                            requestTimeout](ITask& aTask) {
            const TSlotGuard slot(*connectionSlots); // taken by HandOver
            PAnyValue handle = aTask.GetValues()->FindValue(QStringLiteral("PipeHandle"));
            if (!handle)
                return;
            PPipeConnection connection = AdoptPipeConnection(handle->AsInteger(), stop);
            ServeClient(*connection, handler, requestTimeout);
        };

        for (;;) {
            // At the ceiling nobody is accepted: new clients wait in the
            // endpoint's queue, held by the system, so a crowd of idle clients
            // costs the program at most the ceiling's handles and threads and
            // never the handles its other threads need.
            if (!FSlots->WaitFree(ListenSliceMs)) {
                if (FStop->IsSet()) {
                    listener->Close();
                    return;
                }
                continue;
            }
            int handle = -1;
            int code = 0;
            switch (listener->Accept(ListenSliceMs, handle, code)) {
            case TAcceptResult::arConnected:
                HandOver(handle, serveClient);
                break;
            case TAcceptResult::arIdle:
            case TAcceptResult::arRetry:
                break;
            case TAcceptResult::arStopped:
                listener->Close();
                return;
            case TAcceptResult::arFailed:
                listener->Close();
                throw EIPCError(
                    QStringLiteral("ConnectNamedPipe failed with error code %1.").arg(code));
            }
        }
    }

    void HandOver(int aHandle, const TTaskProcedure& aServeClient)
    {
        PTask task;
        FSlots->Take();
        try {
            task = FPool->TakeTask(QStringLiteral("IPCTask"), aServeClient);
        } catch (const std::exception&) {
            // No thread could be made for this client: it is turned away (its
            // connection closes) and the listener goes on with the next one.
            FSlots->Free();
            AdoptPipeConnection(aHandle, nullptr)->Close();
            return;
        }
        // From here on the task owns the handle.
        task->GetValues()->EnsureValue(QStringLiteral("PipeHandle"))->SetAsInteger(aHandle);
        task->Run();
    }

    void SetError(const QString& aError)
    {
        std::lock_guard<std::mutex> guard(FLock);
        FError = aError;
    }

    QString FPipePath;
    TExecuteRequest FHandler;
    int FRequestTimeout;
    PStopSignal FStop;
    std::shared_ptr<TConnectionSlots> FSlots;
    std::shared_ptr<TTaskPool> FPool;
    std::thread FThread;
    mutable std::mutex FLock;
    std::condition_variable FSignal;
    bool FReady = false;
    bool FEnded = false;
    QString FError;
};

// ---------------------------------------------------------------------------

TIPCServer::TIPCServer() = default;

TIPCServer::~TIPCServer()
{
    Stop();
}

void TIPCServer::SetPipeName(const QString& aName)
{
    FPipeName = aName;
    FPipePath = PipePathOf(aName);
}

bool TIPCServer::Start()
{
    if (!OnExecuteRequest)
        throw EIPCError(QStringLiteral("OnExecuteRequest not assigned"));
    if (FListening)
        return true;
    FListening = true;
    FListener = std::make_shared<TListeningThread>(FPipePath, OnExecuteRequest, FPoolSize,
                                                   FRequestTimeout, FMaxConnections);
    FListener->Start();
    return FListener->WaitReady(StartWaitMs);
}

void TIPCServer::Stop()
{
    if (!FListening)
        return;
    FListening = false;
    // A Start whose threads could not be made has raised and left no listener.
    if (FListener && !FListener->Stop(StopWaitMs))
        FListener->Abandon();
    FListener.reset();
}

int64_t TIPCServer::PoolTaskCount() const
{
    return FListener ? FListener->Pool()->AllTasks().Count() : -1;
}

int64_t TIPCServer::FreeTaskCount() const
{
    return FListener ? FListener->Pool()->FreeTasks().Count() : -1;
}

int64_t TIPCServer::ConnectionCount() const
{
    return FListener ? FListener->ConnectionCount() : -1;
}

QString TIPCServer::ListenerError() const
{
    return FListener ? FListener->Error() : QString();
}

// ---------------------------------------------------------------------------

TIPCClient::TIPCClient() = default;

TIPCClient::~TIPCClient()
{
    Disconnect();
}

bool TIPCClient::Connected() const
{
    return FConnection && FConnection->IsOpen();
}

void TIPCClient::Connect(const QString& aPipeName, int aTimeoutMs)
{
    Disconnect();
    int error = 0;
    const QString path = aPipeName.contains(QLatin1Char('/')) ? aPipeName : PipePathOf(aPipeName);
    FConnection = ConnectPipe(path, aTimeoutMs, error);
    if (!FConnection)
        throw EIPCError(QStringLiteral("Could not connect to pipe \"%1\" (error code %2).")
                            .arg(aPipeName)
                            .arg(error));
}

void TIPCClient::Execute(const IMessageData& aRequest, IMessageData& aReply)
{
    if (!Connected())
        throw EIPCError(QStringLiteral("Not connected to a pipe."));
    if (!WriteFrame(*FConnection, aRequest)) {
        FConnection.reset();
        throw EIPCError(QStringLiteral("Could not send the request."));
    }
    if (ReadFrame(*FConnection, aReply) != 1) {
        FConnection.reset();
        throw EIPCError(QStringLiteral("The server closed the connection without a reply."));
    }
}

PMessageData TIPCClient::Execute(const IMessageData& aRequest)
{
    PMessageData reply = TMessageData::Create();
    Execute(aRequest, *reply);
    return reply;
}

void TIPCClient::Disconnect()
{
    if (!FConnection)
        return;
    if (FConnection->IsOpen()) {
        const QByteArray mark = Int64ToBytes(ClosingMark);
        FConnection->WriteAll(mark.constData(), mark.size());
    }
    FConnection.reset();
}
