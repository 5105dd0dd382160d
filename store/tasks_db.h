#pragma once

#include "store/zdb.h"

#include <QString>
#include <memory>

// The single object through which the program reaches its task database. It
// opens the file given to SetTasksDBFile on first use, creates the schema
// once per process, runs statements (each in a transaction of its own unless
// one is open) and serialises all of it with one re-entrant lock. Statement
// failures are logged and reported to the caller as false, with the reason in
// words kept for the message the caller shows; only a database that cannot be
// opened raises.
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

    // Why the latest failure of the current operation happened, in words
    // ("the database is locked", "the disk is full", a trigger's RAISE text);
    // empty when nothing failed. An operation is one statement outside a
    // transaction, a transaction from its start to its end, or a TDBOperation:
    // the reason is cleared as one begins, so a failure of an earlier one is
    // never given as the cause of a later one.
    QString LastFailureReason() const { return FLastFailureReason; }
    // aWhat followed by the reason of the latest failure (see FailureText).
    QString FailureMessage(const QString& aWhat) const;
    // Empty when the database file (or, before it exists, its folder) and its
    // folder can be written; otherwise why changes cannot be saved: "the
    // database file is read-only", "the database folder is read-only" or "the
    // database folder does not exist". Reading may still work.
    QString AccessProblem() const;

    bool SchemaCreated() const { return FSchemaCreated; }
    TZConnection& Connection() { return FConnection; }
    TZSQLMonitor& Monitor() { return FMonitor; }

private:
    friend class TDBOperation;
    // Clears the reason when a statement starts an operation of its own.
    void BeginStatement();
    void NoteFailure(const std::exception& aError);
    void NoteFailure(const QString& aReason) { FLastFailureReason = aReason; }

    TZConnection FConnection;
    TZSQLMonitor FMonitor;
    bool FSchemaCreated = false;
    QString FLastFailureReason;
    int FOperationDepth = 0;
};

// The five statements of the schema, in the order they run.
extern const char* const kSchemaStatements[5];

// The database file that the store opens at its next connect, as the settings
// write it: placeholders such as %APPDATA% are expanded then, and the missing
// folders above it are made. The store reads no settings of its own: the
// program gives its db_file setting once the settings are loaded, a test its
// own file. Until a file is given, Connect raises.
void SetTasksDBFile(const QString& aFileName);
// The file given last, as it was given; empty before the first.
QString TasksDBFile();

TtasksDB* GetTasksDB();
// Closes and releases the store; the next GetTasksDB makes a new one, which
// opens the same file. Tests use it to start again, and the program at exit.
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

// Holds the store's lock and makes the statements and transactions of its
// scope one operation for LastFailureReason: the reason is cleared when the
// outermost one begins and is not cleared again until it ends, so the cause of
// a failure in a series of statements that each commit on their own is still
// there at the end of the series.
class TDBOperation
{
public:
    // On the program's database (GetTasksDB), or on the one given.
    TDBOperation();
    explicit TDBOperation(TtasksDB& aDB);
    ~TDBOperation();
    TDBOperation(const TDBOperation&) = delete;
    TDBOperation& operator=(const TDBOperation&) = delete;

private:
    TDBLock FLock;
    TtasksDB* FDB;
};

// Whether SQL text is opened for rows (select without outfile, show, describe,
// explain) rather than executed. Plain prefix tests, ignoring case. The rule
// came with the data layer of a server database; SQLite knows no show,
// describe or outfile, so for it the rule means: a select or an explain is
// opened, and everything else, a common table expression or a pragma too, is
// executed and yields no rows. Every statement of the program is a plain
// select or a statement without rows.
bool IsQueryStatement(const QString& aSQL);
