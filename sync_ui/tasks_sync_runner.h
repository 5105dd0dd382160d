#pragma once

// The controller's worker side, one file per build: the sync engine on a
// thread of its own (tasks_sync_runner.cpp), or nothing where the build has
// no sync (tasks_sync_runner_none.cpp).

#include "sync/tasks_sync_result.h"

#include <QString>
#include <functional>
#include <memory>

class QObject;
class TtasksDB;

class TtasksSyncRunner
{
public:
    using TFinished = std::function<void(const TSyncResult&)>;
    virtual ~TtasksSyncRunner() = default;
    // Starts one sync of the tasks of aStore, which the caller keeps open
    // until aFinished runs on the GUI thread (or Stop returned).
    virtual void Run(TtasksDB& aStore, const QString& aUrl, const QString& aUser,
                     const QString& aPassword, int aTimeoutMs) = 0;
    // Asks a running sync to end and waits for the thread; idempotent.
    virtual void Stop() = 0;
};

// Whether the build has the sync engine.
bool SyncBuilt();
// aFinished is called in aContext's thread, not after aContext is gone.
std::unique_ptr<TtasksSyncRunner> CreateSyncRunner(QObject* aContext,
                                                   TtasksSyncRunner::TFinished aFinished);
