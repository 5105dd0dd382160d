#include "store/zdb.h"

#include "util/kvd_utils.h"

#include <QFile>
#include <sqlite3.h>

namespace {

QString EngineMessage(sqlite3* aHandle)
{
    return aHandle ? QString::fromUtf8(sqlite3_errmsg(aHandle)) : QStringLiteral("not connected");
}

// The engine's latest failure on aHandle as an error to raise. Taken before
// the statement is reset or finalised, which may change what the handle says.
EZSQLiteError EngineError(sqlite3* aHandle, const QString& aContext = QString())
{
    if (!aHandle)
        return EZSQLiteError(QStringLiteral("not connected"), SQLITE_MISUSE,
                             QStringLiteral("the database is not open"));
    const QString message = EngineMessage(aHandle);
    const int code = sqlite3_extended_errcode(aHandle);
    return EZSQLiteError(aContext.isEmpty() ? message : aContext + QStringLiteral(": ") + message,
                         code, SQLiteFailureReason(code, message, sqlite3_system_errno(aHandle)));
}

bool IsNameChar(QChar aChar)
{
    return aChar.isLetterOrNumber() || aChar == QLatin1Char('_');
}

} // namespace

// ---------------------------------------------------------------- reasons

QString SQLiteFailureReason(int aCode, const QString& aMessage, int aSystemError)
{
    // The operating system's words for a failed open, read or write, such as
    // "permission denied" or "no such file or directory".
    auto withSystemError = [aSystemError](const char* aWords) {
        QString words = QString::fromLatin1(aWords);
        if (aSystemError == 0)
            return words;
        QString system = qt_error_string(aSystemError);
        if (system.size() > 1 && system[1].isLower())
            system[0] = system[0].toLower();
        return words + QStringLiteral(" (") + system + QLatin1Char(')');
    };
    switch (aCode) {
    case SQLITE_READONLY_DIRECTORY:
        return QStringLiteral("the database folder is read-only");
    case SQLITE_READONLY_DBMOVED:
        return QStringLiteral("the database file was moved or deleted while the program ran");
    case SQLITE_CONSTRAINT_TRIGGER:
        // A trigger's RAISE gives its own text, written for whoever reads it.
        return aMessage.isEmpty() ? QStringLiteral("a rule of the database refused the change")
                                  : aMessage;
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
        return QStringLiteral("an entry with the same key is already stored");
    case SQLITE_CONSTRAINT_NOTNULL:
        return QStringLiteral("a required value is missing");
    default:
        break;
    }
    switch (aCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("the database is locked");
    case SQLITE_FULL:
        return QStringLiteral("the disk is full");
    case SQLITE_READONLY:
        return QStringLiteral("the database file is read-only");
    case SQLITE_CANTOPEN:
        return withSystemError("the database file cannot be opened");
    case SQLITE_IOERR:
        return withSystemError("the database file could not be read or written");
    case SQLITE_CORRUPT:
        return QStringLiteral("the database file is damaged");
    case SQLITE_NOTADB:
        return QStringLiteral("the file is not a database");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("access to the database is denied");
    case SQLITE_CONSTRAINT:
        return QStringLiteral("a rule of the database refused the change (%1)").arg(aMessage);
    case SQLITE_NOMEM:
        return QStringLiteral("there is not enough memory");
    case SQLITE_ERROR:
        // The engine's message ("no such table: x") says more than the code's
        // "SQL logic error".
        if (!aMessage.isEmpty())
            return aMessage;
        break;
    default:
        break;
    }
    return QString::fromUtf8(sqlite3_errstr(aCode));
}

QString FailureText(const QString& aWhat, const QString& aReason)
{
    if (aReason.isEmpty())
        return aWhat;
    QString text = aWhat + QStringLiteral("\n\nThe reason: ") + aReason;
    if (!text.endsWith(QLatin1Char('.')) && !text.endsWith(QLatin1Char('!')) &&
        !text.endsWith(QLatin1Char('?')))
        text += QLatin1Char('.');
    return text;
}

// ---------------------------------------------------------------- monitor

void TZSQLMonitor::Trace(const QString& aEvent)
{
    if (!Active || MaxTraceCount <= 0)
        return;
    FEvents.push_back(aEvent);
    while (static_cast<int>(FEvents.size()) > MaxTraceCount)
        FEvents.pop_front();
}

// ---------------------------------------------------------------- connection

TZConnection::~TZConnection()
{
    Disconnect();
}

void TZConnection::Connect()
{
    if (FHandle)
        return;
    const QString nativePath = NativePath(Database);
    // The engine would create a missing file readable by everyone (0644 less
    // the umask); the tasks are the user's own, so the file is created here
    // first, for the user alone. NewOnly leaves an existing file and its mode
    // as they are. The engine gives the journal the database file's mode.
    QFile created(nativePath);
    if (created.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        created.close();
    const QByteArray path = nativePath.toUtf8();
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(path.constData(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto fail = [&](const QString& aMessage, int aCode) {
        const int systemError = handle ? sqlite3_system_errno(handle) : 0;
        sqlite3_close_v2(handle);
        const QString reason = SQLiteFailureReason(aCode, aMessage, systemError);
        throw EZSQLiteError(
            FailureText(QStringLiteral("Cannot open database file \"%1\".").arg(Database), reason),
            aCode, reason);
    };
    if (rc != SQLITE_OK)
        fail(EngineMessage(handle), handle ? sqlite3_extended_errcode(handle) : rc);
    sqlite3_busy_timeout(handle, BusyTimeoutMs);
#ifdef SQLITE_DBCONFIG_DQS_DML
    // Statements compare ids with string literals in double quotes.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DDL, 1, nullptr);
#endif
    // Opening is lazy: reading the header is what tells a database from any
    // other file. It writes nothing, so a foreign file stays as it was.
    char* error = nullptr;
    if (sqlite3_exec(handle, "select count(*) from sqlite_master", nullptr, nullptr, &error) !=
        SQLITE_OK) {
        const QString message = QString::fromUtf8(error ? error : "unknown error");
        sqlite3_free(error);
        fail(message, sqlite3_extended_errcode(handle));
    }
    FHandle = handle;
    Trace(QStringLiteral("connect %1").arg(Database));
}

void TZConnection::Disconnect()
{
    if (!FHandle)
        return;
    sqlite3_close_v2(FHandle);
    FHandle = nullptr;
    Trace(QStringLiteral("disconnect %1").arg(Database));
}

bool TZConnection::AutoCommit() const
{
    return !FHandle || sqlite3_get_autocommit(FHandle) != 0;
}

void TZConnection::RaiseError(const QString& aContext) const
{
    throw EngineError(FHandle, aContext);
}

void TZConnection::NoteFailure(int aCode, const QString& aMessage)
{
    FLastError = aMessage;
    FLastErrorCode = aCode;
    FLastFailureReason =
        SQLiteFailureReason(aCode, aMessage, FHandle ? sqlite3_system_errno(FHandle) : 0);
}

bool TZConnection::ExecuteDirect(const QString& aSQL)
{
    if (!FHandle) {
        FLastError = QStringLiteral("Database connection is not open");
        FLastErrorCode = SQLITE_MISUSE;
        FLastFailureReason = QStringLiteral("the database is not open");
        return false;
    }
    Trace(aSQL);
    char* error = nullptr;
    const int rc = sqlite3_exec(FHandle, aSQL.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK) {
        FLastError.clear();
        FLastErrorCode = SQLITE_OK;
        FLastFailureReason.clear();
        return true;
    }
    NoteFailure(sqlite3_extended_errcode(FHandle),
                QString::fromUtf8(error ? error : sqlite3_errstr(rc)));
    sqlite3_free(error);
    return false;
}

void TZConnection::StartTransaction()
{
    if (!ExecuteDirect(QStringLiteral("BEGIN")))
        throw EZSQLiteError(FLastError, FLastErrorCode, FLastFailureReason);
}

void TZConnection::Commit()
{
    if (!ExecuteDirect(QStringLiteral("COMMIT")))
        throw EZSQLiteError(FLastError, FLastErrorCode, FLastFailureReason);
}

void TZConnection::Rollback()
{
    if (!ExecuteDirect(QStringLiteral("ROLLBACK")))
        throw EZSQLiteError(FLastError, FLastErrorCode, FLastFailureReason);
}

void TZConnection::Trace(const QString& aEvent)
{
    if (Monitor)
        Monitor->Trace(aEvent);
}

// ---------------------------------------------------------------- parameters

void TZParam::SetAsString(const QString& aValue)
{
    FKind = Kind::Text;
    FText = aValue;
}

void TZParam::SetAsInteger(int64_t aValue)
{
    FKind = Kind::Integer;
    FInteger = aValue;
}

void TZParam::SetAsDateTime(TDateTime aValue)
{
    FKind = Kind::DateTime;
    FDateTime = aValue;
}

void TZParam::Clear()
{
    FKind = Kind::Null;
}

QString TZParam::AsString() const
{
    switch (FKind) {
    case Kind::Text:
        return FText;
    case Kind::Integer:
        return QString::number(FInteger);
    case Kind::DateTime:
        return DateTimeToSqlText(FDateTime);
    case Kind::Null:
        break;
    }
    return QString();
}

int64_t TZParam::AsInteger() const
{
    switch (FKind) {
    case Kind::Text:
        return FText.toLongLong();
    case Kind::Integer:
        return FInteger;
    case Kind::DateTime:
        return static_cast<int64_t>(FDateTime);
    case Kind::Null:
        break;
    }
    return 0;
}

TDateTime TZParam::AsDateTime() const
{
    switch (FKind) {
    case Kind::Text:
        return SqlTextToDateTime(FText);
    case Kind::Integer:
        return static_cast<TDateTime>(FInteger);
    case Kind::DateTime:
        return FDateTime;
    case Kind::Null:
        break;
    }
    return 0;
}

TZParam& TZParams::CreateParam(TZFieldType aType, const QString& aName, TZParamType aParamType)
{
    auto param = std::make_unique<TZParam>();
    param->Name = aName;
    param->DataType = aType;
    param->ParamType = aParamType;
    FItems.push_back(std::move(param));
    return *FItems.back();
}

TZParam* TZParams::FindParam(const QString& aName)
{
    for (auto& item : FItems) {
        if (item->Name.compare(aName, Qt::CaseInsensitive) == 0)
            return item.get();
    }
    return nullptr;
}

TZParam& TZParams::ParamByName(const QString& aName)
{
    if (TZParam* param = FindParam(aName))
        return *param;
    throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(aName));
}

QStringList ParameterNames(const QString& aSQL)
{
    QStringList names;
    const qsizetype n = aSQL.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = aSQL[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            const qsizetype close = aSQL.indexOf(c, i + 1);
            if (close < 0)
                break;
            i = close;
        } else if (c == QLatin1Char('-') && i + 1 < n && aSQL[i + 1] == QLatin1Char('-')) {
            const qsizetype end = aSQL.indexOf(QLatin1Char('\n'), i);
            if (end < 0)
                break;
            i = end;
        } else if (c == QLatin1Char(':')) {
            if (i + 1 < n && aSQL[i + 1] == QLatin1Char(':')) {
                ++i;
                continue;
            }
            qsizetype end = i + 1;
            while (end < n && IsNameChar(aSQL[end]))
                ++end;
            if (end > i + 1) {
                const QString name = aSQL.mid(i + 1, end - i - 1);
                if (!names.contains(name, Qt::CaseInsensitive))
                    names << name;
            }
            i = end - 1;
        }
    }
    return names;
}

// ---------------------------------------------------------------- fields

bool TZField::IsNull() const
{
    return sqlite3_column_type(FStatement, FIndex) == SQLITE_NULL;
}

QString TZField::AsString() const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, FIndex));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(FStatement, FIndex));
}

int64_t TZField::AsInteger() const
{
    return sqlite3_column_int64(FStatement, FIndex);
}

TDateTime TZField::AsDateTime() const
{
    switch (sqlite3_column_type(FStatement, FIndex)) {
    case SQLITE_NULL:
        return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(FStatement, FIndex);
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, FIndex));
        return text ? SqlTextToDateTime(text, sqlite3_column_bytes(FStatement, FIndex)) : 0;
    }
    }
}

// ---------------------------------------------------------------- query

TZQuery::~TZQuery()
{
    Close();
    ReleaseExecStatement();
}

void TZQuery::ReleaseExecStatement()
{
    if (FExecStatement) {
        sqlite3_finalize(FExecStatement);
        FExecStatement = nullptr;
    }
    FExecSQL.clear();
}

void TZQuery::SetSQL(const QString& aSQL)
{
    Close();
    FSQL = aSQL;
    TZParams rebuilt;
    for (const QString& name : ParameterNames(aSQL)) {
        if (TZParam* old = FParams.FindParam(name)) {
            TZParam& param = rebuilt.CreateParam(old->DataType, name, old->ParamType);
            param.FKind = old->FKind;
            param.FText = old->FText;
            param.FInteger = old->FInteger;
            param.FDateTime = old->FDateTime;
        } else {
            rebuilt.CreateParam(TZFieldType::ftUnknown, name, TZParamType::ptInput);
        }
    }
    FParams.FItems = std::move(rebuilt.FItems);
}

sqlite3_stmt* TZQuery::Prepare()
{
    if (!Connection || !Connection->Connected())
        throw EDatabaseError(QStringLiteral("Database connection is not open"));
    sqlite3* db = Connection->Handle();
    Connection->Trace(FSQL);
    const QByteArray text = FSQL.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &statement,
                           nullptr) != SQLITE_OK)
        Connection->RaiseError(QString());
    if (!statement)
        throw EDatabaseError(QStringLiteral("Empty statement"));
    try {
        BindParams(statement);
    } catch (...) {
        sqlite3_finalize(statement);
        throw;
    }
    return statement;
}

void TZQuery::BindParams(sqlite3_stmt* aStatement)
{
    for (const auto& param : FParams.FItems) {
        const QByteArray name = ':' + param->Name.toUtf8();
        const int index = sqlite3_bind_parameter_index(aStatement, name.constData());
        if (index == 0)
            continue;
        int rc = SQLITE_OK;
        switch (param->FKind) {
        case TZParam::Kind::Null:
            rc = sqlite3_bind_null(aStatement, index);
            break;
        case TZParam::Kind::Integer:
            rc = sqlite3_bind_int64(aStatement, index, param->FInteger);
            break;
        case TZParam::Kind::Text:
        case TZParam::Kind::DateTime: {
            const QByteArray value = param->AsString().toUtf8();
            rc = sqlite3_bind_text(aStatement, index, value.constData(),
                                   static_cast<int>(value.size()), SQLITE_TRANSIENT);
            break;
        }
        }
        if (rc != SQLITE_OK)
            Connection->RaiseError(QString());
    }
}

void TZQuery::Step()
{
    const int rc = sqlite3_step(FStatement);
    if (rc == SQLITE_ROW) {
        FEof = false;
        return;
    }
    FEof = true;
    if (rc != SQLITE_DONE) {
        const EZSQLiteError error = EngineError(Connection->Handle());
        Close();
        throw error;
    }
}

void TZQuery::Open()
{
    Close();
    FStatement = Prepare();
    const int columns = sqlite3_column_count(FStatement);
    FColumnNames.clear();
    FColumnNames.reserve(columns);
    for (int i = 0; i < columns; ++i)
        FColumnNames << QString::fromUtf8(sqlite3_column_name(FStatement, i));
    FRowIndex = 0;
    Step();
}

void TZQuery::Close()
{
    if (FStatement) {
        sqlite3_finalize(FStatement);
        FStatement = nullptr;
    }
    FEof = true;
    FColumnNames.clear();
}

void TZQuery::ExecSQL()
{
    Close();
    // A statement run again and again with new values (a bulk insert) is
    // compiled once: the compiled form is kept while the text and the
    // connection stay the same, and only the values are bound anew.
    sqlite3_stmt* statement = nullptr;
    if (FExecStatement && FExecSQL == FSQL && Connection && Connection->Connected() &&
        sqlite3_db_handle(FExecStatement) == Connection->Handle()) {
        statement = FExecStatement;
        Connection->Trace(FSQL);
        sqlite3_clear_bindings(statement);
        BindParams(statement);
    } else {
        ReleaseExecStatement();
        statement = Prepare();
        FExecStatement = statement;
        FExecSQL = FSQL;
    }
    int rc;
    do
        rc = sqlite3_step(statement);
    while (rc == SQLITE_ROW);
    sqlite3* db = Connection->Handle();
    if (rc != SQLITE_DONE) {
        const EZSQLiteError error = EngineError(db);
        sqlite3_reset(statement);
        throw error;
    }
    FRowsAffected = sqlite3_changes(db);
    sqlite3_reset(statement);
}

void TZQuery::First()
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (FRowIndex == 0)
        return;
    // The engine's cursor only moves forward: start the statement again.
    sqlite3_reset(FStatement);
    FRowIndex = 0;
    Step();
}

void TZQuery::Next()
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (FEof)
        return;
    ++FRowIndex;
    Step();
}

TZField TZQuery::FieldByName(const QString& aName) const
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    // Exact spelling first, the common case, then without regard to case.
    const int count = static_cast<int>(FColumnNames.size());
    for (int i = 0; i < count; ++i) {
        if (FColumnNames[i] == aName)
            return TZField(FStatement, i);
    }
    for (int i = 0; i < count; ++i) {
        if (FColumnNames[i].compare(aName, Qt::CaseInsensitive) == 0)
            return TZField(FStatement, i);
    }
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(aName));
}
