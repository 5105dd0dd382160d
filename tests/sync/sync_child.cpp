// Runs one sync of a database file in a process of its own, so that a test
// can kill it midway:  sync_child DATABASE URL USER PASSWORD

#include "store/tasks_db.h"
#include "sync/tasks_sync.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 5)
        return 2;
    SetTasksDBFile(arguments[1]);
    TSyncConfig config;
    config.url = arguments[2];
    config.client.user = arguments[3];
    config.client.password = arguments[4];
    const TSyncResult result = SyncOnce(*GetTasksDB(), config);
    if (!result.ok)
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
    ReleaseTasksDB();
    return result.ok ? 0 : 1;
}
