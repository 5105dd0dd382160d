// The sync engine on a worker thread of its own: TSyncWorker lives there and
// its Finished signal comes back queued to the GUI thread.

#include "sync_ui/tasks_sync_runner.h"

#include "sync/tasks_sync.h"
#include "util/kvd_guard.h"

#include <QObject>
#include <QThread>

namespace {

class TtasksThreadRunner : public TtasksSyncRunner
{
public:
    TtasksThreadRunner(QObject* aContext, TFinished aFinished)
    {
        qRegisterMetaType<TSyncResult>();
        FThread.setObjectName(QStringLiteral("ulmora-sync"));
        FWorker = new TSyncWorker;
        FWorker->moveToThread(&FThread);
        ConnectGuarded(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
        // Queued: the worker emits on its thread, aContext lives on the GUI thread.
        ConnectGuarded(FWorker, &TSyncWorker::Finished, aContext, std::move(aFinished));
        FThread.start();
    }

    ~TtasksThreadRunner() override { Stop(); }

    void Run(TtasksDB& aStore, const QString& aUrl, const QString& aUser, const QString& aPassword,
             int aTimeoutMs) override
    {
        TSyncConfig config;
        config.url = aUrl;
        config.client.user = aUser;
        config.client.password = aPassword;
        if (aTimeoutMs > 0)
            config.client.timeoutMs = aTimeoutMs;
        // Runs on the worker's thread, after the syncs asked for before.
        QMetaObject::invokeMethod(
            FWorker, [worker = FWorker, store = &aStore, config] { worker->Sync(*store, config); },
            Qt::QueuedConnection);
    }

    void Stop() override
    {
        if (!FThread.isRunning())
            return;
        // The flag ends the sync at its next step; quitting the thread also
        // ends the event loop a request waits in, so a server that never
        // answers does not hold the program's end for the request's time-out.
        FWorker->Stop();
        FThread.quit();
        FThread.wait();
    }

private:
    QThread FThread;
    TSyncWorker* FWorker = nullptr;
};

} // namespace

bool SyncBuilt()
{
    return true;
}

std::unique_ptr<TtasksSyncRunner> CreateSyncRunner(QObject* aContext,
                                                   TtasksSyncRunner::TFinished aFinished)
{
    return std::make_unique<TtasksThreadRunner>(aContext, std::move(aFinished));
}
