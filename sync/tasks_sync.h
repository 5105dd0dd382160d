#pragma once

// Two-way sync of the local tasks with one CalDAV collection.
//
// Changes on the server are found by entity tags (through sync-collection
// where the server offers it), local changes by comparing each task with its
// fields as of the last sync (see tasks_sync_local.h). Per task, three ways:
// a change on one side goes to the other; changes on both sides are merged
// field by field; where both changed the same field to different values the
// server's value wins and the local task is kept as a copy whose summary
// begins with "Conflict: ".
//
// Each step can be repeated safely: the local state of an item is written
// only after the server confirmed it, and a repeated step finds equal values
// and converges, so a sync interrupted anywhere completes on the next run.

#include "sync/tasks_caldav.h"
#include "sync/tasks_sync_result.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>

class TtasksDB;

struct TSyncConfig
{
    // The collection's address as it was given; empty when no sync is
    // configured.
    QString url;
    // The account and the limits of each request; the sync gives the client
    // the collection made of url as its address.
    TCalDavSettings client;
};

// The conflict copy's summary begins with this.
QString ConflictPrefix();

// Runs one sync on the calling thread, which blocks until it ends; never the
// GUI thread. aStop, when given, ends the sync at the next step once set.
// Without a URL it does nothing and touches neither the network nor the
// database.
// The tasks are read and written on aStore (see tasks_sync_local.h).
TSyncResult SyncOnce(TtasksDB& aStore, const TSyncConfig& aConfig,
                     const std::atomic<bool>* aStop = nullptr);

// The seam for the window: lives on a worker thread (moveToThread), runs
// Sync there and reports through Finished, a queued signal to the GUI.
class TSyncWorker : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Safe from any thread: a running sync ends at its next step.
    void Stop() { FStop = true; }

    // Runs on the worker's thread; the caller keeps aStore for as long.
    void Sync(TtasksDB& aStore, const TSyncConfig& aConfig);

Q_SIGNALS:
    void Finished(const TSyncResult& aResult);

private:
    std::atomic<bool> FStop{false};
};
