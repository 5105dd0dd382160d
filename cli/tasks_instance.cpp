#include "cli/tasks_instance.h"

#include "ipc/kvd_pipe.h"
#include "util/kvd_errors.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const QString kResultOk = QStringLiteral("ok");
const QString kResultError = QStringLiteral("error");
const QString kResultClosing = QStringLiteral("closing");

// How often a start looks again for an instance that holds the lock but does
// not answer yet.
constexpr int kRetryMs = 50;
// How long an ending instance waits for the starts it answered to take their
// replies before it closes their connections.
constexpr int kDrainMs = 2000;

// The absolute path of aPath with every folder that exists resolved, so that
// the path names the file the same way before it exists and after.
QString ResolvedPath(const QString& aPath)
{
    QString existing = QFileInfo(aPath).absoluteFilePath();
    QStringList rest;
    while (!QFileInfo::exists(existing)) {
        const QFileInfo info(existing);
        const QString parent = info.absolutePath();
        if (parent == existing)
            break;
        rest.prepend(info.fileName());
        existing = parent;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    QStringList parts{canonical.isEmpty() ? existing : canonical};
    parts += rest;
    return QDir::cleanPath(parts.join(QLatin1Char('/')));
}

enum class TExchange
{
    Answered,
    Closing,
    Broken
};

// Sends aRequest on aConnection and reads the instance's answer.
TExchange Exchange(IPipeConnection& aConnection, const TInstanceRequest& aRequest,
                   TInstanceReply& aReply)
{
    TMessageData request;
    request.SetID(GenerateId());
    WriteInstanceRequest(aRequest, request);
    // The instance answers once its event loop has run the request, or says
    // that it could not within its answer time.
    aConnection.SetDeadline(TInstanceServer::DefaultAnswerMs + 10000);
    TMessageData reply;
    if (!WriteFrame(aConnection, request) || ReadFrame(aConnection, reply) != 1)
        return TExchange::Broken;
    const QByteArray mark = Int64ToBytes(ClosingMark);
    aConnection.WriteAll(mark.constData(), mark.size());
    aConnection.Close();

    const QString result = reply.ReadText(QStringLiteral("Result"));
    if (result == kResultClosing)
        return TExchange::Closing;
    if (result == kResultOk) {
        aReply = TInstanceReply();
        // What the instance did, when it says (the counts of an import).
        aReply.message = reply.ReadText(QStringLiteral("Message"));
        return TExchange::Answered;
    }
    bool number = false;
    aReply.status = reply.ReadText(QStringLiteral("Status")).toInt(&number);
    if (!number || aReply.status == kExitOk)
        aReply.status = kExitFailure;
    aReply.message = reply.ReadText(QStringLiteral("Message"));
    if (aReply.message.isEmpty())
        aReply.message = QStringLiteral("the running Ulmora refused the request.");
    return TExchange::Answered;
}

} // namespace

// ---------------------------------------------------------------- messages

TInstanceRequest InstanceRequestOf(const TCommandLine& aCommand)
{
    TInstanceRequest request;
    switch (aCommand.action) {
    case TCommandAction::Add:
        request.command = kInstanceAdd;
        request.task = aCommand.task;
        break;
    case TCommandAction::Import:
        request.command = kInstanceImport;
        request.file = aCommand.file;
        break;
    case TCommandAction::Hidden:
        request.command = kInstancePing;
        break;
    default:
        request.command = kInstanceShow;
        break;
    }
    return request;
}

void WriteInstanceRequest(const TInstanceRequest& aRequest, IMessageData& aMessage)
{
    aMessage.WriteText(QStringLiteral("Command"), aRequest.command);
    if (aRequest.command == kInstanceImport)
        aMessage.WriteText(QStringLiteral("File"), aRequest.file);
    if (aRequest.command != kInstanceAdd)
        return;
    // Empty texts are not written; they read back empty.
    aMessage.WriteText(QStringLiteral("Summary"), aRequest.task.summary);
    aMessage.WriteText(QStringLiteral("Note"), aRequest.task.note);
    aMessage.WriteText(QStringLiteral("Due"), aRequest.task.due);
    aMessage.WriteText(QStringLiteral("TagCount"), QString::number(aRequest.task.tags.size()));
    for (int i = 0; i < aRequest.task.tags.size(); ++i)
        aMessage.WriteText(QStringLiteral("Tag%1").arg(i + 1), aRequest.task.tags[i]);
}

TInstanceRequest ReadInstanceRequest(const IMessageData& aMessage)
{
    TInstanceRequest request;
    request.command = aMessage.ReadText(QStringLiteral("Command"));
    request.file = aMessage.ReadText(QStringLiteral("File"));
    request.task.summary = aMessage.ReadText(QStringLiteral("Summary"));
    request.task.note = aMessage.ReadText(QStringLiteral("Note"));
    request.task.due = aMessage.ReadText(QStringLiteral("Due"));
    // A count beyond the tags that came is no reason to read further.
    const int count = aMessage.ReadText(QStringLiteral("TagCount")).toInt();
    for (int i = 1; i <= count; ++i) {
        QByteArray present;
        if (!aMessage.GetData().ReadBytes(QStringLiteral("Tag%1").arg(i), present))
            break;
        request.task.tags << aMessage.ReadText(QStringLiteral("Tag%1").arg(i));
    }
    return request;
}

void WriteInstanceReply(const TInstanceReply& aReply, IMessageData& aMessage)
{
    aMessage.SetID(GenerateId());
    aMessage.WriteText(QStringLiteral("Result"),
                       aReply.status == kExitOk ? kResultOk : kResultError);
    aMessage.WriteText(QStringLiteral("Status"), QString::number(aReply.status));
    aMessage.WriteText(QStringLiteral("Message"), aReply.message);
}

QString InstanceChannelName(const QString& aConfigFile)
{
    const QByteArray hash =
        QCryptographicHash::hash(ResolvedPath(aConfigFile).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("ulmora-") + QString::fromLatin1(hash.toHex().left(16));
}

// ---------------------------------------------------------------- a start

TInstanceReach ReachInstance(const QString& aChannel, const TInstanceRequest& aRequest, int aWaitMs)
{
    TInstanceReach reach;
    const QString path = PipePathOf(aChannel);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        TInstanceLock::TState state = TInstanceLock::TState::Failed;
        QString error;
        std::unique_ptr<TInstanceLock> lock = TInstanceLock::TryAcquire(aChannel, state, error);
        if (state == TInstanceLock::TState::Acquired) {
            reach.outcome = TInstanceReach::TOutcome::Instance;
            reach.lock = std::move(lock);
            return reach;
        }
        if (state == TInstanceLock::TState::Failed) {
            // Without a folder of the user's own there is no channel either
            // (the pipe keeps the same rule): the program runs on its own.
            reach.outcome = TInstanceReach::TOutcome::Instance;
            reach.warning =
                QStringLiteral("running without the check for a second start: %1").arg(error);
            return reach;
        }

        int code = 0;
        if (PPipeConnection connection = ConnectPipe(path, 0, code)) {
            switch (Exchange(*connection, aRequest, reach.reply)) {
            case TExchange::Answered:
                reach.outcome = TInstanceReach::TOutcome::HandedOver;
                return reach;
            case TExchange::Closing:
                // The instance is ending without having run the request; the
                // next round finds the lock free, or the next instance.
                break;
            case TExchange::Broken:
                // A task may have been stored before the connection broke:
                // sending it again could store it twice.
                if (aRequest.command == kInstanceAdd) {
                    reach.outcome = TInstanceReach::TOutcome::Failed;
                    reach.reply.status = kExitFailure;
                    reach.reply.message =
                        QStringLiteral("the running Ulmora broke off the connection; look in "
                                       "its list whether the task was stored.");
                    return reach;
                }
                break;
            }
        } else if (state == TInstanceLock::TState::Unsupported) {
            reach.outcome = TInstanceReach::TOutcome::Instance;
            return reach;
        }

        if (waited.elapsed() >= aWaitMs) {
            reach.outcome = TInstanceReach::TOutcome::Failed;
            reach.reply.status = kExitFailure;
            reach.reply.message =
                QStringLiteral("Ulmora is already running but does not answer on %1.").arg(path);
            return reach;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
    }
}

// ---------------------------------------------------------------- the instance

// What the pipe server's threads share with the event loop that runs the
// requests.
class TInstanceDispatch
{
public:
    std::mutex FLock;
    std::condition_variable FSignal;
    // Set when the server stops: requests not yet taken are answered "closing".
    bool FClosing = false;
    // Lives on the thread that started the server; requests are posted to it.
    std::unique_ptr<QObject> FContext;
    TInstanceServer::THandler FHandler;
};

namespace {

// One request on its way to the event loop. A request is run at most once,
// and only while its start still waits for the answer.
struct TInstanceJob
{
    enum class TState
    {
        Pending,
        Running,
        Done,
        Dropped
    };
    TState state = TState::Pending;
    TInstanceReply reply;
};

void RunJob(const std::shared_ptr<TInstanceDispatch>& aDispatch,
            const std::shared_ptr<TInstanceJob>& aJob, const TInstanceRequest& aRequest)
{
    {
        std::lock_guard<std::mutex> guard(aDispatch->FLock);
        if (aJob->state != TInstanceJob::TState::Pending)
            return;
        aJob->state = TInstanceJob::TState::Running;
    }
    TInstanceReply reply;
    try {
        reply = aDispatch->FHandler(aRequest);
    } catch (const std::exception& error) {
        reply.status = kExitFailure;
        reply.message = ErrorMessage(error);
    } catch (...) {
        reply.status = kExitFailure;
        reply.message = QStringLiteral("the running Ulmora failed on the request.");
    }
    {
        std::lock_guard<std::mutex> guard(aDispatch->FLock);
        aJob->reply = reply;
        aJob->state = TInstanceJob::TState::Done;
    }
    aDispatch->FSignal.notify_all();
}

} // namespace

TInstanceServer::TInstanceServer(const QString& aChannel, std::unique_ptr<TInstanceLock> aLock)
    : FLock(std::move(aLock))
{
    FServer.SetPipeName(aChannel);
    // A start sends one request; a handful of threads answer any crowd.
    FServer.SetPoolSize(4);
}

TInstanceServer::~TInstanceServer()
{
    Stop();
}

bool TInstanceServer::Start(THandler aHandler)
{
    if (FDispatch)
        return FServer.Listening();
    auto dispatch = std::make_shared<TInstanceDispatch>();
    dispatch->FContext = std::make_unique<QObject>();
    dispatch->FHandler = std::move(aHandler);
    FDispatch = dispatch;
    const int answerMs = FAnswerMs;
    FServer.OnExecuteRequest = [dispatch, answerMs](IMessageData& aRequest, IMessageData& aReply) {
        const TInstanceRequest request = ReadInstanceRequest(aRequest);
        auto job = std::make_shared<TInstanceJob>();
        std::unique_lock<std::mutex> guard(dispatch->FLock);
        if (!dispatch->FClosing) {
            QMetaObject::invokeMethod(
                dispatch->FContext.get(),
                [dispatch, job, request] { RunJob(dispatch, job, request); }, Qt::QueuedConnection);
            dispatch->FSignal.wait_for(guard, std::chrono::milliseconds(answerMs), [&] {
                return job->state == TInstanceJob::TState::Done ||
                       (job->state == TInstanceJob::TState::Pending && dispatch->FClosing);
            });
            // A request the event loop has begun is always waited for: its
            // start must learn what came of it.
            dispatch->FSignal.wait(guard,
                                   [&] { return job->state != TInstanceJob::TState::Running; });
        }
        if (job->state == TInstanceJob::TState::Done) {
            WriteInstanceReply(job->reply, aReply);
            return;
        }
        job->state = TInstanceJob::TState::Dropped;
        if (dispatch->FClosing) {
            aReply.SetID(GenerateId());
            aReply.WriteText(QStringLiteral("Result"), kResultClosing);
            return;
        }
        TInstanceReply busy;
        busy.status = kExitFailure;
        busy.message = QStringLiteral("the running Ulmora is busy and did not take the request "
                                      "in time; nothing was done.");
        WriteInstanceReply(busy, aReply);
    };
    try {
        return FServer.Start();
    } catch (const std::exception& error) {
        // No thread could be made for the listener or its pool: the program
        // runs on without the channel, which its caller reports; the log
        // keeps the reason.
        if (TtasksLog* log = GetTasksLog())
            log->LogException(error);
        return false;
    }
}

void TInstanceServer::Stop()
{
    if (!FDispatch)
        return;
    {
        std::lock_guard<std::mutex> guard(FDispatch->FLock);
        FDispatch->FClosing = true;
    }
    FDispatch->FSignal.notify_all();
    // Stopping the pipe server closes every connection at once: the starts
    // that were answered, or told "closing", get a moment to take their replies.
    QElapsedTimer drain;
    drain.start();
    while (FServer.ConnectionCount() > 0 && drain.elapsed() < kDrainMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    FServer.Stop();
    // Requests still posted to the context go with it; their starts were
    // answered "closing".
    FDispatch->FContext.reset();
    FDispatch.reset();
}
