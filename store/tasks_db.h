#pragma once

#include "store/zdb.h"

#include <QString>
#include <memory>

// The single object through which the program reaches its task database. It
// opens the file named by the db_file setting on first use, creates the schema
// once per process, runs statements (each in a transaction of its own unless
// one is open) and serialises all of it with one re-entrant lock. Statement
// failures are logged and reported to the caller as false; only a database that
// cannot be opened raises.
class TtasksDB
{
public:
    TtasksDB();
    ~TtasksDB();
    TtasksDB(const TtasksDB&) = delete;
    TtasksDB& operator=(const TtasksDB&) = delete;

    bool IsConnected() const;
    // Raises EDatabaseError when the database cannot be opened.
    void Connect();
    void Disconnect();
    void CreateSchema();

    // Runs a statement without parameters or rows, up to three attempts.
    bool Exec(const QString& aSQL);
    // A new query bound to the connection; connects first.
    std::unique_ptr<TZQuery> NewQuery();
    // Runs aSQL through aQuery: opened when it yields rows, executed otherwise.
    // Connects first when the store is not connected.
    bool Query(const QString& aSQL, TZQuery* aQuery);

    bool StartTransaction();
    bool Commit();
    bool Rollback();

    bool SchemaCreated() const { return FSchemaCreated; }
    TZConnection& Connection() { return FConnection; }
    TZSQLMonitor& Monitor() { return FMonitor; }

private:
    TZConnection FConnection;
    TZSQLMonitor FMonitor;
    bool FSchemaCreated = false;
};

// The five statements of the schema, in the order they run.
extern const char* const kSchemaStatements[5];

TtasksDB* GetTasksDB();
// Closes and releases the store; the next GetTasksDB makes a new one. Tests use
// it to start again, and the program at exit.
void ReleaseTasksDB();

void LockDB();
void UnlockDB();

// Holds the store's lock for a scope.
class TDBLock
{
public:
    TDBLock() { LockDB(); }
    ~TDBLock() { UnlockDB(); }
    TDBLock(const TDBLock&) = delete;
    TDBLock& operator=(const TDBLock&) = delete;
};

// Whether SQL text is opened for rows (select without outfile, show, describe,
// explain) rather than executed. Plain prefix tests, ignoring case.
bool IsQueryStatement(const QString& aSQL);
