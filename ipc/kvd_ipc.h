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
    // How long a connection has for each request frame, and for taking each reply.
    static constexpr int DefaultRequestTimeout = 10000;
    // How many connections are served at once.
    static constexpr int DefaultMaxConnections = 64;

    // PoolSize 20, RequestTimeout 10000 ms, MaxConnections 64, not listening.
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
    // Milliseconds a connection has to deliver each request frame whole, counted
    // from its accept or from the end of the previous reply, and to take each
    // reply whole; past that the server closes it, so a client that stays
    // silent, or trickles a frame, does not hold a thread and a handle for
    // ever. 0 or less: no limit. Takes effect at the next Start.
    int RequestTimeout() const { return FRequestTimeout; }
    void SetRequestTimeout(int aValue) { FRequestTimeout = aValue; }
    // The ceiling of connections served at once. At the ceiling the server
    // accepts no one: new clients wait in the endpoint's queue until a
    // connection ends, costing the program neither a handle nor a thread.
    // 0 or less: no ceiling. Takes effect at the next Start.
    int MaxConnections() const { return FMaxConnections; }
    void SetMaxConnections(int aValue) { FMaxConnections = aValue; }

    // Assign before Start.
    TExecuteRequest OnExecuteRequest;

    // Starts the listener and its pool, then waits up to 3000 ms for the endpoint
    // to exist; returns whether it does. Raises EIPCError "OnExecuteRequest not
    // assigned" (and starts nothing) without a handler.
    bool Start();
    // Ends the listener, closes open connections and stops the pool, waiting up
    // to 3000 ms. Does nothing when not listening.
    void Stop();

    // Observations for tests and diagnostics: tasks the pool owns and holds free,
    // connections being served (each -1 when not listening), and why the
    // listener ended by itself (empty while it runs or when it was stopped).
    int64_t PoolTaskCount() const;
    int64_t FreeTaskCount() const;
    int64_t ConnectionCount() const;
    QString ListenerError() const;

private:
    QString FPipeName;
    QString FPipePath;
    bool FListening = false;
    int FPoolSize = 20;
    int FRequestTimeout = DefaultRequestTimeout;
    int FMaxConnections = DefaultMaxConnections;
    std::shared_ptr<TListeningThread> FListener;
};

// Serves one connected client until it sends the closing mark, closes, sends a
// bad frame, the handler fails, or it does not deliver a request frame (or take
// a reply) within aRequestTimeout ms; then flushes and closes the connection.
// The time for a request counts from the call or from the end of the previous
// reply; a negative aRequestTimeout sets no limit. This is what each pool task
// runs; tests and fuzzers call it directly.
void ServeClient(IPipeConnection& aConnection, const TExecuteRequest& aHandler,
                 int aRequestTimeout = -1);

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
