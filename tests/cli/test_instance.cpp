// The one-instance channel in one process: the lock that elects the
// instance and its folder rules, the hand-over of a request to the instance's
// event loop, a stale socket, starts at the same moment, and the requests
// that an instance does not run: those it had no time for and those that
// come while it ends.

#include "cli/tasks_instance.h"

#include "ipc/kvd_pipe.h"
#include "util/kvd_utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A channel of its own for each test.
QString NewChannel()
{
    return QStringLiteral("ulmora-test-") + GenerateId();
}

TInstanceRequest Request(const QString& aCommand, const QString& aSummary = QString())
{
    TInstanceRequest request;
    request.command = aCommand;
    request.task.summary = aSummary;
    return request;
}

// Runs ReachInstance on a thread of its own, so that the instance's event
// loop, this test's, can answer it.
std::future<TInstanceReach> ReachInBackground(const QString& aChannel,
                                              const TInstanceRequest& aRequest, int aWaitMs = 20000)
{
    return std::async(std::launch::async, [aChannel, aRequest, aWaitMs] {
        return ReachInstance(aChannel, aRequest, aWaitMs);
    });
}

// Runs the event loop until aFuture is ready (at most a minute, so that a
// fault ends the test instead of hanging it).
template <typename T> bool AwaitWithEvents(std::future<T>& aFuture)
{
    QDeadlineTimer limit(60000);
    while (aFuture.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        if (limit.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::unique_ptr<TInstanceLock> Acquire(const QString& aChannel)
{
    TInstanceLock::TState state = TInstanceLock::TState::Failed;
    QString error;
    std::unique_ptr<TInstanceLock> lock = TInstanceLock::TryAcquire(aChannel, state, error);
    if (state != TInstanceLock::TState::Acquired)
        qWarning("lock not acquired: %s", qPrintable(error));
    return lock;
}

// Records the requests that the handler ran and on which thread.
struct TRecorder
{
    std::vector<TInstanceRequest> requests;
    bool onTheLoopThread = true;
    TInstanceReply answer;

    TInstanceServer::THandler Handler()
    {
        return [this](const TInstanceRequest& aRequest) {
            onTheLoopThread = onTheLoopThread &&
                              QThread::currentThread() == QCoreApplication::instance()->thread();
            requests.push_back(aRequest);
            return answer;
        };
    }
};

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        FRuntime = std::make_unique<QTemporaryDir>();
        QVERIFY(FRuntime->isValid());
        QVERIFY(QFile::setPermissions(FRuntime->path(), QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", FRuntime->path().toUtf8());
    }
    void cleanup() { FRuntime.reset(); }

    // One holder at a time, also within one process; the lock goes with its holder.
    void lockIsExclusive()
    {
        const QString channel = NewChannel();
        TInstanceLock::TState state;
        QString error;
        std::unique_ptr<TInstanceLock> first = TInstanceLock::TryAcquire(channel, state, error);
        QCOMPARE(state, TInstanceLock::TState::Acquired);
        QVERIFY(first);
        QVERIFY(!TInstanceLock::TryAcquire(channel, state, error));
        QCOMPARE(state, TInstanceLock::TState::Held);
        // Another channel has a lock of its own.
        QVERIFY(TInstanceLock::TryAcquire(NewChannel(), state, error));
        first.reset();
        QVERIFY(TInstanceLock::TryAcquire(channel, state, error));
        QCOMPARE(state, TInstanceLock::TState::Acquired);
    }

    // The folder rules of the pipe: a folder that someone else may write in is
    // refused; one that others may only enter is fine.
    void lockFolder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("foreignOwner");
        QTest::addColumn<bool>("acquired");
        QTest::newRow("0700") << 0700 << false << true;
        QTest::newRow("0755") << 0755 << false << true;
        QTest::newRow("group-writable") << 0770 << false << false;
        QTest::newRow("world-writable") << 0777 << false << false;
        QTest::newRow("world-writable, sticky") << 01777 << false << false;
        QTest::newRow("another user's") << 0700 << true << false;
    }
    void lockFolder()
    {
        QFETCH(int, mode);
        QFETCH(bool, foreignOwner);
        QFETCH(bool, acquired);
        const QString folder = FRuntime->filePath("run");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), static_cast<mode_t>(mode)), 0);
        if (foreignOwner) {
            // Only root can give a folder away.
            if (::geteuid() != 0)
                QSKIP("giving a folder to another user needs root");
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        qputenv("XDG_RUNTIME_DIR", folder.toUtf8());
        TInstanceLock::TState state;
        QString error;
        const std::unique_ptr<TInstanceLock> lock =
            TInstanceLock::TryAcquire(NewChannel(), state, error);
        QCOMPARE(bool(lock), acquired);
        if (!acquired) {
            QCOMPARE(state, TInstanceLock::TState::Failed);
            QVERIFY2(error.contains(folder) && error.contains("not the user's alone"),
                     qPrintable(error));
            // The program then runs on its own and says why.
            const TInstanceReach reach = ReachInstance(NewChannel(), Request(kInstanceShow));
            QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Instance);
            QVERIFY(!reach.lock);
            QVERIFY2(reach.warning.contains("not the user's alone"), qPrintable(reach.warning));
        }
    }

    // Without XDG_RUNTIME_DIR the lock lives in a folder of the user's own
    // under /tmp, made for the user alone, as the pipe's.
    void lockWithoutRuntimeFolder()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        const QString channel = NewChannel();
        const QString folder = QStringLiteral("/tmp/%1-%2").arg(channel).arg(::geteuid());
        TInstanceLock::TState state;
        QString error;
        std::unique_ptr<TInstanceLock> lock = TInstanceLock::TryAcquire(channel, state, error);
        QVERIFY2(lock, qPrintable(error));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        lock.reset();
        QDir(folder).removeRecursively();
    }

    void firstStartIsTheInstance()
    {
        const TInstanceReach reach = ReachInstance(NewChannel(), Request(kInstanceShow));
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Instance);
        QVERIFY(reach.lock);
        QVERIFY(reach.warning.isEmpty());
    }

    // A later start's request runs on the instance's event loop, and the start
    // ends with the instance's answer.
    void handOver_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("show") << kInstanceShow << kExitOk << "";
        QTest::newRow("add") << kInstanceAdd << kExitOk << "";
        QTest::newRow("add refused") << kInstanceAdd << kExitUsage << "no tag is titled \"X\"";
        QTest::newRow("add failed") << kInstanceAdd << kExitFailure << "the database is locked";
        QTest::newRow("ping") << kInstancePing << kExitOk << "";
    }
    void handOver()
    {
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString channel = NewChannel();
        TInstanceReach first = ReachInstance(channel, Request(kInstanceShow));
        QCOMPARE(first.outcome, TInstanceReach::TOutcome::Instance);
        TRecorder recorder;
        recorder.answer = {status, message};
        TInstanceServer server(channel, std::move(first.lock));
        QVERIFY(server.Start(recorder.Handler()));
        QCOMPARE(server.PipePath(), PipePathOf(channel));

        TInstanceRequest request = Request(command, QStringLiteral("Call Anna"));
        request.task.tags = QStringList{"Home", "Work"};
        request.task.due = QStringLiteral("tomorrow");
        auto later = ReachInBackground(channel, request);
        QVERIFY(AwaitWithEvents(later));
        const TInstanceReach reach = later.get();
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(reach.reply.status, status);
        QCOMPARE(reach.reply.message, message);
        QVERIFY(!reach.lock);
        QCOMPARE(recorder.requests.size(), size_t(1));
        QVERIFY(recorder.onTheLoopThread);
        QCOMPARE(recorder.requests[0].command, command);
        if (command == kInstanceAdd) {
            QCOMPARE(recorder.requests[0].task.summary, QStringLiteral("Call Anna"));
            QCOMPARE(recorder.requests[0].task.tags, (QStringList{"Home", "Work"}));
            QCOMPARE(recorder.requests[0].task.due, QStringLiteral("tomorrow"));
        }
    }

    // An instance that crashed leaves its socket file behind, and nobody
    // answers on it: the next start becomes the instance and replaces it.
    void staleSocketDoesNotBlock()
    {
        const QString channel = NewChannel();
        const QByteArray path = QFile::encodeName(PipePathOf(channel));
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        QCOMPARE(::listen(stale, 1), 0);
        ::close(stale);
        QVERIFY(QFileInfo::exists(QFile::decodeName(path)));

        TInstanceReach first = ReachInstance(channel, Request(kInstanceShow), 2000);
        QCOMPARE(first.outcome, TInstanceReach::TOutcome::Instance);
        TRecorder recorder;
        TInstanceServer server(channel, std::move(first.lock));
        QVERIFY(server.Start(recorder.Handler()));
        auto later = ReachInBackground(channel, Request(kInstanceShow));
        QVERIFY(AwaitWithEvents(later));
        QCOMPARE(later.get().outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(recorder.requests.size(), size_t(1));
    }

    // Starts at the same moment: exactly one becomes the instance, every
    // other one hands its request to it.
    void simultaneousStartsElectOne()
    {
        const QString channel = NewChannel();
        constexpr int kStarts = 8;
        std::atomic<bool> go{false};
        std::promise<std::unique_ptr<TInstanceLock>> elected;
        std::atomic<int> instances{0};
        std::vector<std::future<TInstanceReach::TOutcome>> starts;
        for (int i = 0; i < kStarts; ++i) {
            starts.push_back(std::async(std::launch::async, [&] {
                while (!go.load())
                    std::this_thread::yield();
                TInstanceReach reach = ReachInstance(channel, Request(kInstanceShow));
                if (reach.outcome == TInstanceReach::TOutcome::Instance &&
                    instances.fetch_add(1) == 0)
                    elected.set_value(std::move(reach.lock));
                return reach.outcome;
            }));
        }
        go = true;
        auto instanceLock = elected.get_future();
        QVERIFY(AwaitWithEvents(instanceLock));
        TRecorder recorder;
        TInstanceServer server(channel, instanceLock.get());
        QVERIFY(server.Start(recorder.Handler()));
        int handedOver = 0;
        for (auto& start : starts) {
            QVERIFY(AwaitWithEvents(start));
            handedOver += start.get() == TInstanceReach::TOutcome::HandedOver;
        }
        QCOMPARE(instances.load(), 1);
        QCOMPARE(handedOver, kStarts - 1);
        QCOMPARE(recorder.requests.size(), size_t(kStarts - 1));
    }

    // A request that the event loop did not take in time is answered "busy"
    // and never runs afterwards: its start has already reported it undone.
    void busyRequestNeverRunsLater()
    {
        const QString channel = NewChannel();
        TRecorder recorder;
        TInstanceServer server(channel, Acquire(channel));
        server.SetAnswerMs(200);
        QVERIFY(server.Start(recorder.Handler()));
        // The event loop does not run while this waits.
        auto later = ReachInBackground(channel, Request(kInstanceAdd, QStringLiteral("x")));
        const TInstanceReach reach = later.get();
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(reach.reply.status, kExitFailure);
        QVERIFY2(reach.reply.message.contains("busy") &&
                     reach.reply.message.contains("nothing was done"),
                 qPrintable(reach.reply.message));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QVERIFY(recorder.requests.empty());
    }

    // A request that comes while the instance ends is not run; its start
    // waits for the lock and becomes the next instance.
    void requestWhileEndingGoesToTheNextInstance()
    {
        const QString channel = NewChannel();
        TRecorder recorder;
        auto server = std::make_unique<TInstanceServer>(channel, Acquire(channel));
        QVERIFY(server->Start(recorder.Handler()));
        auto later = ReachInBackground(channel, Request(kInstanceAdd, QStringLiteral("x")));
        // The request has arrived; the event loop, which does not run here,
        // has not taken it.
        QDeadlineTimer limit(60000);
        while (server->ConnectionCount() == 0 && !limit.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QVERIFY(server->ConnectionCount() > 0);
        server->Stop();
        QVERIFY(later.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready);
        server.reset(); // the lock goes
        const TInstanceReach reach = later.get();
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Instance);
        QVERIFY(reach.lock);
        QCoreApplication::sendPostedEvents();
        QVERIFY(recorder.requests.empty());
    }

    // An instance that holds the lock but does not answer: the start gives up
    // after its wait and says so; it does not become a second instance.
    void silentInstance()
    {
        const QString channel = NewChannel();
        const std::unique_ptr<TInstanceLock> lock = Acquire(channel);
        const TInstanceReach reach = ReachInstance(channel, Request(kInstanceShow), 300);
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Failed);
        QCOMPARE(reach.reply.status, kExitFailure);
        QVERIFY2(reach.reply.message.contains("does not answer") &&
                     reach.reply.message.contains(PipePathOf(channel)),
                 qPrintable(reach.reply.message));
        QVERIFY(!reach.lock);
    }

    // A connection that breaks before the answer: a "show" is sent again
    // until the wait is over, a task never, since it may have been stored.
    void brokenConnection_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("once");
        QTest::newRow("add") << kInstanceAdd << true;
        QTest::newRow("show") << kInstanceShow << false;
    }
    void brokenConnection()
    {
        QFETCH(QString, command);
        QFETCH(bool, once);
        const QString channel = NewChannel();
        const std::unique_ptr<TInstanceLock> lock = Acquire(channel);
        std::atomic<int> requests{0};
        TIPCServer breaking;
        breaking.SetPipeName(channel);
        breaking.OnExecuteRequest = [&requests](IMessageData&, IMessageData&) {
            ++requests;
            throw std::runtime_error("broken");
        };
        QVERIFY(breaking.Start());
        const TInstanceReach reach = ReachInstance(channel, Request(command, "x"), 500);
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Failed);
        QCOMPARE(reach.reply.status, kExitFailure);
        if (once) {
            QCOMPARE(requests.load(), 1);
            QVERIFY2(reach.reply.message.contains("whether the task was stored"),
                     qPrintable(reach.reply.message));
        } else {
            QVERIFY(requests.load() > 1);
            QVERIFY2(reach.reply.message.contains("does not answer"),
                     qPrintable(reach.reply.message));
        }
    }

    // The handler's failure reaches the start as status 1 with its text.
    void handlerFailure()
    {
        const QString channel = NewChannel();
        TInstanceServer server(channel, Acquire(channel));
        QVERIFY(server.Start([](const TInstanceRequest&) -> TInstanceReply {
            throw std::runtime_error("the window is gone");
        }));
        auto later = ReachInBackground(channel, Request(kInstanceShow));
        QVERIFY(AwaitWithEvents(later));
        const TInstanceReach reach = later.get();
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(reach.reply.status, kExitFailure);
        QCOMPARE(reach.reply.message, QStringLiteral("the window is gone"));
    }

private:
    std::unique_ptr<QTemporaryDir> FRuntime;
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
