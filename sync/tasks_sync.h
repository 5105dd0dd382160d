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

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>

struct TSyncConfig
{
    // The collection's address; empty when no sync is configured.
    QString url;
    QString user;
    QString password;
    // Per request; see TCalDavSettings.
    int timeoutMs = 60000;
    qint64 maxReplyBytes = 64ll * 1024 * 1024;
};

struct TSyncResult
{
    bool ok = false;
    // The error in words when not ok.
    QString error;
    // When the sync ended, local time.
    QDateTime finishedAt;
    int uploaded = 0;
    int downloaded = 0;
    int deletedRemote = 0;
    int deletedLocal = 0;
    int conflicts = 0;
    // One text per task that did not go through this time (refused by the
    // server, or a member that cannot be read), naming the task by its
    // summary; the others were synced. Not empty means not ok.
    QStringList itemErrors;
    // What the user should know of a sync that went through, in words:
    // a collection that was found empty or reset and was filled again.
    QString notice;
    // The local tasks the sync created, changed or deleted, for the window's rows.
    QStringList changedTaskIds;
};

// The conflict copy's summary begins with this.
QString ConflictPrefix();

// Runs one sync on the calling thread, which blocks until it ends; never the
// GUI thread. aStop, when given, ends the sync at the next step once set.
// Without a URL it does nothing and touches neither the network nor the
// database.
TSyncResult SyncOnce(const TSyncConfig& aConfig, const std::atomic<bool>* aStop = nullptr);

// The seam for the window: lives on a worker thread (moveToThread), runs
// Sync there and reports through Finished, a queued signal to the GUI.
class TSyncWorker : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Safe from any thread: a running sync ends at its next step.
    void Stop() { FStop = true; }

public Q_SLOTS:
    void Sync(const TSyncConfig& aConfig);

Q_SIGNALS:
    void Finished(const TSyncResult& aResult);

private:
    std::atomic<bool> FStop{false};
};

Q_DECLARE_METATYPE(TSyncConfig)
Q_DECLARE_METATYPE(TSyncResult)
