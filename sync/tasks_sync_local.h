#pragma once

// The sync's side of the local store: the tasks as the sync sees them, and
// what it remembers of the last sync in two tables of its own beside the
// schema, made on the first sync of a database:
//   sync_items(taskid, href, etag, base, vtodo): per synced task, its member
//     on the server, the entity tag as last seen, and the canonical fields
//     both sides agreed on then (vtodo: the server's text, written by older
//     versions only; it stands for the task's object where the next table
//     holds none);
//   sync_state(key, value): the collection and its sync token.
// A database that never synced holds neither table. The object of each task
// as last stored on a server or read from a file, with its UID, lives in the
// import's table ical_tasks (ical/tasks_ics.h): one object per task, whatever
// the collection, so that a task goes to any collection whole.
//
// The rows of the tasks, tags and links are read and written through the
// store (TTaskRows) inside the transactions of this file, on the database
// the sync was given. Every read and write holds the store's lock briefly: a
// read of all tasks, or one transaction per batch of writes.

#include "ical/tasks_ics.h"
#include "store/tasks_store.h"
#include "sync/tasks_sync_vtodo.h"

#include <map>
#include <optional>
#include <vector>

struct TLocalTask
{
    QString taskid;
    // UTC "YYYY-MM-DD HH:MM:SS" as the store writes it.
    QString created;
    TSyncFields fields;
};

struct TSyncItem
{
    QString taskid;
    QString href;
    // Empty when the server sent none after a write: the next sync reads the
    // member again.
    QString etag;
    // TSyncFields::Canonical of the fields as of the last sync.
    QString base;
    QByteArray vtodo;
};

class TSyncLocal
{
public:
    explicit TSyncLocal(TtasksDB& aDB) : FDB(aDB) {}

    // Makes the tables where missing. When they hold the state of another
    // collection than aUrl, that state is forgotten, so nothing of it travels
    // to the new one. aToken is the stored sync token, empty when none.
    TStoreResult Open(const QString& aUrl, QString& aToken);
    TStoreResult SaveToken(const QString& aToken);
    // Other values of the collection's state ("restored": the members the
    // last sync put back into an emptied collection).
    TStoreResult ReadValue(const QString& aKey, QString& aValue);
    TStoreResult SaveValue(const QString& aKey, const QString& aValue);
    TStoreResult ReadTasks(std::map<QString, TLocalTask>& aTasks);
    TStoreResult ReadItems(std::vector<TSyncItem>& aItems);
    TStoreResult ReadMembers(std::vector<TIcsMember>& aMembers);

private:
    TtasksDB& FDB;
};

// Writes that belong together, for one task: its row (or its deletion) and
// its sync state, applied together or not at all.
struct TSyncWrite
{
    QString taskid;
    // The task's fields as this sync read them: the write is skipped when the
    // task changed since (an edit in the window meanwhile), so that no edit
    // is overwritten; the next sync takes it. Empty text: the task must not
    // exist. No value: no check.
    std::optional<QString> expected;
    // The new fields of the task, or its deletion.
    std::optional<TSyncFields> fields;
    QString created;
    bool deleteTask = false;
    std::optional<TSyncItem> item;
    bool dropItem = false;
    // The task's object as now stored on the server, or its removal.
    std::optional<TIcsMember> member;
    bool dropMember = false;
    // A new task written along with this one (the local side of a conflict).
    struct TCopy
    {
        QString taskid;
        TSyncFields fields;
    };
    std::optional<TCopy> conflictCopy;
};

// Collects writes and stores them in transactions of up to kBatchSize, so
// that the lock is held briefly and a large first sync commits rarely.
class TSyncBatch
{
public:
    static constexpr int kBatchSize = 100;

    explicit TSyncBatch(TtasksDB& aDB) : FDB(aDB) {}

    // Flushes by itself when the batch is full; false when that flush failed.
    TStoreResult Add(TSyncWrite aWrite);
    // Stores what was added. The ids of tasks written go to Written.
    TStoreResult Flush();
    const QStringList& Written() const { return FWritten; }
    int Skipped() const { return FSkipped; }

private:
    // Inserts or updates the task; aCurrent is its canonical text when known
    // (empty: not stored).
    bool WriteTask(TTaskRows& aRows, const QString& aId, const TSyncFields& aFields,
                   const QString& aCreated, const std::optional<QString>& aCurrent);
    // The ids of the tags of aTitle, made when there is none.
    bool TagsOf(TTaskRows& aRows, const QString& aTitle, QStringList& aIds);

    TtasksDB& FDB;
    std::vector<TSyncWrite> FWrites;
    QStringList FWritten;
    int FSkipped = 0;
    // The stored tags, read at the first flush, with those made since.
    std::optional<std::vector<TStoredTag>> FTags;
    // How many of them the flush under way found stored.
    size_t FTagsStored = 0;
};
