// A build without the sync engine: sync is never configured there, so no
// sync is ever started.

#include "sync_ui/tasks_sync_runner.h"

bool SyncBuilt()
{
    return false;
}

std::unique_ptr<TtasksSyncRunner> CreateSyncRunner(QObject*, TtasksSyncRunner::TFinished)
{
    return nullptr;
}
