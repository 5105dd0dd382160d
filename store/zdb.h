#pragma once

// The store's thin access layer over the SQLite C API: a connection, a query
// with named parameters and a cursor over its rows, and an in-memory trace of
// the latest statements.

#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A failure of the engine itself. Besides the engine's message it carries the
// extended result code and the reason in words for the user. The log writes
// it like any other database error.
class EZSQLiteError : public EDatabaseError
{
public:
    EZSQLiteError(const QString& aMessage, int aCode, const QString& aReason)
        : EDatabaseError(aMessage), FCode(aCode), FReason(aReason)
    {
    }
    int Code() const { return FCode; }
    const QString& Reason() const { return FReason; }

private:
    int FCode;
    QString FReason;
};

// Why the engine refused, in words a user understands ("the database is
// locked", "the disk is full"), from its extended result code. aMessage is the
// engine's own message: it is the reason when a trigger refused with RAISE.
// aSystemError is the operating system's error number behind a failed open or
// read/write (0 when none), named in brackets.
QString SQLiteFailureReason(int aCode, const QString& aMessage, int aSystemError = 0);

// The one form of every store failure shown to a user: what failed, then the
// reason on a paragraph of its own, "<aWhat>\n\nThe reason: <aReason>." (no
// full stop added when the reason ends in one). Just aWhat when the reason is
// empty.
QString FailureText(const QString& aWhat, const QString& aReason);

enum class TZFieldType
{
    ftUnknown,
    ftString,
    ftInteger,
    ftDateTime
};

enum class TZParamType
{
    ptUnknown,
    ptInput
};

// Keeps the text of the latest statements the layer ran, MaxTraceCount at most.
// It never writes its file; the trace is there for a debugger or a test.
class TZSQLMonitor
{
public:
    QString FileName;
    bool Active = false;
    bool AutoSave = false;
    int MaxTraceCount = 100;

    void Trace(const QString& aEvent);
    const std::deque<QString>& Events() const { return FEvents; }

private:
    std::deque<QString> FEvents;
};

class TZConnection
{
public:
    TZConnection() = default;
    ~TZConnection();
    TZConnection(const TZConnection&) = delete;
    TZConnection& operator=(const TZConnection&) = delete;

    QString Protocol;
    QString Database;
    QStringList Properties;
    TZSQLMonitor* Monitor = nullptr;
    // How long a statement waits for a file that another process holds.
    int BusyTimeoutMs = 5000;

    // Opens the file and checks that it is an SQLite database; raises
    // EZSQLiteError naming the path and the reason when it cannot. A file it
    // creates is readable and writable by the user alone; an existing file
    // keeps its mode.
    void Connect();
    void Disconnect();
    bool Connected() const { return FHandle != nullptr; }
    bool AutoCommit() const;
    bool InTransaction() const { return !AutoCommit(); }

    // Each raises EZSQLiteError when the engine refuses.
    void StartTransaction();
    void Commit();
    void Rollback();
    // Runs SQL text without parameters or rows; false on failure (LastError,
    // LastErrorCode and LastFailureReason say why).
    bool ExecuteDirect(const QString& aSQL);
    const QString& LastError() const { return FLastError; }
    int LastErrorCode() const { return FLastErrorCode; }
    const QString& LastFailureReason() const { return FLastFailureReason; }

    sqlite3* Handle() const { return FHandle; }
    void Trace(const QString& aEvent);
    // Raises the engine's last error as EZSQLiteError.
    [[noreturn]] void RaiseError(const QString& aContext) const;

private:
    void NoteFailure(int aCode, const QString& aMessage);

    sqlite3* FHandle = nullptr;
    QString FLastError;
    int FLastErrorCode = 0;
    QString FLastFailureReason;
};

class TZParam
{
public:
    QString Name;
    TZFieldType DataType = TZFieldType::ftUnknown;
    TZParamType ParamType = TZParamType::ptInput;

    void SetAsString(const QString& aValue);
    void SetAsInteger(int64_t aValue);
    void SetAsDateTime(TDateTime aValue);
    void Clear();
    bool IsNull() const { return FKind == Kind::Null; }

    QString AsString() const;
    int64_t AsInteger() const;
    TDateTime AsDateTime() const;

private:
    friend class TZQuery;
    enum class Kind
    {
        Null,
        Text,
        Integer,
        DateTime
    };
    Kind FKind = Kind::Null;
    QString FText;
    int64_t FInteger = 0;
    TDateTime FDateTime = 0;
};

class TZParams
{
public:
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TZParam& operator[](int aIndex) { return *FItems[aIndex]; }
    TZParam& CreateParam(TZFieldType aType, const QString& aName, TZParamType aParamType);
    // Raises EDatabaseError when there is no such parameter.
    TZParam& ParamByName(const QString& aName);
    TZParam* FindParam(const QString& aName);

private:
    friend class TZQuery;
    std::vector<std::unique_ptr<TZParam>> FItems;
};

// One column of the current row; reads straight from the engine.
class TZField
{
public:
    TZField(sqlite3_stmt* aStatement, int aIndex) : FStatement(aStatement), FIndex(aIndex) {}
    bool IsNull() const;
    QString AsString() const;
    int64_t AsInteger() const;
    TDateTime AsDateTime() const;

private:
    sqlite3_stmt* FStatement;
    int FIndex;
};

class TZQuery
{
public:
    explicit TZQuery(TZConnection* aConnection = nullptr) : Connection(aConnection) {}
    ~TZQuery();
    TZQuery(const TZQuery&) = delete;
    TZQuery& operator=(const TZQuery&) = delete;

    TZConnection* Connection;

    // Assigning the text rebuilds the parameters from the names in it: values
    // set earlier are kept by name, parameters the text does not use are dropped.
    void SetSQL(const QString& aSQL);
    const QString& SQL() const { return FSQL; }
    TZParams& Params() { return FParams; }
    TZParam& ParamByName(const QString& aName) { return FParams.ParamByName(aName); }

    // Runs a statement with rows and puts the cursor on the first one.
    void Open();
    void Close();
    // Runs a statement to its end, discarding rows.
    void ExecSQL();
    bool Active() const { return FStatement != nullptr; }
    int RowsAffected() const { return FRowsAffected; }

    void First();
    void Next();
    bool Eof() const { return FEof; }
    // Raises EDatabaseError on a closed query or an unknown column.
    TZField FieldByName(const QString& aName) const;
    QStringList FieldNames() const { return FColumnNames; }

private:
    sqlite3_stmt* Prepare();
    void BindParams(sqlite3_stmt* aStatement);
    void ReleaseExecStatement();
    void Step();

    QString FSQL;
    TZParams FParams;
    sqlite3_stmt* FStatement = nullptr;
    // ExecSQL's compiled statement, kept for the next run of the same text.
    sqlite3_stmt* FExecStatement = nullptr;
    QString FExecSQL;
    QStringList FColumnNames;
    bool FEof = true;
    int FRowIndex = 0;
    int FRowsAffected = 0;
};

// The names of the ":name" parameters in SQL text, in order of first
// appearance, each once. Text inside quotes and "::" are not parameters.
QStringList ParameterNames(const QString& aSQL);
