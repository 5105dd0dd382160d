#pragma once

// The pipe server and client. A client connects to the pipe of a name, sends a
// request frame, reads one reply frame, may repeat, and ends with the closing
// mark or by closing. The server serves each connection on a task of its worker
// pool and hands every request to OnExecuteRequest, which fills the reply.

#include "ipc/kvd_message.h"
#include "ipc/kvd_pipe.h"

#include <QString>
#include <functional>
#include <memory>

// The request handler. aRequest holds the received ID and body; aReply is a new,
// empty message that the handler fills (SetID, WriteText, WriteBytes). It runs
// on a pool worker thread, possibly on several at once. If it throws, the
// connection is closed without a reply; the program and the worker go on.
using TExecuteRequest = std::function<void(IMessageData& aRequest, IMessageData& aReply)>;

class TListeningThread;

class TIPCServer
{
public:
    // PoolSize 20, not listening.
    TIPCServer();
    // Stop.
    ~TIPCServer();
    TIPCServer(const TIPCServer&) = delete;
    TIPCServer& operator=(const TIPCServer&) = delete;

    // Sets PipeName and PipePath (see PipePathOf).
    void SetPipeName(const QString& aName);
    QString PipeName() const { return FPipeName; }
    QString PipePath() const { return FPipePath; }
    bool Listening() const { return FListening; }
    int PoolSize() const { return FPoolSize; }
    void SetPoolSize(int aValue) { FPoolSize = aValue; }

    // Assign before Start.
    TExecuteRequest OnExecuteRequest;

    // Starts the listener and its pool, then waits up to 3000 ms for the endpoint
    // to exist; returns whether it does. Raises EIPCError "OnExecuteRequest not
    // assigned" (and starts nothing) without a handler.
    bool Start();
    // Ends the listener, closes open connections and stops the pool, waiting up
    // to 3000 ms. Does nothing when not listening.
    void Stop();

    // Observations for tests and diagnostics: tasks the pool owns and holds free
    // (-1 when not listening), and why the listener ended by itself (empty while
    // it runs or when it was stopped).
    int64_t PoolTaskCount() const;
    int64_t FreeTaskCount() const;
    QString ListenerError() const;

private:
    QString FPipeName;
    QString FPipePath;
    bool FListening = false;
    int FPoolSize = 20;
    std::shared_ptr<TListeningThread> FListener;
};

// Serves one connected client until it sends the closing mark, closes, sends a
// bad frame, or the handler fails; then flushes and closes the connection. This
// is what each pool task runs; tests and fuzzers call it directly.
void ServeClient(IPipeConnection& aConnection, const TExecuteRequest& aHandler);

// Reads one frame into aMessage (ID and raw body). 1 for a message, 0 for the
// closing mark, -1 when the frame is bad or cannot be read whole.
int ReadFrame(IPipeConnection& aConnection, IMessageData& aMessage);
// Writes the frame of aMessage; false when it cannot be written whole.
bool WriteFrame(IPipeConnection& aConnection, const IMessageData& aMessage);

// A client of the pipe server on this computer ("."). Errors raise EIPCError.
class TIPCClient
{
public:
    TIPCClient();
    ~TIPCClient();

    QString Computer() const { return FComputer; }
    bool Connected() const;

    // Connects to the pipe of aPipeName, waiting up to aTimeoutMs for it to
    // appear. A name holding "/" is taken as the endpoint's path itself.
    void Connect(const QString& aPipeName, int aTimeoutMs = 3000);
    // Sends aRequest and reads its reply into aReply (ID and body).
    void Execute(const IMessageData& aRequest, IMessageData& aReply);
    PMessageData Execute(const IMessageData& aRequest);
    // Sends the closing mark and closes; harmless when not connected.
    void Disconnect();

private:
    QString FComputer = QStringLiteral(".");
    PPipeConnection FConnection;
};
