#pragma once

// One running Ulmora per settings file. The first start becomes the instance:
// it holds the instance lock for its whole life and answers a channel of its
// own beside the updater's pipe (the same local endpoint, owner-only, and the
// same frames). A later start hands its request over that channel (show the
// window, or store a task and list it) and ends with the instance's answer.
//
// The lock elects the instance, so two starts at the same moment cannot both
// become it, and it goes with the process that holds it, however that ends:
// a crashed instance leaves at most a socket file that nobody answers on,
// which the next instance replaces.

#include "cli/tasks_cli.h"
#include "ipc/kvd_ipc.h"
#include "ipc/kvd_message.h"

#include <QString>
#include <functional>
#include <memory>

// The requests of the channel ("Command").
inline const QString kInstanceShow = QStringLiteral("show");
inline const QString kInstanceAdd = QStringLiteral("add");
// --import: the running program reads the file and lists what it added.
inline const QString kInstanceImport = QStringLiteral("import");
// A start that only has to know that an instance runs (--hidden).
inline const QString kInstancePing = QStringLiteral("ping");

struct TInstanceRequest
{
    QString command;
    // For kInstanceAdd.
    TQuickTask task;
    // For kInstanceImport: the file, as an absolute path.
    QString file = QString();
};

struct TInstanceReply
{
    // The exit status of the start that asked.
    int status = kExitOk;
    // Why it is not kExitOk.
    QString message;
};

// The request of a start with aCommand.
TInstanceRequest InstanceRequestOf(const TCommandLine& aCommand);

// The message bodies: "Command", "Summary", "Note", "Due", "TagCount" and
// "Tag1"..."TagN" (add), "File" (import); the reply's "Result" ("ok", "error", or "closing" for a
// request that an ending instance did not take), "Status" and "Message".
void WriteInstanceRequest(const TInstanceRequest& aRequest, IMessageData& aMessage);
TInstanceRequest ReadInstanceRequest(const IMessageData& aMessage);
void WriteInstanceReply(const TInstanceReply& aReply, IMessageData& aMessage);

// The channel of the settings file aConfigFile: "ulmora-" and 16 hexadecimal
// digits of a hash of its absolute path, so that every settings file has an
// instance of its own (a test with its own APPDATA never meets the user's
// running program) and every spelling of one path the same.
QString InstanceChannelName(const QString& aConfigFile);

// The lock that elects the instance of a channel; held until destroyed.
class TInstanceLock
{
public:
    enum class TState
    {
        Acquired,    // this process is the instance
        Held,        // another process is, or is about to be
        Unsupported, // the platform has no such lock: every start may be one
        Failed       // the lock cannot be made (the error says why)
    };
    virtual ~TInstanceLock() = default;

    // Tries once, without waiting; the lock when aState is Acquired.
    static std::unique_ptr<TInstanceLock> TryAcquire(const QString& aChannel, TState& aState,
                                                     QString& aError);
};

// What a start found.
struct TInstanceReach
{
    enum class TOutcome
    {
        HandedOver, // the instance took the request; reply holds its answer
        Instance,   // no instance runs: this start is it
        Failed      // an instance runs but did not answer; reply says so
    };
    TOutcome outcome = TOutcome::Instance;
    TInstanceReply reply;
    // For Instance: held for the life of the program; null when there is no
    // lock (warning then says why the program runs without one).
    std::unique_ptr<TInstanceLock> lock;
    QString warning;
};

// Hands aRequest to the instance of aChannel, or makes this start the
// instance when there is none. An instance that is just starting or ending
// holds the lock without answering yet: this waits for it up to aWaitMs.
TInstanceReach ReachInstance(const QString& aChannel, const TInstanceRequest& aRequest,
                             int aWaitMs = 20000);

class TInstanceDispatch;

// The instance's side of the channel. Requests arrive on threads of the pipe
// server and are answered by the handler on the thread that started the
// server, from its event loop: the GUI thread, where the window and the store
// live. A request that the event loop does not take within the answer time
// is answered "busy" and is then never run; one that comes while the server
// stops is answered "closing", so that the start that sent it waits for the
// next instance.
class TInstanceServer
{
public:
    using THandler = std::function<TInstanceReply(const TInstanceRequest&)>;

    // How long a request waits for the event loop.
    static constexpr int DefaultAnswerMs = 20000;

    // Keeps aLock (may be null) until destroyed.
    TInstanceServer(const QString& aChannel, std::unique_ptr<TInstanceLock> aLock);
    // Stop.
    ~TInstanceServer();
    TInstanceServer(const TInstanceServer&) = delete;
    TInstanceServer& operator=(const TInstanceServer&) = delete;

    void SetAnswerMs(int aMilliseconds) { FAnswerMs = aMilliseconds; }
    QString PipePath() const { return FServer.PipePath(); }
    bool Listening() const { return FServer.Listening(); }
    // Connections being served, for tests and diagnostics; -1 when not listening.
    int64_t ConnectionCount() const { return FServer.ConnectionCount(); }

    // Starts answering with aHandler; false when the endpoint could not be made.
    bool Start(THandler aHandler);
    // Answers "closing" to whatever the event loop has not taken yet, then
    // stops the pipe server. The lock stays until destruction.
    void Stop();

private:
    TIPCServer FServer;
    std::unique_ptr<TInstanceLock> FLock;
    std::shared_ptr<TInstanceDispatch> FDispatch;
    int FAnswerMs = DefaultAnswerMs;
};
