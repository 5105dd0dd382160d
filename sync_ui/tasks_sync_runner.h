#pragma once

// The controller's worker side, one file per build: the sync engine on a
// thread of its own (tasks_sync_runner.cpp), or nothing where the build has
// no sync (tasks_sync_runner_none.cpp).

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QObject;

struct TSyncOutcome
{
    bool ok = false;
    QString error;
    QDateTime finishedAt;
    int conflicts = 0;
    // What the user should know of a sync that went through.
    QString notice;
    QStringList changedTaskIds;
};

class TtasksSyncRunner
{
public:
    using TFinished = std::function<void(const TSyncOutcome&)>;
    virtual ~TtasksSyncRunner() = default;
    // Starts one sync; aFinished runs on the GUI thread when it ended.
    virtual void Run(const QString& aUrl, const QString& aUser, const QString& aPassword,
                     int aTimeoutMs) = 0;
    // Asks a running sync to end and waits for the thread; idempotent.
    virtual void Stop() = 0;
};

// Whether the build has the sync engine.
bool SyncBuilt();
// aFinished is called in aContext's thread, not after aContext is gone.
std::unique_ptr<TtasksSyncRunner> CreateSyncRunner(QObject* aContext,
                                                   TtasksSyncRunner::TFinished aFinished);
